#include "uv/address.h"

#include <netinet/in.h>

#include <cstring>

#include "array/array_alloc.h"

namespace quarn::uv {

namespace {

// The IP address array's element count and the largest value of one element, by family.
struct FamilyShape {
    size_t elements;
    size_t element_max;
};

constexpr FamilyShape shape_of(Family family) noexcept {
    return family == Family::IPv4 ? FamilyShape{4, 0xFF} : FamilyShape{8, 0xFFFF};
}

bool is_ctor(quarn_object *o, unsigned tag, unsigned fields) noexcept {
    return !quarn_is_scalar(o) && o->tag == tag && o->other == fields;
}

}  // namespace

quarn_object *lean_ip_address(Family family, const uint8_t *bytes) noexcept {
    FamilyShape shape = shape_of(family);
    quarn_array_object *array = array::allocate_array(shape.elements, shape.elements);
    for (size_t i = 0; i < shape.elements; ++i) {
        size_t value = family == Family::IPv4 ? bytes[i] : size_t{bytes[2 * i]} << 8 | bytes[2 * i + 1];
        array->data[i] = quarn_box(value);
    }
    return &array->header;
}

bool native_ip_from_lean(quarn_object *ip, Family family, uint8_t *bytes) noexcept {
    FamilyShape shape = shape_of(family);
    if (quarn_is_scalar(ip) || ip->tag != QUARN_TAG_ARRAY) return false;
    auto *array = reinterpret_cast<quarn_array_object *>(ip);
    if (array->size != shape.elements) return false;
    for (size_t i = 0; i < shape.elements; ++i) {
        quarn_object *element = array->data[i];
        if (!quarn_is_scalar(element) || quarn_unbox(element) > shape.element_max) return false;
        size_t value = quarn_unbox(element);
        if (family == Family::IPv4) {
            bytes[i] = static_cast<uint8_t>(value);
        } else {
            bytes[2 * i] = static_cast<uint8_t>(value >> 8);
            bytes[2 * i + 1] = static_cast<uint8_t>(value);
        }
    }
    return true;
}

bool native_from_lean(quarn_object *address, NativeAddress &out) noexcept {
    if (quarn_is_scalar(address) || address->tag > 1 || address->other != 1) return false;
    Family family = address->tag == 0 ? Family::IPv4 : Family::IPv6;
    quarn_object *inner = quarn_ctor_get(address, 0);
    if (!is_ctor(inner, 0, 1)) return false;
    if (!native_ip_from_lean(quarn_ctor_get(inner, 0), family, out.bytes)) return false;
    out.family = family;
    std::memcpy(&out.port, quarn_ctor_scalar_area(inner), sizeof out.port);
    return true;
}

SystemAddress system_from_native(const NativeAddress &address) noexcept {
    SystemAddress system;
    if (address.family == Family::IPv4) {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&system.storage);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(address.port);
        std::memcpy(&v4->sin_addr, address.bytes, 4);
        system.length = sizeof(sockaddr_in);
    } else {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&system.storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(address.port);
        std::memcpy(&v6->sin6_addr, address.bytes, 16);
        system.length = sizeof(sockaddr_in6);
    }
    return system;
}

Family family_of(const sockaddr_storage &address) noexcept {
    if (address.ss_family == AF_INET) return Family::IPv4;
    if (address.ss_family == AF_INET6) return Family::IPv6;
    return Family::None;
}

quarn_object *lean_from_system(const sockaddr_storage &address) noexcept {
    Family family = family_of(address);
    const uint8_t *bytes;
    uint16_t port;
    if (family == Family::IPv4) {
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(&address);
        bytes = reinterpret_cast<const uint8_t *>(&v4->sin_addr);
        port = ntohs(v4->sin_port);
    } else if (family == Family::IPv6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&address);
        bytes = reinterpret_cast<const uint8_t *>(&v6->sin6_addr);
        port = ntohs(v6->sin6_port);
    } else {
        return nullptr;
    }
    quarn_object *inner = quarn_alloc_ctor(0, 1, sizeof port);
    quarn_ctor_set(inner, 0, lean_ip_address(family, bytes));
    std::memcpy(quarn_ctor_scalar_area(inner), &port, sizeof port);
    quarn_object *outer = quarn_alloc_ctor(family == Family::IPv4 ? 0 : 1, 1, 0);
    quarn_ctor_set(outer, 0, inner);
    return outer;
}

}  // namespace quarn::uv
