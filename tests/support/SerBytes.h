#pragma once
// Offsets of the SER header's fields and little helpers to patch them in the
// bytes of a file the simulator wrote, for tests of damaged and odd files.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane::test::ser {

inline constexpr std::size_t kColorId = 18;
inline constexpr std::size_t kLittleEndian = 22;
inline constexpr std::size_t kWidth = 26;
inline constexpr std::size_t kHeight = 30;
inline constexpr std::size_t kDepth = 34;
inline constexpr std::size_t kFrameCount = 38;
inline constexpr std::size_t kDateTimeUtc = 170;
inline constexpr std::size_t kHeaderSize = 178;

inline void put32(std::vector<char>& b, std::size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] =
            static_cast<char>(static_cast<uint32_t>(v) >> (8 * i));
}

inline void put64(std::vector<char>& b, std::size_t at, int64_t v) {
    for (int i = 0; i < 8; ++i)
        b[at + static_cast<std::size_t>(i)] =
            static_cast<char>(static_cast<uint64_t>(v) >> (8 * i));
}

inline int64_t get64(const std::vector<char>& b, std::size_t at) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | static_cast<uint8_t>(b[at + static_cast<std::size_t>(i)]);
    return static_cast<int64_t>(v);
}

} // namespace corvane::test::ser
