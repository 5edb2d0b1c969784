#pragma once
// The scratch file the fuzz targets hand their input to the readers through
// (they read files by path). Memory-backed /dev/shm keeps the write cheap for
// the fuzzer's thousands of runs a second; one file per process, so parallel
// fuzzing jobs do not share it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace corvane::fuzz {

// "<dir>/corvane-fuzz-<pid><suffix>".
inline std::string scratchPath(const std::string& suffix) {
    const char* dir = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/corvane-fuzz-" + std::to_string(getpid()) + suffix;
}

// Writes the bytes as the whole file; false when any of it fails.
inline bool writeFile(const std::string& path, const uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

} // namespace corvane::fuzz
