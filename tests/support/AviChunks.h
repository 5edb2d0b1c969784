#pragma once
// A small walker over the RIFF chunk tree of an AVI held in memory, so a test
// can find a header field by its place in the tree (the "strh" chunk of the
// first stream list, the "idx1" chunk, the third frame chunk in "movi") and
// patch it, instead of relying on byte offsets of one writer's output.
//
// Layout reminders (all little-endian):
//   RIFF 'AVI ' { LIST 'hdrl' { avih, LIST 'strl' { strh, strf, ... }, ... },
//                 LIST 'movi' { 00dc, 00dc, ... }, idx1 }
//   avih: +16 dwTotalFrames, +32 dwWidth, +36 dwHeight
//   strh: +0 fccType, +4 fccHandler, +20 dwScale, +24 dwRate, +32 dwLength
//   strf (video): BITMAPINFOHEADER, +4 biWidth, +8 biHeight, +16 biCompression
//   idx1: 16-byte entries { ckid, dwFlags, dwChunkOffset, dwChunkLength }
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::test {

struct AviChunk {
    std::string id;         // "avih", "00dc", "LIST", ...
    std::string listType;   // "hdrl", "movi", ... for RIFF and LIST; empty otherwise
    std::size_t header = 0; // offset of the chunk's id in the file
    std::size_t data = 0;   // offset of its data (after a list's type for lists)
    uint32_t size = 0;      // the size field as stored (a list's type included)
    int depth = 0;          // 0 for the RIFF chunk
};

inline uint32_t getU32(const std::vector<char>& b, std::size_t at) {
    if (at + 4 > b.size())
        throw std::out_of_range("read past the end of the test file");
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

inline void putU32(std::vector<char>& b, std::size_t at, uint32_t v) {
    if (at + 4 > b.size())
        throw std::out_of_range("write past the end of the test file");
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline void putTag(std::vector<char>& b, std::size_t at, const char* tag) {
    if (at + 4 > b.size())
        throw std::out_of_range("write past the end of the test file");
    std::memcpy(&b[at], tag, 4);
}

// Every chunk of the file in file order, lists before their contents.
// Parsing stops quietly at a chunk that runs past the end of the bytes.
inline std::vector<AviChunk> walkAvi(const std::vector<char>& b) {
    std::vector<AviChunk> out;
    struct Walker {
        const std::vector<char>& b;
        std::vector<AviChunk>& out;
        void walk(std::size_t pos, std::size_t end, int depth) {
            while (pos + 8 <= end) {
                AviChunk c;
                c.id.assign(&b[pos], 4);
                c.size = getU32(b, pos + 4);
                c.header = pos;
                c.data = pos + 8;
                c.depth = depth;
                const std::size_t next = pos + 8 + c.size + (c.size & 1);
                const bool isList = c.id == "RIFF" || c.id == "LIST";
                if (isList && pos + 12 <= end) {
                    c.listType.assign(&b[pos + 8], 4);
                    c.data = pos + 12;
                }
                out.push_back(c);
                if (isList)
                    walk(c.data, std::min(next, end), depth + 1);
                pos = next;
            }
        }
    };
    Walker{b, out}.walk(0, b.size(), 0);
    return out;
}

// The k-th chunk (from 0) with this id, or with this list type for lists.
inline AviChunk findChunk(const std::vector<char>& b, const std::string& idOrList, int k = 0) {
    for (const AviChunk& c : walkAvi(b))
        if ((c.id == idOrList || c.listType == idOrList) && k-- == 0)
            return c;
    throw std::runtime_error("no chunk " + idOrList + " in the test file");
}

// Frame chunks of stream 0 inside 'movi' ("00dc" compressed, "00db" raw).
inline std::vector<AviChunk> frameChunks(const std::vector<char>& b) {
    std::vector<AviChunk> frames;
    for (const AviChunk& c : walkAvi(b))
        if (c.id == "00dc" || c.id == "00db")
            frames.push_back(c);
    return frames;
}

} // namespace corvane::test
