// Writing type tables and type expressions byte by byte, the way a compiler generates them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "quarn/host.h"

namespace kit {

class Bytes {
public:
    Bytes &u8(uint8_t v) {
        data.push_back(v);
        return *this;
    }
    Bytes &u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    Bytes &u64(uint64_t v) {
        for (int i = 0; i < 8; ++i) data.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    Bytes &text(std::string_view s) {
        u32(static_cast<uint32_t>(s.size()));
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
    Bytes &raw(std::string_view s) {
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
    Bytes &append(const Bytes &other) {
        data.insert(data.end(), other.data.begin(), other.data.end());
        return *this;
    }

    // Type expressions.
    Bytes &kind(uint8_t k) { return u8(k); }
    Bytes &param(uint32_t i) { return u8(QUARN_KIND_PARAM).u32(i); }
    Bytes &inductive(uint32_t index, uint32_t args) {
        return u8(QUARN_KIND_INDUCTIVE).u32(index).u32(args);
    }

    // Table pieces.
    Bytes &header(uint32_t count) { return raw("QRNT").u32(2).u32(count); }
    // name, opaque, parameters, representation, not trivial, constructor count
    Bytes &definition(std::string_view name, uint32_t parameters, uint32_t constructors,
                      uint8_t opaque = 0, uint8_t repr = 6) {
        return text(name).u8(opaque).u32(parameters).u8(repr).u8(0).u32(constructors);
    }
    Bytes &trivial_definition(std::string_view name, uint32_t parameters, uint32_t field) {
        return text(name).u8(0).u32(parameters).u8(6).u8(1).u32(0).u32(field).u32(1);
    }
    // name, tag, object, usize and scalar counts, field count
    Bytes &constructor(std::string_view name, uint32_t tag, uint32_t objects, uint32_t usizes,
                       uint32_t scalar_size, uint32_t fields) {
        return text(name).u32(tag).u32(objects).u32(usizes).u32(scalar_size).u32(fields);
    }
    // A field without its type: follow with the type expression.
    Bytes &object_field(std::string_view name, uint32_t position) {
        return text(name).u8(0).u32(position);
    }
    Bytes &usize_field(std::string_view name, uint32_t position) {
        return text(name).u8(1).u32(position);
    }
    Bytes &scalar_field(std::string_view name, uint32_t offset, uint8_t repr) {
        return text(name).u8(2).u32(offset).u8(repr);
    }

    std::vector<uint8_t> data;
};

}  // namespace kit
