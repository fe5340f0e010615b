// Helpers shared by the host-function tests: the program's table, generated signatures and
// type expressions byte by byte, and the Lean side of a host function as compiled code
// receives it.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "capi/handle_table.h"
#include "capi/types.h"
#include "capi/value_record.h"
#include "quarn/entry.h"
#include "quarn/host.h"
#include "quarn/quarn.h"
#include "table_bytes.h"
#include "testing.h"
#include "wire/object_codec.h"
#include "wire/type_decode.h"
#include "wire/value_codec.h"

namespace host_test {

// A program whose table has no definitions: every type here is built from the kinds.
inline const quarn_types *empty_table() {
    static const quarn_types *table = [] {
        kit::Bytes bytes;
        bytes.header(0);
        return quarn_types_load(bytes.data.data(), bytes.data.size());
    }();
    return table;
}

inline std::vector<uint8_t> type_bytes(uint8_t kind) { return {kind}; }

// Function{params, result} over kinds without payload.
inline kit::Bytes function_type(std::initializer_list<uint8_t> params, uint8_t result) {
    kit::Bytes b;
    b.u8(QUARN_KIND_FUNCTION).u32(static_cast<uint32_t>(params.size()));
    for (uint8_t p : params) b.u8(p);
    return b.u8(result);
}

// A generated signature without type parameters. `result` is the result description: the
// kind byte and its types.
inline std::vector<uint8_t> signature(std::initializer_list<uint8_t> params, const kit::Bytes &result) {
    kit::Bytes b;
    b.u32(0).u32(static_cast<uint32_t>(params.size()));
    for (uint8_t p : params) b.u8(p);
    b.append(result);
    return b.data;
}
inline kit::Bytes pure(uint8_t value) { return kit::Bytes().u8(0).u8(value); }
inline kit::Bytes io(uint8_t value) { return kit::Bytes().u8(1).u8(value); }
inline kit::Bytes eio(uint8_t error, uint8_t value) { return kit::Bytes().u8(2).u8(error).u8(value); }

inline quarn::capi::TypeExpr decode_type(const kit::Bytes &bytes) {
    quarn::wire::Reader reader(bytes.data.data(), bytes.data.size());
    quarn::capi::TypeExpr type;
    EXPECT_TRUE(quarn::wire::decode_type_expr(reader, type)) << reader.error();
    return type;
}

// The Lean closure compiled code receives for host function `id` passed at the function
// type: decoded from the wire bytes 01 <id> in the given handle mode.
inline quarn_object *lean_host_function(uint64_t id, const kit::Bytes &type,
                                        quarn::wire::HandleMode mode = quarn::wire::HandleMode::Borrow) {
    kit::Bytes bytes;
    bytes.u8(1).u64(id);
    quarn::Text error;
    quarn_object *f = quarn::wire::decode_object_exact(empty_table(), decode_type(type), bytes.data.data(),
                                                       bytes.data.size(), mode, error);
    EXPECT_NE(f, nullptr) << error;
    return f;
}

inline bool is_live(uint64_t handle) {
    std::optional<quarn_object *> o = quarn::capi::borrow_handle(handle);
    if (o) quarn_dec(*o);
    return o.has_value();
}

// The value of a Nat argument that fits in 64 bits.
inline uint64_t nat_of(const quarn_value *v) {
    uint64_t n = 0;
    EXPECT_EQ(quarn_value_get_nat(v, &n), 1);
    return n;
}

inline std::string string_of(const quarn_value *v) {
    size_t length = 0;
    const char *s = quarn_value_get_string(v, &length);
    return std::string(s, length);
}

// n * 2 for a Nat -> Nat host function.
inline int double_nat(void *, const quarn_value *const *args, size_t, quarn_value **result, quarn_error **) {
    *result = quarn_value_nat(nat_of(args[0]) * 2);
    return QUARN_OK;
}

}  // namespace host_test
