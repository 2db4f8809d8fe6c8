// libFuzzer entry for the reader target; the body is shared with the replay test.
#include "fuzz/targets/FuzzMain.h"
#include "fuzz/targets/ReaderTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzztargets::fuzzReader(data, size);
    return 0;
}
