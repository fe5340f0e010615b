// The child object a spawn returns: the parent's ends of the piped standard streams as
// file handles (or the scalar 0), the process id and whether the child leads a new session.
#pragma once

#include <cstdint>
#include <cstring>

#include "quarn/object.h"

namespace quarn::process {

inline constexpr unsigned kChildStdin = 0, kChildStdout = 1, kChildStderr = 2;
inline constexpr unsigned kChildFields = 3;
// The scalars after the three fields: the 32-bit pid, then the new-session byte.
inline constexpr size_t kPidOffset = kChildFields * sizeof(quarn_object *);
inline constexpr size_t kNewSessionOffset = kPidOffset + sizeof(uint32_t);
inline constexpr size_t kChildScalarBytes = sizeof(uint32_t) + 1;

// A new child object. Consumes the three streams. Returns an owned reference.
inline quarn_object *make_child(quarn_object *in, quarn_object *out, quarn_object *err, uint32_t pid,
                                bool new_session) noexcept {
    quarn_object *child = quarn_alloc_ctor(0, kChildFields, kChildScalarBytes);
    quarn_ctor_set(child, kChildStdin, in);
    quarn_ctor_set(child, kChildStdout, out);
    quarn_ctor_set(child, kChildStderr, err);
    uint8_t *fields = reinterpret_cast<uint8_t *>(reinterpret_cast<quarn_ctor_object *>(child)->fields);
    std::memcpy(fields + kPidOffset, &pid, sizeof pid);
    fields[kNewSessionOffset] = new_session ? 1 : 0;
    return child;
}

// Borrows child.
inline uint32_t child_pid(const quarn_object *child) noexcept {
    uint32_t pid;
    std::memcpy(&pid, reinterpret_cast<const uint8_t *>(reinterpret_cast<const quarn_ctor_object *>(child)->fields) +
                          kPidOffset, sizeof pid);
    return pid;
}
inline bool child_new_session(const quarn_object *child) noexcept {
    return reinterpret_cast<const uint8_t *>(reinterpret_cast<const quarn_ctor_object *>(child)->fields)
               [kNewSessionOffset] != 0;
}

}  // namespace quarn::process
