// Host functions as Lean values: a closure whose one fixed argument is an external object
// naming the host function and its types. Applying it writes the arguments as wire bytes,
// calls the host's `call` entry point and reads the result back; freeing it drops the
// closure's reference to the host function.
#include <array>
#include <new>
#include <utility>

#include "capi/host_entry_points.h"
#include "capi/value_record.h"
#include "closure/closure.h"
#include "object/external_class.h"
#include "object/header.h"
#include "wire/object_codec.h"

namespace quarn::capi {

namespace {

using closure::Value;

// What the closure's external object holds. The types have no type parameters.
struct HostFunctionData {
    const quarn_types *table;
    std::uint64_t id;
    Vector<TypeExpr> params;
    TypeExpr result;
};

void finalize_host_function(void *data) {
    auto *record = static_cast<HostFunctionData *>(data);
    release_host_function(record->id);
    delete record;
}

constexpr quarn_external_class kHostFunctionClass = {finalize_host_function, object::visit_nothing};

// Runs host function `self` on args[0 .. count - 1]. Consumes `self` and the arguments.
Value call_host_function(Value self, Value *args, std::size_t count) noexcept {
    const auto &record =
        *static_cast<const HostFunctionData *>(reinterpret_cast<quarn_external_object *>(self)->data);
    wire::ByteSink bytes;
    for (std::size_t i = 0; i < count; ++i) {
        wire::encode_object(record.table, record.params[i], args[i], bytes);
        quarn_dec(args[i]);
    }
    const HostEntryPoints *host = installed_host();
    if (host == nullptr) internal_panic(kNoHost);
    quarn_buffer output = QUARN_BUFFER_EMPTY;
    if (host->call(record.id, bytes.data(), bytes.length(), &output) != 0)
        internal_panic({"a host function passed to Lean failed: ", take_host_message(output)});
    Text error;
    Value result = wire::decode_object_exact(record.table, record.result, output.data, output.length,
                                             wire::HandleMode::Adopt, error);
    quarn_buffer_free(&output);
    if (result == nullptr)
        internal_panic({"a host function passed to Lean returned malformed data: ", error});
    quarn_dec(self);
    return result;
}

// The code of a host function closure of N parameters: a C function of the external object
// and N values, as every closure's code of arity N + 1 is.
template <typename Indices>
struct HostFunctionCode;

template <std::size_t... I>
struct HostFunctionCode<std::index_sequence<I...>> {
    static Value call(Value self, closure::ValueParameter<I>... given) noexcept {
        Value args[] = {given...};
        return call_host_function(self, args, sizeof...(I));
    }
};

// The parameter counts a function type allows, and so a host function closure.
constexpr std::size_t kMaxParameters = 15;

template <std::size_t... P>
std::array<void *, kMaxParameters> make_codes(std::index_sequence<P...>) noexcept {
    return {reinterpret_cast<void *>(&HostFunctionCode<std::make_index_sequence<P + 1>>::call)...};
}

// kCodes[n - 1]: the code for n parameters.
const std::array<void *, kMaxParameters> kCodes = make_codes(std::make_index_sequence<kMaxParameters>{});

}  // namespace

}  // namespace quarn::capi

namespace quarn::wire {

quarn_object *closure_of_host_function(const quarn_types *table,
                                       std::span<const capi::TypeExpr> function_type,
                                       std::uint64_t id, HandleMode mode) noexcept {
    std::size_t params = function_type.empty() ? 0 : function_type.size() - 1;
    if (params == 0 || params > capi::kMaxParameters)
        internal_panic({"a host function with ", decimal(static_cast<long long>(params)), " parameters"});
    if (capi::installed_host() == nullptr) internal_panic(capi::kNoHost);
    if (mode == HandleMode::Borrow) capi::retain_host_function(id);
    auto *data = new (std::nothrow) capi::HostFunctionData{
        table, id, {function_type.begin(), function_type.end() - 1}, function_type.back()};
    if (data == nullptr) internal_panic(kOutOfMemory);
    auto *external = reinterpret_cast<quarn_external_object *>(
        object::allocate_object(sizeof(quarn_external_object), QUARN_TAG_EXTERNAL));
    external->klass = &capi::kHostFunctionClass;
    external->data = data;
    // The closure holds the external object as its one fixed argument, so its arity is the
    // parameter count plus one.
    quarn_closure_object *c =
        closure::allocate_closure(capi::kCodes[params - 1], static_cast<unsigned>(params + 1), 1);
    c->args[0] = &external->header;
    return &c->header;
}

}  // namespace quarn::wire
