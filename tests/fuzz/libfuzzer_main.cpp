// libFuzzer's entry for the one target this executable was built for (QARN_FUZZ_TARGET).
#include "fuzz_targets.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    for (const FuzzTarget &target : FuzzTargets()) {
        if (std::string(target.name) != QARN_FUZZ_TARGET)
            continue;
        const std::string failure =
            target.run(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
        if (failure.empty())
            return 0;
        std::fprintf(stderr, "invariant broken: %s\n", failure.c_str());
    }
    std::abort(); // a broken check, or no target of that name
}
