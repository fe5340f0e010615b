// The addresses of the machine's network interfaces that are up and running.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>

#include <cstring>

#include "array/array_alloc.h"
#include "quarn/system.h"
#include "system/results.h"
#include "uv/address.h"

namespace {

// One interface address as the system lists it.
struct Entry {
    const char *name;
    uint8_t physical[6] = {};
    bool internal;
    sockaddr_storage address{};
    sockaddr_storage netmask{};
};

bool up_and_running(const ifaddrs *i) noexcept {
    return (i->ifa_flags & IFF_UP) != 0 && (i->ifa_flags & IFF_RUNNING) != 0;
}

// A socket address of the family, all zero (port 0) when the system gave none.
quarn_object *address_or_zero(const sockaddr_storage &address, int family) noexcept {
    if (address.ss_family == AF_INET || address.ss_family == AF_INET6) return quarn::uv::lean_from_system(address);
    sockaddr_storage zero{};
    zero.ss_family = static_cast<sa_family_t>(family);
    return quarn::uv::lean_from_system(zero);
}

void copy_address(const sockaddr *from, sockaddr_storage &to) noexcept {
    if (from == nullptr) return;
    size_t size = from->sa_family == AF_INET ? sizeof(sockaddr_in) : from->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : 0;
    std::memcpy(&to, from, size);
}

}  // namespace

extern "C" quarn_object *quarn_lean_uv_interface_addresses(void) noexcept {
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return quarn::io::io_error(quarn::io::invalid_argument_error("failed to get interface addresses"));
    quarn::Vector<Entry> entries;
    for (ifaddrs *i = list; i != nullptr; i = i->ifa_next) {
        if (!up_and_running(i) || i->ifa_addr == nullptr) continue;
        int family = i->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        Entry entry{i->ifa_name, {}, (i->ifa_flags & IFF_LOOPBACK) != 0};
        copy_address(i->ifa_addr, entry.address);
        copy_address(i->ifa_netmask, entry.netmask);
        entries.push_back(entry);
    }
    // The hardware addresses come from the link-layer entries of the same interfaces.
    for (ifaddrs *i = list; i != nullptr; i = i->ifa_next) {
        if (!up_and_running(i) || i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_PACKET) continue;
        const auto *link = reinterpret_cast<const sockaddr_ll *>(i->ifa_addr);
        for (Entry &entry : entries)
            if (std::strcmp(entry.name, i->ifa_name) == 0) std::memcpy(entry.physical, link->sll_addr, 6);
    }
    quarn_array_object *array = quarn::array::allocate_array(entries.size(), entries.size());
    for (size_t k = 0; k < entries.size(); ++k) {
        const Entry &entry = entries[k];
        quarn_array_object *physical = quarn::array::allocate_array(6, 6);
        for (size_t b = 0; b < 6; ++b) physical->data[b] = quarn_box(entry.physical[b]);
        quarn_object *record = quarn_alloc_ctor(0, 4, 1);
        quarn_ctor_set(record, 0, quarn::system::text(entry.name));
        quarn_ctor_set(record, 1, &physical->header);
        quarn_ctor_set(record, 2, address_or_zero(entry.address, entry.address.ss_family));
        quarn_ctor_set(record, 3, address_or_zero(entry.netmask, entry.address.ss_family));
        quarn_ctor_scalar_area(record)[0] = entry.internal ? 1 : 0;
        array->data[k] = record;
    }
    ::freeifaddrs(list);
    return quarn::io::io_ok(&array->header);
}
