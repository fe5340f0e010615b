#include "wire/type_table.h"

#include <mutex>
#include <new>

#include "capi/type_expr.h"
#include "core/utf8.h"
#include "quarn/object.h"
#include "wire/reader.h"
#include "wire/type_decode.h"

namespace quarn::wire {

namespace {

using capi::Constructor;
using capi::Definition;
using capi::Field;
using capi::FieldKind;
using capi::Repr;

// Every table ever loaded. Tables are never freed; the list keeps them reachable (and
// makes plain that they live as long as the process).
struct LoadedTables {
    std::mutex mutex;
    Vector<const quarn_types *> tables;
};

LoadedTables &loaded_tables() {
    static LoadedTables &tables = *new LoadedTables;
    return tables;
}

class TableReader {
public:
    TableReader(const std::uint8_t *bytes, std::size_t length) : reader_(bytes, length) {}

    bool read(quarn_types &table) {
        const std::uint8_t *magic;
        if (!reader_.take(4, magic)) return false;
        if (std::memcmp(magic, "QRNT", 4) != 0) return reader_.fail({"not a quarn type table"});
        std::uint32_t version;
        if (!reader_.u32(version)) return false;
        if (version != 2)
            return reader_.fail({"type table version ", decimal(version),
                                 "; this runtime reads version 2"});
        std::uint32_t count;
        if (!reader_.count(count)) return false;
        table.definitions.resize(count);
        for (Definition &definition : table.definitions)
            if (!read_definition(definition)) return false;
        if (!reader_.at_end())
            return reader_.fail({decimal(static_cast<long long>(reader_.remaining())),
                                 " unexpected bytes after the wire data"});
        return true;
    }

    Text take_error() { return reader_.take_error(); }

private:
    bool text(Text &out) {
        std::uint32_t length;
        const std::uint8_t *bytes;
        if (!reader_.count(length) || !reader_.take(length, bytes)) return false;
        auto *chars = reinterpret_cast<const char *>(bytes);
        if (!utf8::is_valid_utf8(chars, length))
            return reader_.fail({"a string is not valid UTF-8"});
        out.assign(chars, length);
        return true;
    }

    bool repr(Repr &out) {
        std::uint8_t code;
        if (!reader_.u8(code)) return false;
        if (code > 7) return reader_.fail({"unknown representation code ", decimal(code)});
        out = static_cast<Repr>(code);
        return true;
    }

    bool flag(bool &out, std::string_view what, const Text &name) {
        std::uint8_t byte;
        if (!reader_.u8(byte)) return false;
        if (byte > 1) return reader_.fail({"invalid ", what, " flag ", decimal(byte), " in ", name});
        out = byte == 1;
        return true;
    }

    bool read_definition(Definition &d) {
        if (!text(d.name) || !flag(d.opaque, "opaque", d.name) || !reader_.u32(d.parameters) ||
            !repr(d.repr) || !flag(d.trivial, "trivial-structure", d.name))
            return false;
        if (d.trivial && (!reader_.u32(d.trivial_constructor) || !reader_.u32(d.trivial_field)))
            return false;
        std::uint32_t count;
        if (!reader_.count(count)) return false;
        d.constructors.resize(count);
        for (Constructor &c : d.constructors)
            if (!read_constructor(c)) return false;
        return true;
    }

    bool read_constructor(Constructor &c) {
        std::uint32_t count;
        if (!text(c.name) || !reader_.u32(c.tag) || !reader_.u32(c.object_fields) ||
            !reader_.u32(c.usize_fields) || !reader_.u32(c.scalar_size) || !reader_.count(count))
            return false;
        c.fields.resize(count);
        for (Field &f : c.fields) {
            std::uint8_t kind;
            if (!text(f.name) || !reader_.u8(kind)) return false;
            if (kind > 2)
                return reader_.fail({"invalid field kind ", decimal(kind), " in ", c.name});
            f.kind = static_cast<FieldKind>(kind);
            if (!reader_.u32(f.position)) return false;
            if (f.kind == FieldKind::Scalar && !repr(f.repr)) return false;
            if (!decode_type_expr(reader_, f.type)) return false;
        }
        return true;
    }

