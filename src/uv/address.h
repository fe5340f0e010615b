// Socket addresses: between the Lean form (an IPv4 or IPv6 constructor around the IP
// address array and the port) and the system's sockaddr.
#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "quarn/object.h"

namespace quarn::uv {

enum class Family : uint8_t { IPv4 = 0, IPv6 = 1, None = 2 };

// An address as the runtime keeps it: the address bytes in network order (4 or 16 of
// them) and the port in host order.
struct NativeAddress {
    Family family = Family::None;
    uint8_t bytes[16] = {};
    uint16_t port = 0;
};

// A system address and its length.
struct SystemAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    const sockaddr *get() const noexcept { return reinterpret_cast<const sockaddr *>(&storage); }
};

// The Lean IP address (an array of 4 boxed octets or 8 boxed 16-bit groups, most
// significant first) of 4 or 16 bytes in network order. Returns an owned reference.
quarn_object *lean_ip_address(Family family, const uint8_t *bytes) noexcept;

// Reads a Lean IP address of the family into 4 or 16 bytes in network order; false when it
// is not one (not an array, the wrong length, an element out of range). Borrows ip.
bool native_ip_from_lean(quarn_object *ip, Family family, uint8_t *bytes) noexcept;

// Reads a Lean socket address; false when it is not one (a wrong constructor, an IP
// address of the wrong length, an octet or group out of range). Borrows address.
bool native_from_lean(quarn_object *address, NativeAddress &out) noexcept;

// The system form: AF_INET (16 bytes) or AF_INET6 (28 bytes, flow information and scope
// 0), the port in network order.
SystemAddress system_from_native(const NativeAddress &address) noexcept;

// The Lean form of an IPv4 or IPv6 system address; null for another family. Returns an
// owned reference.
quarn_object *lean_from_system(const sockaddr_storage &address) noexcept;

// The family of a system address (None for any but AF_INET and AF_INET6).
Family family_of(const sockaddr_storage &address) noexcept;

}  // namespace quarn::uv
