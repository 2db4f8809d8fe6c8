// libFuzzer entry for the filters target; the body is shared with the replay test.
#include "fuzz/targets/FiltersTarget.h"
#include "fuzz/targets/FuzzMain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzztargets::fuzzDialogFilters(data, size);
    return 0;
}
