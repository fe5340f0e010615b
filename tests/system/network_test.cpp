// Interface addresses against getifaddrs, address text both ways, and random bytes made on
// their own thread and delivered through the event loop.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <set>
#include <string>
#include <vector>

#include "io_results.h"
#include "quarn/array.h"
#include "quarn/system.h"
#include "quarn/task.h"
#include "task/task.h"
#include "testing.h"

namespace {

using kit::expect_error;
using kit::ok;
using kit::text;

quarn_object *ip_array(std::initializer_list<size_t> elements) {
    quarn_object *array = quarn_lean_mk_empty_array_with_capacity(quarn_box(elements.size()));
    for (size_t e : elements) array = quarn_lean_array_push(array, quarn_box(e));
    return array;
}

std::vector<size_t> elements_of(quarn_object *array) {
    std::vector<size_t> out;
    for (size_t i = 0; i < quarn_array_size(array); ++i) out.push_back(quarn_unbox(quarn_array_uget_borrowed(array, i)));
    return out;
}

class NetworkTest : public kit::LiveObjectsTest {};

TEST_F(NetworkTest, InterfaceAddressesAreTheUpAndRunningOnesOfTheSystem) {
    std::multiset<std::string> expected;
    ifaddrs *list = nullptr;
    ASSERT_EQ(getifaddrs(&list), 0);
    for (ifaddrs *i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || (i->ifa_flags & IFF_UP) == 0 || (i->ifa_flags & IFF_RUNNING) == 0) continue;
        int family = i->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        char text[INET6_ADDRSTRLEN];
        const void *bytes = family == AF_INET ? static_cast<const void *>(&reinterpret_cast<sockaddr_in *>(i->ifa_addr)->sin_addr)
                                              : static_cast<const void *>(&reinterpret_cast<sockaddr_in6 *>(i->ifa_addr)->sin6_addr);
        inet_ntop(family, bytes, text, sizeof text);
        expected.insert(std::string(i->ifa_name) + " " + text);
    }
    freeifaddrs(list);

    quarn_object *entries = ok(quarn_lean_uv_interface_addresses());
    std::multiset<std::string> seen;
    bool loopback_internal = false;
    for (size_t k = 0; k < quarn_array_size(entries); ++k) {
        quarn_object *entry = quarn_array_uget_borrowed(entries, k);
        quarn_object *address = quarn_ctor_get(entry, 2);
        quarn_object *ip = quarn_ctor_get(quarn_ctor_get(address, 0), 0);
        quarn_object *as_text = ok(quarn_obj_tag(address) == 0 ? quarn_lean_uv_ntop_v4(ip) : quarn_lean_uv_ntop_v6(ip));
        std::string name = kit::string_value(quarn_ctor_get(entry, 0));
        seen.insert(name + " " + kit::string_value(as_text));
        quarn_dec(as_text);
        EXPECT_EQ(quarn_array_size(quarn_ctor_get(entry, 1)), 6u);
        EXPECT_EQ(quarn_obj_tag(quarn_ctor_get(entry, 3)), quarn_obj_tag(address)) << "netmask of the same family";
        if (name == "lo") loopback_internal = quarn_ctor_scalar_area(entry)[0] == 1;
    }
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(loopback_internal);
    quarn_dec(entries);
}

