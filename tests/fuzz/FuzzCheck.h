#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

// A broken promise of a parser is a crash, so that libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                                                \
    ((condition) ? void(0)                                                                                   \
                 : (std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition), std::abort()))

// A folder in memory for the targets that read and write files, made at first use, gone at exit.
inline const char* fuzzFolder() {
    static char path[] = "/dev/shm/kavrel-fuzz-XXXXXX";
    static const bool made =
        ::mkdtemp(path) != nullptr && std::atexit([] { std::filesystem::remove_all(fuzzFolder()); }) == 0;
    FUZZ_CHECK(made);
    return path;
}

// What the file name in that folder holds.
inline std::string fuzzFileText(const char* name) {
    std::ifstream in(std::string(fuzzFolder()) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
