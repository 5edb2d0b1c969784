// libFuzzer entry: every input goes through the same harness the replay test uses.
#include "FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::corvaneFuzzOneInput(data, size);
}
