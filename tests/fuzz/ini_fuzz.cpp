// libFuzzer entry for the ini target; the body is shared with the replay test.
#include "fuzz/targets/FuzzMain.h"
#include "fuzz/targets/IniTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzztargets::fuzzIniReader(data, size);
    return 0;
}
