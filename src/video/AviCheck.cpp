#include "video/AviCheck.h"

#include "common/Error.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace corvane {

namespace {

struct ChunkHeader {
    char id[4];
    uint32_t size;
    char type[4];
};

bool readHeader(std::ifstream& in, uint64_t pos, ChunkHeader& h) {
    unsigned char b[12];
    in.clear();
    in.seekg(static_cast<std::streamoff>(pos));
    if (!in.read(reinterpret_cast<char*>(b), sizeof b))
        return false;
    std::memcpy(h.id, b, 4);
    h.size = static_cast<uint32_t>(b[4]) | static_cast<uint32_t>(b[5]) << 8 |
             static_cast<uint32_t>(b[6]) << 16 | static_cast<uint32_t>(b[7]) << 24;
    std::memcpy(h.type, b + 8, 4);
    return true;
}

bool is(const char (&field)[4], const char* text) {
    return std::memcmp(field, text, 4) == 0;
}

} // namespace

void checkAviFile(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (path.empty() || !fs::exists(status))
        throw Error("File not found: " + path);
    if (fs::is_directory(status))
        throw Error("This is a folder, not a video file: " + path);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Error("File access denied: " + path);
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    if (end <= 0)
        throw Error("The file is empty: " + path);
    const uint64_t fileSize = static_cast<uint64_t>(end);
    ChunkHeader h{};
    if (!readHeader(in, 0, h) || !is(h.id, "RIFF") || !is(h.type, "AVI "))
        throw Error("Not an AVI, SER or FITS video (the file's format is not recognised): " + path);
    // An AVI is one RIFF part, or several (OpenDML files over 1 GB: "AVI "
    // then "AVIX" parts). A file that ends inside a part was cut short.
    uint64_t pos = 0;
    for (int parts = 0; parts < 100000; ++parts) {
        const uint64_t partEnd = pos + 8 + h.size + (h.size & 1);
        if (partEnd > fileSize + (h.size & 1))
            throw Error("The AVI file is truncated (" + std::to_string(fileSize) + " of " +
                        std::to_string(partEnd) + " bytes present): " + path);
        pos = partEnd;
        if (pos + 12 > fileSize || !readHeader(in, pos, h) || !is(h.id, "RIFF") ||
            !is(h.type, "AVIX"))
            break;
    }
}

} // namespace corvane
