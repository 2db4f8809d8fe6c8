// libFuzzer entry for the bitstream target; the body is shared with the replay test.
#include "fuzz/targets/BitstreamTarget.h"
#include "fuzz/targets/FuzzMain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzztargets::fuzzBitstream(data, size);
    return 0;
}
