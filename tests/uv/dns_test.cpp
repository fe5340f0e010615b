// Name resolution on resolver threads: localhost both ways, numeric addresses, names that
// do not exist, and text the resolver must never see.
#include <string>

#include "quarn/udp_dns_signal.h"
#include "uv_testing.h"

namespace {

using namespace uv_testing;
using DnsTest = UvTest;

Value text(const std::string &s) { return quarn_mk_string_unchecked(s.data(), s.size(), s.size()); }

std::string string_of(Value s) {
    auto *str = reinterpret_cast<quarn_string_object *>(s);
    return std::string(str->data, str->size - 1);
}

Value resolve(const std::string &host, const std::string &service, uint8_t family) {
    Value h = text(host), s = text(service);
    Value result = quarn_lean_uv_dns_get_info(h, s, family);
    quarn_dec(h);
    quarn_dec(s);
    return result;
}

TEST_F(DnsTest, LocalhostResolvesToLoopbackAddressesWithTheServicePort) {
    Value addresses = await_ok(ok(resolve("localhost", "80", 1)));
    ASSERT_GT(quarn_array_size(addresses), 0u);
    for (size_t i = 0; i < quarn_array_size(addresses); ++i) {
        Value address = quarn_array_uget_borrowed(addresses, i);
        EXPECT_EQ(quarn_obj_tag(address), 0u) << "an IPv4 address was asked for";
        EXPECT_EQ(ip_of(address), (std::vector<size_t>{127, 0, 0, 1}));
        EXPECT_EQ(port_of(address), 80u);
    }
    quarn_dec(addresses);

    addresses = await_ok(ok(resolve("::1", "", 0)));
    ASSERT_GT(quarn_array_size(addresses), 0u);
    EXPECT_EQ(quarn_obj_tag(quarn_array_uget_borrowed(addresses, 0)), 1u);
    EXPECT_EQ(ip_of(quarn_array_uget_borrowed(addresses, 0)), (std::vector<size_t>{0, 0, 0, 0, 0, 0, 0, 1}));
    quarn_dec(addresses);
}

TEST_F(DnsTest, ReverseLookUpNamesLoopback) {
    Value address = loopback_v4(22);
    Value pair = await_ok(ok(quarn_lean_uv_dns_get_name(address)));
    EXPECT_EQ(string_of(quarn_ctor_get(pair, 0)), "localhost");
    EXPECT_EQ(string_of(quarn_ctor_get(pair, 1)), "ssh");
    quarn_dec(pair);
    quarn_dec(address);
}

TEST_F(DnsTest, FailuresComeBackAsTheResolversCodes) {
    // No network here, only /etc/hosts: an unknown name is "not found", never a hang.
    ErrorSeen unknown = await_error(ok(resolve("no-such-host.invalid", "", 0)));
    EXPECT_TRUE(unknown.number == uint32_t(3008) || unknown.number == uint32_t(3001)) << unknown.number;
    ErrorSeen service = await_error(ok(resolve("localhost", "no-such-service", 0)));
    EXPECT_EQ(service.number, uint32_t(3010)) << service.details;
    // A NUL byte inside the name is EINVAL.
    Value h = quarn_mk_string_unchecked("local\0host", 10, 10), s = text("");
    EXPECT_EQ(await_error(ok(quarn_lean_uv_dns_get_info(h, s, 0))).number, uint32_t(EINVAL));
    quarn_dec(h);
    quarn_dec(s);
}

TEST_F(DnsTest, NonAsciiTextAndBadFamiliesFailAtOnce) {
    ErrorSeen name = error_of(resolve("caf\xC3\xA9.example", "", 0));
    EXPECT_EQ(name.kind, unsigned(KIT_INVALID_ARGUMENT));
    EXPECT_EQ(name.details, "name is not ASCII");
    ErrorSeen service = error_of(resolve("localhost", "h\xC3\xA9", 0));
    EXPECT_EQ(service.details, "service is not ASCII");
    EXPECT_EQ(error_of(resolve("localhost", "", 3)).number, uint32_t(EINVAL));
}

TEST_F(DnsTest, ManyLookUpsAtOnceAllFinish) {
    std::vector<Value> promises;
    for (int i = 0; i < 64; ++i) promises.push_back(ok(resolve("localhost", std::to_string(1000 + i), 1)));
    for (int i = 0; i < 64; ++i) {
        Value addresses = await_ok(promises[i]);
        ASSERT_GT(quarn_array_size(addresses), 0u);
        EXPECT_EQ(port_of(quarn_array_uget_borrowed(addresses, 0)), 1000u + i);
        quarn_dec(addresses);
    }
}

}  // namespace
