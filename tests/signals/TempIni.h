// A fresh INI file in a temporary folder of its own, removed afterwards.
#pragma once

#include "platform/inifile.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

class TempIni {
public:
    TempIni() {
        const char* tmp = std::getenv("TMPDIR");
        std::string base =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/sig_test_XXXXXX";
        if (::mkdtemp(base.data()) != nullptr)
            dir_ = base;
        file_ = dir_ + "/conf.res";
    }
    ~TempIni() {
        if (DIR* d = ::opendir(dir_.c_str())) {
            while (dirent* e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name != "." && name != "..")
                    ::unlink((dir_ + "/" + name).c_str());
            }
            ::closedir(d);
        }
        ::rmdir(dir_.c_str());
    }
    TempIni(const TempIni&) = delete;
    TempIni& operator=(const TempIni&) = delete;

    const std::string& file() const { return file_; }
    void put(const std::string& bytes) const { std::ofstream(file_, std::ios::binary) << bytes; }
    std::string content() const {
        std::ifstream in(file_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

private:
    std::string dir_;
    std::string file_;
};
