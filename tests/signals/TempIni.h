// A fresh INI file in a temporary folder of its own, removed afterwards.
#pragma once

#include "platform/inifile.h"

#include "TempDir.h"

#include <fstream>
#include <sstream>
#include <string>

class TempIni {
public:
    TempIni() : dir_("sig_test_"), file_(dir_.path() + "/conf.res") {}
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
    TempDir dir_;
    std::string file_;
};
