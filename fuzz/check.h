#pragma once

#include <cstdlib>

// A broken property ends the run, where libFuzzer or the replay sees it.
inline void check(bool ok)
{
    if (!ok)
        std::abort();
}
