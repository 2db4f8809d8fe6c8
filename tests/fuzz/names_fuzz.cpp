// libFuzzer entry for the names target; the body is shared with the replay test.
#include "fuzz/targets/FuzzMain.h"
#include "fuzz/targets/NamesTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzztargets::fuzzOutputNames(data, size);
    return 0;
}
