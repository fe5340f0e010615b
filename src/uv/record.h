// Records of the event loop's external objects (timers, sockets): allocated through the
// panicking allocator and wrapped in an external object marked multi-threaded, since the
// reactor thread touches both.
#pragma once

#include <new>
#include <utility>

#include "core/allocator.h"
#include "core/panic.h"
#include "object/header.h"
#include "quarn/object.h"

namespace quarn::uv {

template <typename Record, typename... Arguments>
Record *new_record(Arguments &&...arguments) noexcept {
    return new (PanicAllocator<Record>().allocate(1)) Record(std::forward<Arguments>(arguments)...);
}

template <typename Record>
void delete_record(Record *record) noexcept {
    record->~Record();
    PanicAllocator<Record>().deallocate(record, 1);
}

// A new external object of the class holding data, marked multi-threaded.
inline quarn_object *wrap_record(const quarn_external_class *klass, void *data) noexcept {
    auto *external = reinterpret_cast<quarn_external_object *>(
        object::allocate_object(sizeof(quarn_external_object), QUARN_TAG_EXTERNAL));
    external->klass = klass;
    external->data = data;
    quarn_mark_mt(&external->header);
    return &external->header;
}

// The record behind an external object of the class; anything else ends the process with
// the message.
template <typename Record>
Record &record_of(quarn_object *o, const quarn_external_class *klass, std::string_view message) noexcept {
    if (quarn_is_scalar(o) || o->tag != QUARN_TAG_EXTERNAL ||
        reinterpret_cast<quarn_external_object *>(o)->klass != klass)
        internal_panic(message);
    return *static_cast<Record *>(reinterpret_cast<quarn_external_object *>(o)->data);
}

// Values to release once the event loop lock is let go: declared before the guard, it
// ends after it.
class ReleaseAfterUnlock {
public:
    ReleaseAfterUnlock() noexcept = default;
    ReleaseAfterUnlock(const ReleaseAfterUnlock &) = delete;
    ReleaseAfterUnlock &operator=(const ReleaseAfterUnlock &) = delete;
    ~ReleaseAfterUnlock() {
        for (int i = 0; i < count_; ++i) quarn_dec(values_[i]);
    }
    void add(quarn_object *value) noexcept {
        if (value == nullptr) return;
        if (count_ == kCapacity) internal_panic(kUnreachable);
        values_[count_++] = value;
    }

private:
    static constexpr int kCapacity = 4;
    quarn_object *values_[kCapacity];
    int count_ = 0;
};

}  // namespace quarn::uv
