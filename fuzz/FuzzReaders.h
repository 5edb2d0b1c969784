#pragma once
// One run of the SER reader or the FITS reader on an arbitrary byte string
// presented as a file of that kind: open it (a refusal with a corvane::Error
// is a normal outcome), read its times and a few row ranges of the first,
// middle and last frames, and demosaic a window of a Bayer frame. The fuzzer
// calls them with mutated files; the test suite replays the kept inputs.
#include <cstddef>
#include <cstdint>

namespace corvane {

int corvaneFuzzSerInput(const uint8_t* data, std::size_t size);
int corvaneFuzzFitsInput(const uint8_t* data, std::size_t size);

} // namespace corvane
