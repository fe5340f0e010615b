// The host's type handles: constructors, clone and free, and loading a type table.
#include <new>

#include "capi/fatal.h"
#include "capi/type_expr.h"
#include "capi/types.h"
#include "wire/type_table.h"

namespace quarn::capi {

namespace {

quarn_type *new_type(TypeExpr &&expr, const quarn_types *table) noexcept {
    auto *type = new (std::nothrow) quarn_type{std::move(expr), table};
    if (type == nullptr) internal_panic(kOutOfMemory);
    return type;
}

// The table that several handles agree on: none, or the one table that every handle with a
// table refers to.
class TableAgreement {
public:
    TableAgreement(std::string_view function, const quarn_types *start = nullptr)
        : function_(function), table_(start) {}

    void add(const quarn_type *type) noexcept {
        not_null(type, function_);
        if (type->table == nullptr) return;
        if (table_ != nullptr && table_ != type->table) fatal(function_, "types of different programs");
        table_ = type->table;
    }
    const quarn_types *table() const noexcept { return table_; }

private:
    std::string_view function_;
    const quarn_types *table_;
};

// A node of `kind` over copies of the given handles' expressions.
quarn_type *compose(std::string_view function, Kind kind,
                    std::initializer_list<const quarn_type *> parts) noexcept {
    TableAgreement agreement(function);
    for (const quarn_type *part : parts) agreement.add(part);
    TypeExpr expr;
    expr.kind = kind;
    expr.children.reserve(parts.size());
    for (const quarn_type *part : parts) {
        if (type_depth(part->expr) + 1 > kMaxTypeDepth) fatal(function, too_deep_message());
        expr.children.push_back(part->expr);
    }
    return new_type(std::move(expr), agreement.table());
}

}  // namespace

}  // namespace quarn::capi

using namespace quarn::capi;

extern "C" {

QUARN_API const quarn_types *quarn_types_load(const uint8_t *bytes, size_t length) noexcept {
    if (bytes == nullptr && length != 0) fatal("quarn_types_load", kNullPointer);
    static const uint8_t kNothing = 0;
    quarn::Text error;
    const quarn_types *table =
        quarn::wire::load_type_table(bytes != nullptr ? bytes : &kNothing, length, error);
    if (table == nullptr) quarn::internal_panic({"a generated type table is invalid: ", error});
    return table;
}

QUARN_API quarn_type *quarn_type_simple(uint8_t kind) noexcept {
    if (kind > QUARN_KIND_FLOAT_ARRAY && kind != QUARN_KIND_OPAQUE)
        fatal("quarn_type_simple", quarn::decimal(kind), " is not the kind of a type without parameters");
    TypeExpr expr;
    expr.kind = static_cast<Kind>(kind);
    return new_type(std::move(expr), nullptr);
}

QUARN_API quarn_type *quarn_type_option(const quarn_type *element) noexcept {
    return compose("quarn_type_option", Kind::Option, {element});
}

QUARN_API quarn_type *quarn_type_list(const quarn_type *element) noexcept {
    return compose("quarn_type_list", Kind::List, {element});
}

QUARN_API quarn_type *quarn_type_array(const quarn_type *element) noexcept {
    return compose("quarn_type_array", Kind::Array, {element});
}

QUARN_API quarn_type *quarn_type_prod(const quarn_type *first, const quarn_type *second) noexcept {
    return compose("quarn_type_prod", Kind::Prod, {first, second});
}

QUARN_API quarn_type *quarn_type_except(const quarn_type *error, const quarn_type *value) noexcept {
    return compose("quarn_type_except", Kind::Except, {error, value});
}

QUARN_API quarn_type *quarn_type_function(const quarn_type *const *params, size_t count,
                                          const quarn_type *result) noexcept {
    constexpr std::string_view function = "quarn_type_function";
    if (count == 0 || count > 15)
        fatal(function, "a function of ", quarn::decimal(static_cast<long long>(count)),
              " parameters (1 to 15 are supported)");
    not_null(params, function);
    for (size_t i = 0; i < count; ++i) not_null(params[i], function);
    not_null(result, function);
    TableAgreement agreement(function);
    for (size_t i = 0; i < count; ++i) agreement.add(params[i]);
    agreement.add(result);
    TypeExpr expr;
    expr.kind = Kind::Function;
    expr.children.reserve(count + 1);
    for (size_t i = 0; i <= count; ++i) {
        const quarn_type *part = i < count ? params[i] : result;
        if (type_depth(part->expr) + 1 > kMaxTypeDepth) fatal(function, too_deep_message());
        expr.children.push_back(part->expr);
    }
    return new_type(std::move(expr), agreement.table());
}

QUARN_API quarn_type *quarn_type_inductive(const quarn_types *table, uint32_t index,
                                           const quarn_type *const *args, size_t count) noexcept {
    constexpr std::string_view function = "quarn_type_inductive";
    not_null(table, function);
    if (count != 0) not_null(args, function);
    TableAgreement agreement(function, table);
    for (size_t i = 0; i < count; ++i) agreement.add(args[i]);
    TypeExpr expr;
    expr.kind = Kind::Inductive;
    expr.index = index;
    expr.children.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        if (type_depth(args[i]->expr) + 1 > kMaxTypeDepth) fatal(function, too_deep_message());
        expr.children.push_back(args[i]->expr);
    }
    quarn::Text error;
    if (!check_type(*table, 0, expr, error)) fatal(function, error);
    return new_type(std::move(expr), table);
}

QUARN_API quarn_type *quarn_type_clone(const quarn_type *type) noexcept {
    not_null(type, "quarn_type_clone");
    return new_type(TypeExpr(type->expr), type->table);
}

QUARN_API void quarn_type_free(quarn_type *type) noexcept { delete type; }

}  // extern "C"
