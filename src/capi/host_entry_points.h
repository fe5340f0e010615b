// The host's entry points and the runtime's own C host.
//
// Every call from Lean code to the host, and every reference Lean takes or drops to a host
// function, goes through one set of three entry points installed once per process: either
// the host's own (quarn_set_host) or the C host's, which the first registration of a C
// function installs. The C host keeps a registry of its functions keyed by number under one
// mutex, held only for the map operation, never while host or Lean code runs.
#pragma once

#include <cstdint>
#include <string_view>

#include "capi/types.h"
#include "core/allocator.h"
#include "quarn/host.h"
#include "wire/signature.h"

namespace quarn::capi {

struct HostEntryPoints {
    quarn_host_call_entry call;
    quarn_host_retain_entry retain;
    quarn_host_release_entry release;
};

// The installed entry points, or null while none are. Installed entry points never change.
// Any thread.
const HostEntryPoints *installed_host() noexcept;

// The detail of every use of a host function while no entry points are installed.
inline constexpr std::string_view kNoHost = "no quarn host is installed to call host functions";

// One more reference to host function `id`, through the installed `retain`; without
// installed entry points the process ends with kNoHost.
void retain_host_function(std::uint64_t id) noexcept;

// Drops one reference to host function `id` through the installed `release`; nothing happens
// while no entry points are installed (no reference can have been taken).
void release_host_function(std::uint64_t id) noexcept;

// The failure message a host's `call` left in `output`, its invalid UTF-8 replaced; frees the
// buffer. A host that left it empty gives the empty text.
Text take_host_message(quarn_buffer &output);

// A C function registered with the C host. Immutable once registered, except the count,
// which only the registry touches.
struct CHostFunction {
    quarn_host_function function = nullptr;
    void *user_data = nullptr;
    quarn_host_finalizer finalizer = nullptr;
    const quarn_types *table = nullptr;
    wire::Signature signature;  // no type parameters
    std::uint64_t references = 1;
};

// Registers a C host function (the signature already checked against `table`) with one
// reference and returns its new number. Installs the C host on the first registration; when
// the host's own entry points came first, ends the process with "<function>: the quarn host
// entry points are already installed".
std::uint64_t register_c_host_function(std::string_view function, const quarn_types *table,
                                       wire::Signature signature, quarn_host_function code,
                                       void *user_data, quarn_host_finalizer finalizer) noexcept;

// The registration of `id`, or null when the C host is not the installed host or has no such
// number. The record stays valid while the caller holds one of its references (a function
// value, a Lean closure being applied, an extern's registration that is never released).
const CHostFunction *find_c_host_function(std::uint64_t id) noexcept;

// What a C host function returned: QUARN_OK with exactly a result, or QUARN_FAILED with
// exactly an error, both owned by the receiver.
struct CHostOutcome {
    int status;
    quarn_value *result;
    quarn_error *error;
};

// Runs the C function of `record` on `count` borrowed values and checks its outcome; any
// other pair of status and outputs ends the process with "a C host function returned ...",
// preceded by "<function>: " when `function` is not empty.
CHostOutcome run_c_host_function(const CHostFunction &record, const quarn_value *const *args,
                                 std::size_t count, std::string_view function) noexcept;

// The C host's `call` entry point: reads the arguments into host values, runs the C function
// and writes the outcome as the result block of its result description (c_host.cpp).
int c_host_call(std::uint64_t id, const std::uint8_t *args, std::size_t length,
                quarn_buffer *output) noexcept;

// Applies the Lean closure of handle `closure` (borrowed from the table) to the arguments in
// `args`, read in borrowing mode with the parameter types of `type` (a function type checked
// against `table`), and fills the empty buffer `output` with the result's wire bytes: 0.
// Arguments that cannot be read: 1 with the message in `output`. A handle that is not live
// ends the process with "<function>: {} is not a live handle".
int call_closure(std::string_view function, const quarn_types *table, std::uint64_t closure,
                 const TypeExpr &type, const std::uint8_t *args, std::size_t length,
                 quarn_buffer *output) noexcept;

}  // namespace quarn::capi
