// IO.FS.Handle objects: external objects of the file-handle class, each holding one strong
// reference to a handle record.
#pragma once

#include "io/handle_record.h"
#include "quarn/object.h"

namespace quarn::io {

// A new handle object holding a reference to the record. Counts a heartbeat. Returns an
// owned reference.
quarn_object *make_handle_object(HandleRef record) noexcept;

// The record of a handle object. Anything that is not an external object of the
// file-handle class ends the process with "expected an IO.FS.Handle object". Borrows
// handle; the record lives at least as long as the caller's reference to it.
HandleRecord &record_of(quarn_object *handle) noexcept;

// The shared reference a handle object holds. Borrows handle.
const HandleRef &record_ref_of(quarn_object *handle) noexcept;

}  // namespace quarn::io
