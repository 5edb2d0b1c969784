#pragma once
// One run of the video source and both measuring methods on an arbitrary
// byte string presented as an AVI file. The fuzzer calls it with mutated
// files; the test suite replays the kept inputs through it, so an input that
// once crashed, hung or ate memory is checked on every build.
#include <cstddef>
#include <cstdint>

namespace corvane {

// Opens `data` as an AVI (a file refused with a corvane::Error is a normal
// outcome), reads its length in frames and in ms, seeks to a few frames,
// steps forward and back, clicks a pair and measures a frame with each
// method. Returns 0 (libFuzzer's convention); anything else escaping is a fault.
int corvaneFuzzOneInput(const uint8_t* data, std::size_t size);

} // namespace corvane
