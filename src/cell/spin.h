// Waiting for a word that another thread is about to give back.
#pragma once

#include <sched.h>

namespace quarn::cell {

// Pauses between tries of a spin loop. The holder of the awaited value normally gives it
// back within a few instructions, so most waits end after some pause instructions; when
// the holder has lost its processor (more threads than cores), every 64th try yields it.
class SpinWait {
public:
    void pause() noexcept {
        if (++tries_ % 64 == 0) {
            sched_yield();
        } else {
            __builtin_ia32_pause();
        }
    }

private:
    unsigned tries_ = 0;
};

}  // namespace quarn::cell
