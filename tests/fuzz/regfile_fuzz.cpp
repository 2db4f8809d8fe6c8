// libFuzzer entry for the regfile target; the body is shared with the replay test.
#include "fuzz/targets/FuzzMain.h"
#include "fuzz/targets/RegFileTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzztargets::fuzzRegFile(data, size);
    return 0;
}
