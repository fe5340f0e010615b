#include "io/handle_object.h"

#include <new>

#include "core/allocator.h"
#include "core/panic.h"
#include "object/external_class.h"
#include "object/header.h"
#include "object/heartbeat.h"

namespace quarn::io {

namespace {

// The last reference to the handle object is gone: what it wrote goes out (an error has
// nobody left to report to), then the record loses this holder and, if it was the last,
// closes its descriptor.
void finalize_handle(void *data) noexcept {
    auto *ref = static_cast<HandleRef *>(data);
    {
        HandleLock lock(**ref);
        (*ref)->flush();
    }
    ref->~HandleRef();
    PanicAllocator<HandleRef>().deallocate(ref, 1);
}

}  // namespace

namespace detail {

const quarn_external_class handle_class = {&finalize_handle, &quarn::object::visit_nothing};

void not_a_handle() noexcept { internal_panic("expected an IO.FS.Handle object"); }

}  // namespace detail

quarn_object *make_handle_object(HandleRef record) noexcept {
    HandleRef *ref = PanicAllocator<HandleRef>().allocate(1);
    new (ref) HandleRef(std::move(record));
    object::count_heartbeat();
    auto *handle = reinterpret_cast<quarn_external_object *>(
        object::allocate_object(sizeof(quarn_external_object), QUARN_TAG_EXTERNAL));
    handle->klass = &detail::handle_class;
    handle->data = ref;
    return &handle->header;
}

}  // namespace quarn::io