TEST_F(NetworkTest, AddressTextGoesBothWaysAndMalformedTextIsRefused) {
    quarn_object *t = text("192.168.0.255");
    quarn_object *v4 = ok(quarn_lean_uv_pton_v4(t));
    EXPECT_EQ(elements_of(v4), (std::vector<size_t>{192, 168, 0, 255}));
    quarn_object *back = ok(quarn_lean_uv_ntop_v4(v4));
    EXPECT_EQ(kit::string_value(back), "192.168.0.255");
    quarn_object *t6 = text("2001:db8::ff00:42:8329");
    quarn_object *v6 = ok(quarn_lean_uv_pton_v6(t6));
    EXPECT_EQ(elements_of(v6), (std::vector<size_t>{0x2001, 0xdb8, 0, 0, 0, 0xff00, 0x42, 0x8329}));
    quarn_object *back6 = ok(quarn_lean_uv_ntop_v6(v6));
    EXPECT_EQ(kit::string_value(back6), "2001:db8::ff00:42:8329");
    for (quarn_object *o : {t, v4, back, t6, v6, back6}) quarn_dec(o);

    for (const char *bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", "::1", "a.b.c.d"}) {
        quarn_object *s = text(bad);
        expect_error(quarn_lean_uv_pton_v4(s), KIT_INVALID_ARGUMENT, EINVAL, nullptr);
        quarn_dec(s);
    }
    for (const char *bad : {"", "1.2.3.4", ":::", "1::2::3", "12345::"}) {
        quarn_object *s = text(bad);
        expect_error(quarn_lean_uv_pton_v6(s), KIT_INVALID_ARGUMENT, EINVAL, nullptr);
        quarn_dec(s);
    }
    quarn_object *nul = quarn_mk_string_unchecked("1.2.3.4\0", 8, 8);
    expect_error(quarn_lean_uv_pton_v4(nul), KIT_INVALID_ARGUMENT, EINVAL, nullptr);
    quarn_dec(nul);
    // Arrays that are not addresses: the wrong length, an element out of range.
    for (quarn_object *bad : {ip_array({1, 2, 3}), ip_array({1, 2, 3, 256})}) {
        expect_error(quarn_lean_uv_ntop_v4(bad), KIT_INVALID_ARGUMENT, EINVAL, nullptr);
        quarn_dec(bad);
    }
    quarn_object *big_group = ip_array({0, 0, 0, 0, 0, 0, 0, 0x10000});
    expect_error(quarn_lean_uv_ntop_v6(big_group), KIT_INVALID_ARGUMENT, EINVAL, nullptr);
    quarn_dec(big_group);
}

// The bytes of a resolved random-bytes promise.
std::vector<uint8_t> random_bytes(uint64_t n) {
    quarn_object *promise = ok(quarn_lean_uv_random(n));
    quarn_object *task = quarn_lean_io_promise_result_opt(promise);
    auto *t = reinterpret_cast<quarn_task_object *>(task);
    kit::wait_until([t] { return quarn::task::value_of(t) != nullptr; }, "random bytes");
    quarn_object *some = quarn_lean_io_wait(task);
    quarn_dec(promise);
    EXPECT_EQ(quarn_obj_tag(some), 1u);
    quarn_object *except = quarn_ctor_get(some, 0);
    EXPECT_EQ(quarn_obj_tag(except), 1u);
    auto *bytes = reinterpret_cast<quarn_sarray_object *>(quarn_ctor_get(except, 0));
    std::vector<uint8_t> out(bytes->data, bytes->data + bytes->size);
    quarn_dec(some);
    return out;
}

TEST_F(NetworkTest, RandomBytesArriveThroughThePromise) {
    quarn::task::start_manager(2);
    EXPECT_TRUE(random_bytes(0).empty());
    std::vector<uint8_t> a = random_bytes(1 << 20), b = random_bytes(1 << 20);
    ASSERT_EQ(a.size(), size_t{1} << 20);
    EXPECT_NE(a, b);
    std::set<uint8_t> values(a.begin(), a.end());
    EXPECT_EQ(values.size(), 256u) << "a megabyte of random bytes holds every byte value";
    // Sizes no memory can hold are refused before anything is allocated.
    expect_error(quarn_lean_uv_random(uint64_t{1} << 62), KIT_RESOURCE_EXHAUSTED, ENOMEM, nullptr);
    expect_error(quarn_lean_uv_random(UINT64_MAX), KIT_RESOURCE_EXHAUSTED, ENOMEM, nullptr);
    quarn::task::finalize_manager();
}

}  // namespace
