// This module's own file, and loading libraries by path.
#pragma once

#include <string>

namespace platform {

// Full path of the shared library (or program) that contains this code.
std::string modulePath();
// The platform's path separator and the file name of a library called `base`.
char pathSeparator();
std::string libraryFileName(const std::string& base);

// A library loaded by path; unloaded when closed or destroyed.
class Library {
public:
    Library() = default;
    ~Library() { close(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    Library(Library&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Library& operator=(Library&& other) noexcept;

    // False when the library cannot be loaded; error() then tells why.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return handle_ != nullptr; }
    // The address of an exported symbol, or null.
    void* symbol(const char* name) const;
    const std::string& error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string error_;
};

} // namespace platform
