// New objects for the sharing passes: copies of constructors and arrays over new children,
// and copies of scalar arrays, strings and big numbers by value.
#pragma once

#include "quarn/object.h"

namespace quarn::share {

// A constructor or array like o (tag, `other`, scalar area; an array's size and capacity)
// whose object fields or elements are `children`, one owned reference each, taken over.
// Returns an owned reference.
quarn_object *copy_with_children(const quarn_object *o, quarn_object *const *children) noexcept;

// A scalar array, string or big number holding o's value in memory of its own: a big
// number gets its own digits, never a pointer into o's. Returns an owned reference.
quarn_object *copy_content(const quarn_object *o) noexcept;

}  // namespace quarn::share
