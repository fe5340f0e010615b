// The explicit stack of the release and marking walks: the first slots live inside the
// object, more come from the runtime heap on demand, so short walks never allocate and long
// chains never recurse.
#pragma once

#include <cstddef>

#include "object/heap.h"
#include "quarn/object.h"

namespace quarn::object {

class ObjectStack {
public:
    ObjectStack() noexcept = default;
    ObjectStack(const ObjectStack &) = delete;
    ObjectStack &operator=(const ObjectStack &) = delete;
    ~ObjectStack() {
        if (slots_ != inline_slots_) free_bytes(slots_);
    }

    bool empty() const noexcept { return size_ == 0; }

    void push(quarn_object *o) noexcept {
        if (size_ == capacity_) grow();
        slots_[size_++] = o;
    }

    quarn_object *pop() noexcept { return slots_[--size_]; }

private:
    static constexpr size_t kInlineSlots = 32;

    void grow() noexcept {
        size_t bigger = capacity_ * 2;
        size_t bytes = bigger * sizeof(quarn_object *);
        if (slots_ == inline_slots_) {
            auto *heap_slots = static_cast<quarn_object **>(allocate_bytes(bytes));
            for (size_t i = 0; i < size_; ++i) heap_slots[i] = slots_[i];
            slots_ = heap_slots;
        } else {
            slots_ = static_cast<quarn_object **>(
                reallocate_bytes(slots_, bytes));
        }
        capacity_ = bigger;
    }

    quarn_object *inline_slots_[kInlineSlots];
    quarn_object **slots_ = inline_slots_;
    size_t size_ = 0;
    size_t capacity_ = kInlineSlots;
};

}  // namespace quarn::object
