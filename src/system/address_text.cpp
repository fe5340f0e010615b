// IP addresses between their Lean form (arrays of octets or of 16-bit groups) and text.
#include <arpa/inet.h>

#include "quarn/system.h"
#include "system/results.h"
#include "uv/address.h"

using namespace quarn::system;
using quarn::uv::Family;

namespace {

quarn_object *to_text(quarn_object *ip, Family family) noexcept {
    uint8_t bytes[16];
    if (!quarn::uv::native_ip_from_lean(ip, family, bytes)) return error_number(EINVAL);
    char text[INET6_ADDRSTRLEN];
    if (::inet_ntop(family == Family::IPv4 ? AF_INET : AF_INET6, bytes, text, sizeof text) == nullptr)
        return error_number(errno);
    return ok_text(text);
}

quarn_object *from_text(quarn_object *text, Family family) noexcept {
    std::string_view bytes_of_text = bytes_of(text);
    if (bytes_of_text.find('\0') != std::string_view::npos) return error_number(EINVAL);
    uint8_t bytes[16];
    if (::inet_pton(family == Family::IPv4 ? AF_INET : AF_INET6, bytes_of_text.data(), bytes) != 1)
        return error_number(EINVAL);
    return quarn::io::io_ok(quarn::uv::lean_ip_address(family, bytes));
}

}  // namespace

extern "C" quarn_object *quarn_lean_uv_ntop_v4(quarn_object *ip) noexcept { return to_text(ip, Family::IPv4); }
extern "C" quarn_object *quarn_lean_uv_ntop_v6(quarn_object *ip) noexcept { return to_text(ip, Family::IPv6); }
extern "C" quarn_object *quarn_lean_uv_pton_v4(quarn_object *text) noexcept { return from_text(text, Family::IPv4); }
extern "C" quarn_object *quarn_lean_uv_pton_v6(quarn_object *text) noexcept { return from_text(text, Family::IPv6); }
