#include "object/heartbeat.h"

namespace quarn::object {

thread_local constinit uint64_t heartbeats __attribute__((tls_model("initial-exec"))) = 0;

}  // namespace quarn::object
