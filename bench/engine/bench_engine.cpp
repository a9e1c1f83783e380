// Downloads and uploads a generated voice-mail-like tree through the fce* calls, from and to the
// test server on loopback, and prints files/s and MB/s for each direction.
//
//   bench_engine [--small N] [--big N] [--big-mib M] [--keep]
//
// Defaults: 2,000 small files (2 to 60 KiB, like messages and prompts) in one folder, and 4 files of
// 64 MiB in another.

#include "BenchServer.h"
#include "FtpEngine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Options {
    int smallFiles = 2000;
    int bigFiles = 4;
    int bigMiB = 64;
    bool keep = false;
};

struct Folder {
    std::string name;
    std::vector<std::string> files;
    int64_t bytes = 0;
};

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--small" && hasValue)
            options.smallFiles = std::atoi(argv[++i]);
        else if (arg == "--big" && hasValue)
            options.bigFiles = std::atoi(argv[++i]);
        else if (arg == "--big-mib" && hasValue)
            options.bigMiB = std::atoi(argv[++i]);
        else if (arg == "--keep")
            options.keep = true;
        else
            return false;
    }
    return options.smallFiles >= 0 && options.bigFiles >= 0 && options.bigMiB > 0;
}

void writeFile(const fs::path& path, size_t size, unsigned seed) {
    std::vector<char> bytes(size);
    unsigned state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Folder makeFolder(const fs::path& root, const std::string& name, int count, size_t (*sizeOf)(int)) {
    Folder folder{name, {}, 0};
    fs::create_directories(root / name);
    for (int i = 0; i < count; ++i) {
        char fileName[32];
        std::snprintf(fileName, sizeof(fileName), "M%05d.WAV", i);
        size_t size = sizeOf(i);
        writeFile(root / name / fileName, size, static_cast<unsigned>(i));
        folder.files.emplace_back(fileName);
        folder.bytes += static_cast<int64_t>(size);
    }
    return folder;
}

size_t smallSize(int index) {
    return 2048 + static_cast<size_t>(index * 7919) % (58 * 1024);
}

int bigMiB = 64;
size_t bigSize(int) {
    return static_cast<size_t>(bigMiB) * 1024 * 1024;
}

bool check(int32_t rc, const char* what) {
    if (rc >= 0)
        return true;
    char text[129] = {};
    fceErrorText(0, rc, text, 128);
    std::fprintf(stderr, "bench_engine: %s failed (%d): %s\n", what, rc, text);
    return false;
}

void report(const char* direction, const Folder& folder, double seconds) {
    double files = static_cast<double>(folder.files.size());
    double megabytes = static_cast<double>(folder.bytes) / 1e6;
    std::printf("%-8s %-6s %6zu files %9.1f MB in %7.3f s: %9.1f files/s %8.1f MB/s\n", direction,
                folder.name.c_str(), folder.files.size(), megabytes, seconds, files / seconds,
                megabytes / seconds);
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The road of a backup: root, the folder, its listing, then one RETR per file.
bool download(const Folder& folder, const fs::path& localRoot) {
    fs::path local = localRoot / folder.name;
    fs::create_directories(local);
    auto start = Clock::now();
    std::string listing;
    if (!check(fceSetServerDir(0, "\\"), "CWD /") || !check(fceSetServerDir(0, folder.name.c_str()), "CWD") ||
        !check(fceGetList(0, 1, listing), "listing") ||
        !check(fceSetLocalDir(0, local.c_str()), "local directory"))
        return false;
    for (const std::string& name : folder.files) {
        fceSetInteger(0, FCE_REPLACE_LOCAL, 1);
        if (!check(fceGetFile(0, name.c_str()), name.c_str()))
            return false;
    }
    report("download", folder, secondsSince(start));
    return true;
}

// The road of a restore: root, make and enter the folder, one STOR per file.
bool upload(const Folder& folder, const fs::path& localRoot) {
    auto start = Clock::now();
    std::string target = folder.name + "-UP";
    if (!check(fceSetServerDir(0, "\\"), "CWD /") || !check(fceMakeServerDir(0, target.c_str()), "MKD") ||
        !check(fceSetServerDir(0, target.c_str()), "CWD") ||
        !check(fceSetLocalDir(0, (localRoot / folder.name).c_str()), "local directory"))
        return false;
    for (const std::string& name : folder.files) {
        fceSetInteger(0, FCE_REPLACE_LOCAL, 1);
        if (!check(fcePutFile(0, name.c_str()), name.c_str()))
            return false;
    }
    report("upload", folder, secondsSince(start));
    return true;
}

int run(const Options& options, const fs::path& work) {
    fs::path serverRoot = work / "server";
    fs::path localRoot = work / "local";
    bigMiB = options.bigMiB;
    std::vector<Folder> folders;
    std::printf("Generating the tree in %s ...\n", work.c_str());
    if (options.smallFiles > 0)
        folders.push_back(makeFolder(serverRoot, "MSG", options.smallFiles, smallSize));
    if (options.bigFiles > 0)
        folders.push_back(makeFolder(serverRoot, "BIG", options.bigFiles, bigSize));

    BenchServer server;
    if (!server.start(serverRoot.string()))
        return 1;
    std::string address = "127.0.0.1:" + std::to_string(server.port());
    fceAttach(1);
    fceSetInteger(0, FCE_CONNECT_TIMEOUT_MS, 3000);
    bool ok = check(fceConnect(0, address.c_str(), "admin", "tamsk"), "connect") &&
              check(fceSetMode(0, 'B'), "TYPE I");
    for (const Folder& folder : folders)
        ok = ok && download(folder, localRoot);
    for (const Folder& folder : folders)
        ok = ok && upload(folder, localRoot);
    fceClose(0);
    fceRelease();
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: bench_engine [--small N] [--big N] [--big-mib M] [--keep]\n");
        return 2;
    }
    char pattern[] = "/tmp/bench_engine.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("bench_engine: mkdtemp");
        return 1;
    }
    fs::path work = pattern;
    int result = run(options, work);
    if (!options.keep)
        fs::remove_all(work);
    return result;
}
