/* libFuzzer's start-up hook, the same for every target (fuzz_support.h). */
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    wksfuzz::init_once();
    return 0;
}
