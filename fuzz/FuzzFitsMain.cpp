// libFuzzer entry for the FITS reader (cfitsio underneath).
#include "FuzzReaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::corvaneFuzzFitsInput(data, size);
}
