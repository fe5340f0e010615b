// Helpers for the codec tests: type expressions written compactly, and encoding and decoding
// through byte vectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capi/types.h"
#include "table_bytes.h"
#include "wire/object_codec.h"

namespace codec {

using quarn::capi::Kind;
using quarn::capi::TypeExpr;

inline TypeExpr simple(Kind kind) { return TypeExpr{kind, 0, {}}; }
inline TypeExpr of(Kind kind, std::initializer_list<TypeExpr> children, uint32_t index = 0) {
    TypeExpr t{kind, index, {}};
    for (const TypeExpr &c : children) t.children.push_back(c);
    return t;
}
inline TypeExpr option(TypeExpr e) { return of(Kind::Option, {e}); }
inline TypeExpr list(TypeExpr e) { return of(Kind::List, {e}); }
inline TypeExpr array(TypeExpr e) { return of(Kind::Array, {e}); }
inline TypeExpr prod(TypeExpr a, TypeExpr b) { return of(Kind::Prod, {a, b}); }
inline TypeExpr except(TypeExpr e, TypeExpr v) { return of(Kind::Except, {e, v}); }
inline TypeExpr inductive(uint32_t index, std::initializer_list<TypeExpr> args = {}) {
    return of(Kind::Inductive, args, index);
}

inline std::vector<uint8_t> encode(const quarn_types *table, const TypeExpr &type, quarn_object *o) {
    quarn::wire::ByteSink sink;
    quarn::wire::encode_object(table, type, o, sink);
    return std::vector<uint8_t>(sink.data(), sink.data() + sink.length());
}

// The decoded object, or null with the message in `error`.
inline quarn_object *decode(const quarn_types *table, const TypeExpr &type, const std::vector<uint8_t> &bytes,
                            std::string &error,
                            quarn::wire::HandleMode mode = quarn::wire::HandleMode::Borrow) {
    quarn::Text message;
    quarn_object *o = quarn::wire::decode_object_exact(table, type, bytes.data(), bytes.size(), mode, message);
    error = std::string(message);
    return o;
}

inline std::string decode_error(const quarn_types *table, const TypeExpr &type, const std::vector<uint8_t> &bytes) {
    std::string error;
    quarn_object *o = decode(table, type, bytes, error);
    if (o != nullptr) {
        quarn_dec(o);
        return "(decoded)";
    }
    return error;
}

}  // namespace codec
