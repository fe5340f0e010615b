// For tests: what the reactor does when a UDP socket's descriptor is reported ready, on a
// socket whose descriptor may have nothing to read (a wake-up that finds nothing).
#pragma once

#include "quarn/object.h"

namespace quarn::uv::detail {

void udp_ready(quarn_object *socket, bool readable, bool writable) noexcept;

}  // namespace quarn::uv::detail
