#include "wire/object_codec.h"

#include <bit>
#include <cstdio>
#include <optional>

#include "array/array_alloc.h"
#include "array/sarray_alloc.h"
#include "capi/handle_table.h"
#include "capi/type_expr.h"
#include "core/utf8.h"
#include "number/nat.h"
#include "object/header.h"
#include "object/heartbeat.h"
#include "wire/type_plan.h"

namespace quarn::wire {

using capi::FieldKind;
using capi::Kind;
using capi::Repr;
using capi::repr_width;

namespace {

constexpr std::string_view kLengthLimit = "a value exceeds the wire format's 2^32 length limit";

// The wire width of a fixed-width scalar kind, or 0 for other kinds.
std::size_t scalar_kind_width(Kind kind) noexcept {
    switch (kind) {
        case Kind::Bool:
        case Kind::UInt8:
        case Kind::Int8:
            return 1;
        case Kind::UInt16:
        case Kind::Int16:
            return 2;
        case Kind::UInt32:
        case Kind::Int32:
        case Kind::Float32:
        case Kind::Char:
            return 4;
        case Kind::UInt64:
        case Kind::USize:
        case Kind::Int64:
        case Kind::ISize:
        case Kind::Float:
            return 8;
        default:
            return 0;
    }
}

bool is_unicode_scalar(std::uint32_t c) noexcept { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// A constructor of no object, usize or scalar fields: represented by its boxed tag.
bool is_boxed_constructor(const capi::Constructor &c) noexcept {
    return c.object_fields == 0 && c.usize_fields == 0 && c.scalar_size == 0;
}

// The offset, counted from the first object field, of a usize or scalar field.
std::size_t field_offset(const capi::Constructor &c, const PlanField &f) noexcept {
    if (f.kind == FieldKind::USize) return (std::size_t{c.object_fields} + f.position) * 8;
    return (std::size_t{c.object_fields} + c.usize_fields) * 8 + f.position;
}

std::uint8_t *field_bytes(quarn_object *o) noexcept {
    return reinterpret_cast<std::uint8_t *>(reinterpret_cast<quarn_ctor_object *>(o)->fields);
}

// The plans of the types without payload (Nat to FloatArray): alike for every table and made
// once per thread, so that a value of such a type, the most common argument and result of a
// call, costs no plan of its own.
struct LeafPlans {
    static constexpr unsigned kLast = QUARN_KIND_FLOAT_ARRAY;
    TypePlan plan{nullptr};
    std::uint32_t nodes[kLast + 1] = {};

    LeafPlans() {
        Text error;
        for (unsigned kind = 0; kind <= kLast; ++kind)
            if (!plan.add(capi::TypeExpr{static_cast<Kind>(kind), 0, {}}, nodes[kind], error))
                internal_panic(error);
    }
};

// Points `plan` and `node` at the thread's leaf plan of `type`; false for a type with a
// payload.
bool leaf_root(const capi::TypeExpr &type, TypePlan *&plan, std::uint32_t &node) noexcept {
    auto kind = static_cast<unsigned>(type.kind);
    if (kind > LeafPlans::kLast) return false;
    thread_local LeafPlans leaves;
    plan = &leaves.plan;
    node = leaves.nodes[kind];
    return true;
}

// ---- object to bytes -------------------------------------------------------------------

[[noreturn]] void mismatch(const Text &message) noexcept { internal_panic(message); }

class Encoder {
public:
    Encoder(const quarn_types *table, ByteSink &out) : own_plan_(table), out_(out) {}

    void run(const capi::TypeExpr &type, quarn_object *value) noexcept {
        std::uint32_t root;
        if (!leaf_root(type, plan_, root) && !plan_->add(type, root, error_)) mismatch(error_);
        push({Op::Value, root, value, 0});
        while (!stack_.empty()) {
            Task task = stack_.back();
            stack_.pop_back();
            step(task);
        }
    }

private:
    enum class Op : std::uint8_t { Value, ListCells, ArrayItems, ScalarBits };
    struct Task {
        Op op;
        std::uint32_t node;
        quarn_object *value;  // the value; the list cell; the array
        std::uint64_t extra;  // the array index; the scalar's bits
    };

    void push(Task task) { stack_.push_back(task); }

    std::uint32_t representation(std::uint32_t node) noexcept {
        std::uint32_t out;
        if (!plan_->representation(node, out, error_)) mismatch(error_);
        return out;
    }

    // Whether values of `node` are written without visiting other values.
    bool leaf(std::uint32_t node) noexcept {
        representation(node);
        return (*plan_)[node].leaf;
    }

    void count(std::size_t n) noexcept {
        if (n > UINT32_MAX) internal_panic(kLengthLimit);
        out_.u32(static_cast<std::uint32_t>(n));
    }

    void step(const Task &task) noexcept {
        switch (task.op) {
            case Op::Value:
                return value(task.node, task.value);
            case Op::ListCells: {
                quarn_object *cell = task.value;
                if (quarn_is_scalar(cell)) return;
                if (leaf(task.node)) {
                    // Elements that visit nothing else are written in one walk.
                    for (; !quarn_is_scalar(cell); cell = quarn_ctor_get(cell, 1))
                        value(task.node, quarn_ctor_get(cell, 0));
                    return;
                }
                push({Op::ListCells, task.node, quarn_ctor_get(cell, 1), 0});
                push({Op::Value, task.node, quarn_ctor_get(cell, 0), 0});
                return;
            }
            case Op::ArrayItems: {
                auto *array = reinterpret_cast<quarn_array_object *>(task.value);
                if (task.extra == array->size) return;
                if (leaf(task.node)) {
                    for (std::size_t i = task.extra; i < array->size; ++i) value(task.node, array->data[i]);
                    return;
                }
                push({Op::ArrayItems, task.node, task.value, task.extra + 1});
                push({Op::Value, task.node, array->data[task.extra], 0});
                return;
            }
            case Op::ScalarBits:
                return scalar_bits(task.node, task.extra);
        }
    }

    void magnitude(const number::IntegerView &v) noexcept {
        std::size_t bytes = v.size * 8;
        if (v.size != 0) bytes -= static_cast<std::size_t>(__builtin_clzll(v.digits[v.size - 1]) / 8);
        if (bytes > UINT32_MAX) internal_panic(kLengthLimit);
        out_.u32(static_cast<std::uint32_t>(bytes));
        out_.bytes(v.digits, bytes);
    }

    void handle(quarn_object *o) noexcept {
        quarn_inc(o);
        out_.u64(capi::register_object(o));
    }

    void value(std::uint32_t node, quarn_object *v) noexcept {
        node = representation(node);
        const PlanNode &n = (*plan_)[node];
        if (std::size_t width = scalar_kind_width(n.kind)) {
            std::uint64_t bits;
            if (width == 8)
                bits = quarn_unbox_uint64(v);
            else if (n.kind == Kind::Float32)
                bits = std::bit_cast<std::uint32_t>(quarn_unbox_float32(v));
            else
                bits = quarn_unbox(v);
            out_.low_bytes(bits, width);
            return;
        }
        switch (n.kind) {
            case Kind::Nat: {
                if (quarn_is_scalar(v)) {
                    std::uint64_t m = quarn_unbox(v);
                    auto n = static_cast<std::uint32_t>(m == 0 ? 0 : 8 - __builtin_clzll(m) / 8);
                    out_.u32(n);
                    return out_.low_bytes(m, n);
                }
                std::uint64_t scratch;
                return magnitude(number::view_nat(v, scratch));
            }
            case Kind::Int: {
                std::uint64_t scratch;
                number::IntegerView view = number::view_int(v, scratch);
                out_.u8(view.negative ? 1 : 0);
                return magnitude(view);
            }
            case Kind::String: {
                auto *s = reinterpret_cast<quarn_string_object *>(v);
                count(s->size - 1);
                return out_.bytes(s->data, s->size - 1);
            }
            case Kind::Unit:
                return;
            case Kind::ByteArray:
            case Kind::FloatArray: {
                auto *a = reinterpret_cast<quarn_sarray_object *>(v);
                count(a->size);
                return out_.bytes(a->data, a->size * (n.kind == Kind::ByteArray ? 1 : 8));
            }
            case Kind::Option:
                if (quarn_is_scalar(v)) return out_.u8(0);
                out_.u8(1);
                return push({Op::Value, n.children[0], quarn_ctor_get(v, 0), 0});
            case Kind::List: {
                std::size_t cells = 0;
                for (quarn_object *c = v; !quarn_is_scalar(c); c = quarn_ctor_get(c, 1)) ++cells;
                count(cells);
                return push({Op::ListCells, n.children[0], v, 0});
            }
            case Kind::Array:
                count(reinterpret_cast<quarn_array_object *>(v)->size);
                return push({Op::ArrayItems, n.children[0], v, 0});
            case Kind::Prod:
                push({Op::Value, n.children[1], quarn_ctor_get(v, 1), 0});
                return push({Op::Value, n.children[0], quarn_ctor_get(v, 0), 0});
            case Kind::Except: {
                unsigned tag = quarn_obj_tag(v);
                if (tag > 1) internal_panic({"invalid Except constructor tag ", decimal(tag)});
                out_.u8(static_cast<std::uint8_t>(tag));
                return push({Op::Value, n.children[tag], quarn_ctor_get(v, 0), 0});
            }
            case Kind::Function:
                out_.u8(0);
                return handle(v);
            case Kind::Opaque:
                return handle(v);
            case Kind::Param:
                internal_panic({"encoding an uninstantiated type parameter ", decimal(n.index)});
            case Kind::Inductive:
                return constructor(node, v);
            default:
                internal_panic(kUnreachable);
        }
    }

    void constructor(std::uint32_t node, quarn_object *v) noexcept {
        const PlanNode &n = (*plan_)[node];
        if (n.opaque) return handle(v);
        unsigned tag = quarn_obj_tag(v);
        std::size_t index = 0;
        while (index < n.constructors.size() && n.constructors[index].constructor->tag != tag) ++index;
        if (index == n.constructors.size())
            internal_panic({"invalid constructor tag ", decimal(tag), " for ", n.definition->name});
        out_.u32(static_cast<std::uint32_t>(index));
        const PlanConstructor &c = n.constructors[index];
        // Fields that visit nothing else are written at once, in order, up to the first that
        // does; it and the fields after it are pushed last first, so that they are written in
        // order.
        std::size_t first_pushed = 0;
        while (first_pushed < c.fields.size()) {
            const PlanField &f = c.fields[first_pushed];
            if (f.kind != FieldKind::Object) {
                scalar_bits(f.node, stored_bits(*c.constructor, f, v));
            } else if (leaf(f.node)) {
                value(f.node, quarn_ctor_get(v, f.position));
            } else {
                break;
            }
            ++first_pushed;
        }
        for (std::size_t i = c.fields.size(); i-- > first_pushed;) {
            const PlanField &f = c.fields[i];
            if (f.kind == FieldKind::Object)
                push({Op::Value, f.node, quarn_ctor_get(v, f.position), 0});
            else
                push({Op::ScalarBits, f.node, nullptr, stored_bits(*c.constructor, f, v)});
        }
    }

    // The bits a usize or scalar field holds in the object.
    static std::uint64_t stored_bits(const capi::Constructor &c, const PlanField &f, quarn_object *v) noexcept {
        std::size_t width = f.kind == FieldKind::USize ? 8 : repr_width(f.repr);
        if (width == 0) internal_panic("a scalar field of non-scalar representation");
        std::uint64_t bits = 0;
        std::memcpy(&bits, field_bytes(v) + field_offset(c, f), width);
        return bits;
    }

    // A usize or scalar field's value, given as the bits stored in the object.
    void scalar_bits(std::uint32_t node, std::uint64_t bits) noexcept {
        node = representation(node);
        const PlanNode &n = (*plan_)[node];
        if (std::size_t width = scalar_kind_width(n.kind)) return out_.low_bytes(bits, width);
        if (n.kind == Kind::Inductive && !n.opaque) {
            // An enumeration stored as its tag.
            for (std::size_t i = 0; i < n.constructors.size(); ++i)
                if (n.constructors[i].constructor->tag == bits) return out_.u32(static_cast<std::uint32_t>(i));
            internal_panic({"invalid constructor tag ", decimal(static_cast<long long>(bits)), " for ",
                            n.definition->name});
        }
        internal_panic("a scalar field of non-scalar representation");
    }

    TypePlan own_plan_;
    TypePlan *plan_ = &own_plan_;
    ByteSink &out_;
    Vector<Task> stack_;
    Text error_;
};

// ---- bytes to object -------------------------------------------------------------------

class Decoder {
public:
    Decoder(const quarn_types *table, Reader &reader, HandleMode mode)
        : own_plan_(table), reader_(reader), mode_(mode) {}

    quarn_object *run(const capi::TypeExpr &type) noexcept {
        std::uint32_t node;
        if (!leaf_root(type, plan_, node) && !plan_->add(type, node, error_)) {
            reader_.fail({error_});
            return nullptr;
        }
        quarn_object *root = quarn_box(0);
        push({Op::Value, node, &root, 0});
        while (!stack_.empty()) {
            Task task = stack_.back();
            stack_.pop_back();
            if (!step(task)) {
                // Every slot reached so far holds a value or the scalar 0: the partial value
                // is released as a whole.
                quarn_dec(root);
                return nullptr;
            }
        }
        return root;
    }

private:
    enum class Op : std::uint8_t { Value, ListCells, ArrayItems, ScalarField };
    struct Task {
        Op op;
        std::uint32_t node;
        quarn_object **slot;  // where the value goes; the object of a scalar field
        std::uint64_t extra;  // cells or items left; the scalar field's offset and width
    };

    void push(Task task) { stack_.push_back(task); }

    bool fail(std::initializer_list<std::string_view> pieces) { return reader_.fail(pieces); }
    bool fail_with_error() { return reader_.fail({error_}); }

    // Whether values of `node` are read without visiting other values, into `out`.
    bool leaf(std::uint32_t node, bool &out) {
        std::uint32_t represented;
        if (!plan_->representation(node, represented, error_)) return fail_with_error();
        out = (*plan_)[node].leaf;
        return true;
    }

    // Accounts for a part of the value that takes no bytes (a Unit, a pair): many in a row
    // with no byte read in between mean a type without finite values.
    bool part_without_bytes() {
        if (reader_.consumed() != consumed_at_last_part_) {
            consumed_at_last_part_ = reader_.consumed();
            parts_without_bytes_ = 0;
        }
        if (++parts_without_bytes_ <= kMaxPartsWithoutBytes) return true;
        return fail({"a value holds more than ", decimal(static_cast<long long>(kMaxPartsWithoutBytes)),
                     " parts in a row without bytes"});
    }

    static quarn_object *new_constructor(unsigned tag, unsigned objects, std::size_t scalar_bytes) noexcept {
        object::count_heartbeat();
        quarn_object *o = object::allocate_object(8 + 8 * std::size_t{objects} + scalar_bytes,
                                                  static_cast<std::uint8_t>(tag),
                                                  static_cast<std::uint8_t>(objects));
        auto **fields = reinterpret_cast<quarn_ctor_object *>(o)->fields;
        for (unsigned i = 0; i < objects; ++i) fields[i] = quarn_box(0);
        if (scalar_bytes != 0) std::memset(fields + objects, 0, scalar_bytes);
        return o;
    }

    bool step(const Task &task) {
        switch (task.op) {
            case Op::Value:
                return value(task.node, task.slot);
            case Op::ListCells: {
                if (task.extra == 0) return true;
                bool leaf_elements = false;
                if (!leaf(task.node, leaf_elements)) return false;
                quarn_object **slot = task.slot;
                for (std::uint64_t left = task.extra; left > 0; --left) {
                    quarn_object *cell = new_constructor(1, 2, 0);
                    *slot = cell;
                    auto **fields = reinterpret_cast<quarn_ctor_object *>(cell)->fields;
                    if (!leaf_elements) {
                        push({Op::ListCells, task.node, &fields[1], left - 1});
                        push({Op::Value, task.node, &fields[0], 0});
                        return true;
                    }
                    // Elements that visit nothing else are read in one loop.
                    if (!value(task.node, &fields[0])) return false;
                    slot = &fields[1];
                }
                return true;
            }
            case Op::ArrayItems: {
                auto *array = reinterpret_cast<quarn_array_object *>(*task.slot);
                bool leaf_elements = false;
                if (!leaf(task.node, leaf_elements)) return false;
                for (std::size_t i = array->size; i < task.extra; ++i) {
                    array->data[i] = quarn_box(0);
                    array->size = i + 1;
                    if (!leaf_elements) {
                        push({Op::ArrayItems, task.node, task.slot, task.extra});
                        push({Op::Value, task.node, &array->data[i], 0});
                        return true;
                    }
                    if (!value(task.node, &array->data[i])) return false;
                }
                return true;
            }
            case Op::ScalarField:
                return scalar_field(task.node, *task.slot, task.extra);
        }
        return false;
    }

    bool magnitude(number::Integer &out, bool negative) {
        std::uint32_t n;
        const std::uint8_t *bytes = nullptr;
        if (!reader_.count(n) || !reader_.take(n, bytes)) return false;
        if (n != 0 && bytes[n - 1] == 0) return fail({"a number's magnitude has a leading zero byte"});
        std::size_t digits = (std::size_t{n} + 7) / 8;
        out = number::Integer::with_capacity(digits);
        if (digits != 0) {
            out.digits()[digits - 1] = 0;
            std::memcpy(out.digits(), bytes, n);
        }
        out.set_size(digits, negative);
        return true;
    }

    enum class Small : std::uint8_t { Read, Failed, NotSmall };

    // The common case, a magnitude of at most 8 bytes below 2^63, read without an Integer.
    // NotSmall leaves the reader where it was.
    Small small_number(Kind kind, std::uint8_t sign, quarn_object **slot) {
        if (reader_.remaining() < 4) return Small::NotSmall;
        const std::uint8_t *at = reader_.position();
        std::uint32_t n;
        std::memcpy(&n, at, 4);
        if (n > 8 || reader_.remaining() - 4 < n) return Small::NotSmall;
        std::uint64_t v = 0;
        std::memcpy(&v, at + 4, n);
        if (v >= number::kFirstBigNat) return Small::NotSmall;
        reader_.take(4 + std::size_t{n}, at);
        if (n != 0 && at[3 + n] == 0) {
            fail({"a number's magnitude has a leading zero byte"});
            return Small::Failed;
        }
        if (sign == 1 && v == 0) {
            fail({"negative zero is not a canonical Int"});
            return Small::Failed;
        }
        auto value = static_cast<std::int64_t>(v);
        *slot = kind == Kind::Nat ? quarn_box(v) : number::int_of_int64(sign == 1 ? -value : value);
        return Small::Read;
    }

    bool handle(quarn_object **slot) {
        std::uint64_t h = 0;
        if (!reader_.u64(h)) return false;
        std::optional<quarn_object *> o =
            mode_ == HandleMode::Borrow ? capi::borrow_handle(h) : capi::adopt_handle(h);
        if (!o) return fail({capi::not_live_message(h)});
        *slot = *o;
        return true;
    }

    // A fixed-width scalar of `kind` as its bits (zero-extended; Float32 and Float as their
    // bit patterns).
    bool scalar(Kind kind, std::size_t width, std::uint64_t &bits) {
        bits = 0;
        const std::uint8_t *bytes = nullptr;
        if (!reader_.take(width, bytes)) return false;
        std::memcpy(&bits, bytes, width);
        if (kind == Kind::Bool && bits > 1) return fail({"invalid Bool ", decimal(static_cast<long long>(bits))});
        if (kind == Kind::Char && !is_unicode_scalar(static_cast<std::uint32_t>(bits))) {
            char hex[16];
            int length = std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(bits));
            return fail({std::string_view(hex, static_cast<std::size_t>(length)),
                         " is not a Unicode scalar value"});
        }
        return true;
    }

    bool count(std::uint32_t element_node, std::uint32_t &n) {
        bool empty;
        if (!plan_->zero_size(element_node, empty, error_)) return fail_with_error();
        if (!empty) return reader_.count(n);
        if (!reader_.u32(n)) return false;
        zero_size_elements_ += n;
        if (zero_size_elements_ > kMaxZeroSizeElements)
            return fail({"a value holds more than ", decimal(kMaxZeroSizeElements),
                         " list or array elements that take no bytes"});
        return true;
    }

    bool value(std::uint32_t node, quarn_object **slot) {
        if (!plan_->representation(node, node, error_)) return fail_with_error();
        const PlanNode &n = (*plan_)[node];
        if (std::size_t width = scalar_kind_width(n.kind)) {
            std::uint64_t bits;
            if (!scalar(n.kind, width, bits)) return false;
            if (width < 8 && n.kind != Kind::Float32) {
                *slot = quarn_box(bits);
            } else if (n.kind == Kind::Float32) {
                *slot = quarn_box_float32(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
            } else {
                *slot = quarn_box_uint64(bits);
            }
            return true;
        }
        switch (n.kind) {
            case Kind::Nat:
            case Kind::Int: {
                std::uint8_t sign = 0;
                if (n.kind == Kind::Int) {
                    if (!reader_.u8(sign)) return false;
                    if (sign > 1) return fail({"invalid Int sign ", decimal(sign)});
                }
                if (Small small = small_number(n.kind, sign, slot); small != Small::NotSmall)
                    return small == Small::Read;
                number::Integer v;
                if (!magnitude(v, sign == 1)) return false;
                if (sign == 1 && v.is_zero()) return fail({"negative zero is not a canonical Int"});
                *slot = n.kind == Kind::Nat ? number::to_nat(std::move(v)) : number::to_int(std::move(v));
                return true;
            }
            case Kind::String: {
                std::uint32_t length;
                const std::uint8_t *bytes;
                if (!reader_.count(length) || !reader_.take(length, bytes)) return false;
                auto *chars = reinterpret_cast<const char *>(bytes);
                utf8::Utf8Prefix prefix = utf8::well_formed_prefix(chars, length);
                if (prefix.bytes != length) return fail({"a String is not valid UTF-8"});
                *slot = quarn_mk_string_unchecked(chars, length, prefix.characters);
                return true;
            }
            case Kind::Unit:
                *slot = quarn_box(0);
                return part_without_bytes();
            case Kind::ByteArray: {
                std::uint32_t length;
                const std::uint8_t *bytes;
                if (!reader_.count(length) || !reader_.take(length, bytes)) return false;
                *slot = array::make_byte_array(bytes, length);
                return true;
            }
            case Kind::FloatArray: {
                std::uint32_t length;
                const std::uint8_t *bytes;
                if (!reader_.count(length, 8) || !reader_.take(std::size_t{length} * 8, bytes)) return false;
                quarn_sarray_object *a = array::allocate_sarray(8, length, length);
                if (length != 0) std::memcpy(a->data, bytes, std::size_t{length} * 8);
                *slot = &a->header;
                return true;
            }
            case Kind::Option:
            case Kind::Except: {
                std::uint8_t tag;
                if (!reader_.u8(tag)) return false;
                bool option = n.kind == Kind::Option;
                if (tag > 1) return fail({option ? "invalid Option tag " : "invalid Except tag ", decimal(tag)});
                if (option && tag == 0) {
                    *slot = quarn_box(0);
                    return true;
                }
                quarn_object *o = new_constructor(tag, 1, 0);
                *slot = o;
                std::uint32_t child = option ? n.children[0] : n.children[tag];
                push({Op::Value, child, &reinterpret_cast<quarn_ctor_object *>(o)->fields[0], 0});
                return true;
            }
            case Kind::List: {
                std::uint32_t cells;
                if (!count(n.children[0], cells)) return false;
                push({Op::ListCells, n.children[0], slot, cells});
                return true;
            }
            case Kind::Array: {
                std::uint32_t items;
                if (!count(n.children[0], items)) return false;
                quarn_array_object *a = array::allocate_array(0, items);
                *slot = &a->header;
                push({Op::ArrayItems, n.children[0], slot, items});
                return true;
            }
            case Kind::Prod: {
                if (!part_without_bytes()) return false;
                quarn_object *o = new_constructor(0, 2, 0);
                *slot = o;
                auto **fields = reinterpret_cast<quarn_ctor_object *>(o)->fields;
                push({Op::Value, n.children[1], &fields[1], 0});
                push({Op::Value, n.children[0], &fields[0], 0});
                return true;
            }
            case Kind::Function: {
                std::uint8_t kind;
                if (!reader_.u8(kind)) return false;
                if (kind == 0) return handle(slot);
                if (kind != 1) return fail({"invalid function kind ", decimal(kind)});
                std::uint64_t id;
                if (!reader_.u64(id)) return false;
                *slot = closure_of_host_function(plan_->table(), n.args, id, mode_);
                return true;
            }
            case Kind::Opaque:
                return handle(slot);
            case Kind::Param:
                return fail({"an uninstantiated type parameter ", decimal(n.index)});
            case Kind::Inductive:
                return constructor(node, slot);
            default:
                return fail({"unknown type tag ", decimal(static_cast<int>(n.kind))});
        }
    }

    bool constructor(std::uint32_t node, quarn_object **slot) {
        const PlanNode &n = (*plan_)[node];
        if (n.opaque) return handle(slot);
        std::uint32_t index;
        if (!reader_.u32(index)) return false;
        if (index >= n.constructors.size())
            return fail({"constructor index ", decimal(index), " of ", n.definition->name});
        const PlanConstructor &c = n.constructors[index];
        const capi::Constructor &layout = *c.constructor;
        if (is_boxed_constructor(layout)) {
            *slot = quarn_box(layout.tag);
            return true;
        }
        quarn_object *o = new_constructor(layout.tag, layout.object_fields,
                                          std::size_t{layout.usize_fields} * 8 + layout.scalar_size);
        *slot = o;
        auto **fields = reinterpret_cast<quarn_ctor_object *>(o)->fields;
        // Fields that visit nothing else are read at once, in order, up to the first that
        // does; it and the fields after it are pushed last first, so that they are read in
        // order.
        std::size_t first_pushed = 0;
        while (first_pushed < c.fields.size()) {
            const PlanField &f = c.fields[first_pushed];
            if (f.kind != FieldKind::Object) {
                if (!scalar_field(f.node, o, scalar_place(layout, f))) return false;
            } else {
                bool leaf_field = false;
                if (!leaf(f.node, leaf_field)) return false;
                if (!leaf_field) break;
                if (!value(f.node, &fields[f.position])) return false;
            }
            ++first_pushed;
        }
        for (std::size_t i = c.fields.size(); i-- > first_pushed;) {
            const PlanField &f = c.fields[i];
            if (f.kind == FieldKind::Object)
                push({Op::Value, f.node, &fields[f.position], 0});
            else
                // The slot that holds the object stands in for it.
                push({Op::ScalarField, f.node, slot, scalar_place(layout, f)});
        }
        return true;
    }

    // A usize or scalar field's offset and width, packed into one word.
    static std::uint64_t scalar_place(const capi::Constructor &c, const PlanField &f) noexcept {
        std::size_t width = f.kind == FieldKind::USize ? 8 : repr_width(f.repr);
        return field_offset(c, f) << 4 | width;
    }

    // Reads a usize or scalar field's value and stores it into the object's scalar area.
    bool scalar_field(std::uint32_t node, quarn_object *o, std::uint64_t where) {
        std::size_t width = where & 15, offset = where >> 4;
        if (!plan_->representation(node, node, error_)) return fail_with_error();
        const PlanNode &n = (*plan_)[node];
        std::uint64_t bits;
        if (std::size_t kind_width = scalar_kind_width(n.kind)) {
            if (!scalar(n.kind, kind_width, bits)) return false;
        } else if (n.kind == Kind::Inductive && !n.opaque) {
            std::uint32_t index = 0;
            if (!reader_.u32(index)) return false;
            if (index >= n.constructors.size())
                return fail({"constructor index ", decimal(index), " of ", n.definition->name});
            const capi::Constructor &c = *n.constructors[index].constructor;
            if (!is_boxed_constructor(c))
                return fail({"a scalar field of type ", n.definition->name, " holds constructor ",
                             c.name, ", which has fields"});
            bits = c.tag;
        } else {
            return fail({"a scalar field cannot hold a value of kind ", capi::kind_name(n.kind)});
        }
        std::memcpy(field_bytes(o) + offset, &bits, width);
        return true;
    }

    TypePlan own_plan_;
    TypePlan *plan_ = &own_plan_;
    Reader &reader_;
    HandleMode mode_;
    Vector<Task> stack_;
    Text error_;
    std::uint64_t zero_size_elements_ = 0;
    std::uint64_t parts_without_bytes_ = 0;
    std::size_t consumed_at_last_part_ = 0;
};

}  // namespace

void encode_object(const quarn_types *table, const capi::TypeExpr &type, quarn_object *value,
                   ByteSink &out) noexcept {
    Encoder(table, out).run(type, value);
}

quarn_object *decode_object(const quarn_types *table, const capi::TypeExpr &type, Reader &reader,
                            HandleMode mode) noexcept {
    return Decoder(table, reader, mode).run(type);
}

quarn_object *decode_object_exact(const quarn_types *table, const capi::TypeExpr &type,
                                  const std::uint8_t *bytes, std::size_t length, HandleMode mode,
                                  Text &error) noexcept {
    Reader reader(bytes, length);
    quarn_object *o = decode_object(table, type, reader, mode);
    if (o == nullptr) {
        error = reader.take_error();
        return nullptr;
    }
    if (!reader.at_end()) {
        quarn_dec(o);
        error.clear();
        capi::append_pieces(error, {decimal(static_cast<long long>(reader.remaining())),
                                    " unexpected bytes after the wire data"});
        return nullptr;
    }
    return o;
}

}  // namespace quarn::wire
