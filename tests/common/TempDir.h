// A fresh folder of its own in the system's temporary folder, removed with
// everything in it afterwards.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

class TempDir {
public:
    explicit TempDir(const std::string& prefix) {
        namespace fs = std::filesystem;
        static std::atomic<unsigned> counter{0};
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path p =
                base / (prefix + std::to_string(stamp) + "_" + std::to_string(++counter));
            if (fs::create_directory(p, ec)) {
                path_ = p.string();
                break;
            }
        }
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) {
            std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
            std::filesystem::remove_all(path_, ec);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Empty when no folder could be made.
    const std::string& path() const { return path_; }
    int fileCount() const {
        std::error_code ec;
        int n = 0;
        for (auto it = std::filesystem::directory_iterator(path_, ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
            ++n;
        return n;
    }

private:
    std::string path_;
};
