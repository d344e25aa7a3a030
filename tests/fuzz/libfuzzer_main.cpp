// libFuzzer's entry for one target, chosen when the executable is built.

#include "fuzz_targets.h"

#include <cstdio>
#include <cstdlib>

#ifndef QARN_FUZZ_TARGET
#error "QARN_FUZZ_TARGET names the target this executable runs"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const FuzzTarget *target = FindFuzzTarget(QARN_FUZZ_TARGET);
    if (!target) {
        std::fprintf(stderr, "no fuzz target named %s\n", QARN_FUZZ_TARGET);
        std::abort();
    }
    const std::string failure = target->run(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
