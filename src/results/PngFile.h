#pragma once
// A picture saved as a PNG file: 8-bit RGB, stored without compression, so
// that no image library is needed to write one.
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

// `rgb` holds 3 bytes a pixel, row by row from the top. Throws Error naming
// the file when it cannot be written.
void writePng(const std::string& path, int32_t width, int32_t height,
              const std::vector<uint8_t>& rgb);

// The file's bytes.
std::vector<uint8_t> pngBytes(int32_t width, int32_t height, const std::vector<uint8_t>& rgb);

} // namespace corvane
