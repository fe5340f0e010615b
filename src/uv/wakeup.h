// The reactor's wake-up channel: two non-blocking, close-on-exec UDP sockets on 127.0.0.1,
// the sender connected to the receiver. One byte sent makes the receiver readable and ends
// the reactor's poll.
#pragma once

#include <atomic>

#include "io/unique_fd.h"

namespace quarn::uv {

class WakeupChannel {
public:
    // Sets both sockets up; a failure is the internal panic with the step that failed.
    WakeupChannel() noexcept;

    int receiver() const noexcept { return receiver_.get(); }

    // Sends one byte unless one is already on its way. A failed send is ignored: a full
    // socket buffer means the receiver is readable anyway. Any thread.
    void wake() noexcept;

    // Empties the receiver, then lets the next wake() send again. The reactor thread,
    // under the event loop lock, after its poll saw the receiver readable.
    void drain() noexcept;

private:
    io::UniqueFd sender_;
    io::UniqueFd receiver_;
    // A byte was sent and is not drained yet: later wakes have nothing to add.
    std::atomic<bool> pending_{false};
};

}  // namespace quarn::uv
