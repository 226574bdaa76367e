#pragma once

#include <cstdlib>

namespace qmr {

// A broken invariant in a harness: abort, so libFuzzer (and the replay test) report the input.
inline void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace qmr
