// Helpers for the classes of the runtime's external objects.
#pragma once

#include "quarn/object.h"

namespace quarn::object {

// The `foreach` of a class whose data holds no Lean value that marking must reach (none at
// all, or only values made multi-threaded before they were stored).
inline void visit_nothing(void *, void (*)(quarn_object *, void *), void *) noexcept {}

}  // namespace quarn::object
