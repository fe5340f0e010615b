// The count of live objects that the test suite's build keeps to find leaks and double
// frees. The shipped library is compiled without it.
#ifdef QUARN_TRACK_LIVE_OBJECTS

#include <atomic>

#include "object/heap.h"

namespace quarn::object {

namespace {
std::atomic<int64_t> live_count{0};
}  // namespace

void detail::count_live_objects(int64_t delta) noexcept {
    live_count.fetch_add(delta, std::memory_order_relaxed);
}

int64_t live_objects() noexcept { return live_count.load(std::memory_order_relaxed); }

}  // namespace quarn::object

#endif
