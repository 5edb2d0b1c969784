#include "results/PngFile.h"

#include "common/Error.h"

#include <algorithm>
#include <array>
#include <fstream>

namespace corvane {

namespace {

uint32_t crc32(const uint8_t* data, std::size_t size, uint32_t crc = 0xFFFFFFFFu) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<uint8_t>(v >> s));
}

void chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    put32(out, static_cast<uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, crc32(out.data() + start, out.size() - start) ^ 0xFFFFFFFFu);
}

// The rows, each after its filter byte (none), as zlib data of stored blocks.
std::vector<uint8_t> storedZlib(const std::vector<uint8_t>& raw) {
    constexpr std::size_t kBlock = 65535;
    std::vector<uint8_t> z = {0x78, 0x01};
    std::size_t pos = 0;
    do {
        const std::size_t len = std::min(kBlock, raw.size() - pos);
        const bool last = pos + len == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<uint8_t>(len & 0xFF));
        z.push_back(static_cast<uint8_t>(len >> 8));
        z.push_back(static_cast<uint8_t>(~len & 0xFF));
        z.push_back(static_cast<uint8_t>((~len >> 8) & 0xFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                 raw.begin() + static_cast<std::ptrdiff_t>(pos + len));
        pos += len;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0; // Adler-32
    for (uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, (b << 16) | a);
    return z;
}

} // namespace

std::vector<uint8_t> pngBytes(int32_t width, int32_t height, const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put32(header, static_cast<uint32_t>(width));
    put32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB, no interlace
    chunk(out, "IHDR", header);
    std::vector<uint8_t> raw;
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
    raw.reserve((rowBytes + 1) * static_cast<std::size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        const auto row = rgb.begin() + static_cast<std::ptrdiff_t>(rowBytes * y);
        raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
    }
    chunk(out, "IDAT", storedZlib(raw));
    chunk(out, "IEND", {});
    return out;
}

void writePng(const std::string& path, int32_t width, int32_t height,
              const std::vector<uint8_t>& rgb) {
    if (width <= 0 || height <= 0 ||
        rgb.size() != 3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        throw Error("The image for " + path + " has no pixels");
    const std::vector<uint8_t> bytes = pngBytes(width, height, rgb);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file)
        throw Error("The image cannot be written to " + path);
}

} // namespace corvane
