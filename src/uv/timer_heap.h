// The reactor's timer heap: entries ordered by deadline, then the sequence number stamped
// when they were pushed, then timer id and generation, smallest first. Sequence numbers
// are unique, so entries due at the same instant come out in the order they were pushed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <tuple>

#include "core/allocator.h"
#include "uv/monotonic.h"

namespace quarn::uv {

struct TimerEntry {
    uint64_t sequence;
    uint64_t timer_id;
    uint64_t generation;
    Instant deadline;
};

class TimerHeap {
public:
    bool empty() const noexcept { return entries_.empty(); }
    size_t size() const noexcept { return entries_.size(); }

    // The earliest entry; the heap is not empty.
    const TimerEntry &earliest() const noexcept { return entries_.front(); }

    // Pushes an entry stamped with the next sequence number.
    void push(uint64_t timer_id, uint64_t generation, Instant deadline) noexcept {
        entries_.push_back({next_sequence_++, timer_id, generation, deadline});
        std::push_heap(entries_.begin(), entries_.end(), Later{});
    }

    // The sequence number the next push will get.
    uint64_t next_sequence() const noexcept { return next_sequence_; }

    // Removes and returns the earliest entry; the heap is not empty.
    TimerEntry pop() noexcept {
        std::pop_heap(entries_.begin(), entries_.end(), Later{});
        TimerEntry entry = entries_.back();
        entries_.pop_back();
        return entry;
    }

private:
    // The standard heap keeps its largest element first: "largest" here is the earliest.
    struct Later {
        bool operator()(const TimerEntry &a, const TimerEntry &b) const noexcept {
            return std::tie(a.deadline, a.sequence, a.timer_id, a.generation) >
                   std::tie(b.deadline, b.sequence, b.timer_id, b.generation);
        }
    };

    Vector<TimerEntry> entries_;
    uint64_t next_sequence_ = 0;
};

}  // namespace quarn::uv