    Reader reader_;
};

bool fail(Text &error, std::initializer_list<std::string_view> pieces) {
    error.clear();
    capi::append_pieces(error, pieces);
    return false;
}

bool validate_constructor(const quarn_types &table, const Definition &d, const Constructor &c,
                          Text &error) {
    if (c.tag > QUARN_MAX_CTOR_TAG || c.object_fields > QUARN_MAX_CTOR_FIELDS)
        return fail(error, {"constructor ", c.name, " has an invalid layout"});
    // Objects of the constructor must be allocatable: the usize slots and the scalar area
    // share the constructor's scalar payload, which is at most 1023 bytes.
    std::uint64_t scalar_bytes = std::uint64_t{c.usize_fields} * 8 + c.scalar_size;
    if (scalar_bytes > kMaxConstructorScalarBytes)
        return fail(error, {"constructor ", c.name, " has ", decimal(static_cast<long long>(scalar_bytes)),
                            " bytes of usize and scalar fields; at most 1023 can be allocated"});
    for (const Field &f : c.fields) {
        switch (f.kind) {
            case FieldKind::Object:
                if (f.position >= c.object_fields)
                    return fail(error, {"field ", f.name, " of ", c.name, " is outside its object fields"});
                break;
            case FieldKind::USize:
                if (f.position >= c.usize_fields)
                    return fail(error, {"field ", f.name, " of ", c.name, " is outside its usize fields"});
                break;
            case FieldKind::Scalar:
                if (f.repr == Repr::NotScalar || f.repr == Repr::Object)
                    return fail(error, {"field ", f.name, " of ", c.name, " is not a scalar"});
                if (std::uint64_t{f.position} + capi::repr_width(f.repr) > c.scalar_size)
                    return fail(error, {"field ", f.name, " of ", c.name, " is outside its scalar fields"});
                break;
        }
        if (!capi::check_type(table, d.parameters, f.type, error)) return false;
    }
    return true;
}

bool validate(const quarn_types &table, Text &error) {
    for (const Definition &d : table.definitions) {
        if (d.opaque) {
            if (!d.constructors.empty() || d.parameters != 0 || d.trivial || d.repr != Repr::Object)
                return fail(error, {"opaque type ", d.name,
                                    " must have no constructors, no parameters and an object representation"});
            continue;
        }
        if (d.constructors.empty()) return fail(error, {"type ", d.name, " has no constructors"});
        if (d.trivial && (d.constructors.size() != 1 || d.trivial_constructor != 0 ||
                          d.trivial_field >= d.constructors[0].fields.size()))
            return fail(error, {"type ", d.name, " has an invalid trivial-structure field"});
        for (const Constructor &c : d.constructors)
            if (!validate_constructor(table, d, c, error)) return false;
    }
    return true;
}

}  // namespace

bool read_type_table(const std::uint8_t *bytes, std::size_t length, quarn_types &table, Text &error) {
    TableReader reader(bytes, length);
    if (!reader.read(table)) {
        error = reader.take_error();
        return false;
    }
    return validate(table, error);
}

const quarn_types *load_type_table(const std::uint8_t *bytes, std::size_t length, Text &error) {
    quarn_types table;
    if (!read_type_table(bytes, length, table, error)) return nullptr;
    auto *loaded = new (std::nothrow) quarn_types{std::move(table)};
    if (loaded == nullptr) internal_panic(kOutOfMemory);
    LoadedTables &tables = loaded_tables();
    std::scoped_lock lock(tables.mutex);
    tables.tables.push_back(loaded);
    return loaded;
}

}  // namespace quarn::wire
