// libFuzzer entry for the SER reader.
#include "FuzzReaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::corvaneFuzzSerInput(data, size);
}
