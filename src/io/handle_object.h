// IO.FS.Handle objects: external objects of the file-handle class, each holding one strong
// reference to a handle record.
#pragma once

#include "io/handle_record.h"
#include "quarn/object.h"

namespace quarn::io {

// A new handle object holding a reference to the record. Counts a heartbeat. Returns an
// owned reference.
quarn_object *make_handle_object(HandleRef record) noexcept;

namespace detail {
extern const quarn_external_class handle_class;
[[noreturn, gnu::cold]] void not_a_handle() noexcept;
}  // namespace detail

// The shared reference a handle object holds. Anything that is not an external object of
// the file-handle class ends the process with "expected an IO.FS.Handle object". Borrows
// handle.
inline const HandleRef &record_ref_of(quarn_object *handle) noexcept {
    if (quarn_is_scalar(handle) || handle->tag != QUARN_TAG_EXTERNAL) [[unlikely]]
        detail::not_a_handle();
    auto *external = reinterpret_cast<quarn_external_object *>(handle);
    if (external->klass != &detail::handle_class) [[unlikely]]
        detail::not_a_handle();
    return *static_cast<HandleRef *>(external->data);
}

// The record of a handle object, checked as above. Borrows handle; the record lives at
// least as long as the caller's reference to it.
inline HandleRecord &record_of(quarn_object *handle) noexcept { return *record_ref_of(handle); }

}  // namespace quarn::io
