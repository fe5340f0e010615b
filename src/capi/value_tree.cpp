// Host value records as trees: making and freeing records, deep copies, structural equality.
// Hosts can nest values a million deep, so every walk keeps its own stack on the heap instead
// of recursing on the C stack.
#include <charconv>
#include <new>
#include <utility>

#include "capi/handle_table.h"
#include "capi/host_entry_points.h"
#include "capi/value_record.h"
#include "quarn/object.h"

namespace quarn::capi {

quarn_value *new_value(Kind kind) noexcept {
    quarn_value *v = new (PanicAllocator<quarn_value>().allocate(1)) quarn_value;
    v->kind = kind;
    return v;
}

namespace {

void delete_record(quarn_value *v) noexcept {
    v->~quarn_value();
    PanicAllocator<quarn_value>().deallocate(v, 1);
}

// Releases the handle a record owns, through the table.
void release_handle(const quarn_value &v, std::string_view function) noexcept {
    std::optional<quarn_object *> object = adopt_handle(v.bits);
    if (!object) fatal(function, not_live_message(v.bits), " (was the value freed twice?)");
    quarn_dec(*object);
}

}  // namespace

void free_tree(quarn_value *v, Handles handles, std::string_view function) noexcept {
    if (v == nullptr) return;
    Vector<quarn_value *> pending;
    pending.push_back(v);
    while (!pending.empty()) {
        quarn_value *next = pending.back();
        pending.pop_back();
        for (quarn_value *child : next->children)
            if (child != nullptr) pending.push_back(child);
        if (handles == Handles::Release) {
            if (owns_handle(*next)) release_handle(*next, function);
            if (owns_host_function(*next)) release_host_function(next->bits);
        }
        delete_record(next);
    }
}

std::string_view value_kind_description(Kind kind) noexcept {
    static constexpr std::string_view kDescriptions[] = {
        "a Nat",     "an Int",     "a Bool",     "a UInt8",      "a UInt16",
        "a UInt32",  "a UInt64",   "a USize",    "an Int8",      "an Int16",
        "an Int32",  "an Int64",   "an ISize",   "a Float",      "a Float32",
        "a Char",    "a String",   "Unit",       "a ByteArray",  "a FloatArray",
        "an Option", "a List",     "an Array",   "a pair",       "an Except",
        "a function", "a type parameter", "a constructor", "an opaque value",
    };
    auto index = static_cast<std::size_t>(kind);
    return index < std::size(kDescriptions) ? kDescriptions[index] : "an unknown value";
}

const quarn_value &expect_kind(const quarn_value *v, Kind kind, std::string_view function) noexcept {
    not_null(v, function);
    if (v->kind != kind) fatal(function, "the value is ", value_kind_description(v->kind));
    return *v;
}

const quarn_value &expect_kind(const quarn_value *v, Kind kind, Kind other,
                               std::string_view function) noexcept {
    not_null(v, function);
    if (v->kind != kind && v->kind != other)
        fatal(function, "the value is ", value_kind_description(v->kind));
    return *v;
}

UnsignedDecimal unsigned_decimal(std::uint64_t n) noexcept {
    UnsignedDecimal d;
    d.size = static_cast<std::size_t>(std::to_chars(d.digits, d.digits + sizeof d.digits, n).ptr -
                                      d.digits);
    return d;
}

}  // namespace quarn::capi

using quarn::capi::Handles;
using quarn::capi::Kind;

extern "C" {

QUARN_API void quarn_value_free(quarn_value *value) noexcept {
    quarn::capi::free_tree(value, Handles::Release, "quarn_value_free");
}

QUARN_API quarn_value *quarn_value_clone(const quarn_value *value) noexcept {
    constexpr std::string_view kFunction = "quarn_value_clone";
    quarn::capi::not_null(value, kFunction);
    quarn_value *copy = quarn::capi::new_value(value->kind);
    quarn::Vector<std::pair<const quarn_value *, quarn_value *>> pending;
    pending.emplace_back(value, copy);
    while (!pending.empty()) {
        auto [from, to] = pending.back();
        pending.pop_back();
        to->bits = from->bits;
        to->flag = from->flag;
        to->bytes = from->bytes;
        if (quarn::capi::owns_handle(*from)) {
            std::optional<quarn_object *> object = quarn::capi::borrow_handle(from->bits);
            if (!object)
                quarn::capi::fatal(kFunction, quarn::capi::not_live_message(from->bits),
                                   " (was the value freed?)");
            to->bits = quarn::capi::register_object(*object);
        }
        // A function value of a host function owns one reference to it, as a handle would.
        if (quarn::capi::owns_host_function(*from) && quarn::capi::installed_host() != nullptr)
            quarn::capi::retain_host_function(from->bits);
        to->children.resize(from->children.size(), nullptr);
        for (std::size_t i = 0; i < from->children.size(); ++i) {
            to->children[i] = quarn::capi::new_value(from->children[i]->kind);
            pending.emplace_back(from->children[i], to->children[i]);
        }
    }
    return copy;
}

QUARN_API int quarn_value_equal(const quarn_value *a, const quarn_value *b) noexcept {
    constexpr std::string_view kFunction = "quarn_value_equal";
    quarn::capi::not_null(a, kFunction);
    quarn::capi::not_null(b, kFunction);
    quarn::Vector<std::pair<const quarn_value *, const quarn_value *>> pending;
    pending.emplace_back(a, b);
    while (!pending.empty()) {
        auto [x, y] = pending.back();
        pending.pop_back();
        if (x->kind != y->kind || x->bits != y->bits || x->flag != y->flag ||
            x->bytes != y->bytes || x->children.size() != y->children.size())
            return 0;
        for (std::size_t i = 0; i < x->children.size(); ++i)
            pending.emplace_back(x->children[i], y->children[i]);
    }
    return 1;
}

}  // extern "C"
