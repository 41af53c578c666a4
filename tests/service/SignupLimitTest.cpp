// The sign-up limit per address on a clock of the test's own, and the address groups
// the per-address limits count under.
#include "service/AddressGroup.h"
#include "service/SignupLimit.h"
#include "tests/service/DatabaseTest.h"

#include <gtest/gtest.h>

#include <string>

using service::AddressGroup;
using service::SignupLimit;

namespace {

using SignupLimitTest = DatabaseTest;

}  // namespace

TEST_F(SignupLimitTest, FewPerAddressWithinTheWindowAndUnusedPlacesGoBack) {
    int64_t now = 5000000;
    SignupLimit limit(db_, {3, 3600000, 100}, [&now] { return now; });
    EXPECT_TRUE(limit.Take("10.0.0.1"));
    now += 1000;
    EXPECT_TRUE(limit.Take("10.0.0.1"));
    EXPECT_TRUE(limit.Take("10.0.0.1"));
    EXPECT_FALSE(limit.Take("10.0.0.1"));
    EXPECT_TRUE(limit.Take("10.0.0.2")) << "another address has its own places";

    limit.GiveBack("10.0.0.1");  // a sign-up that made no account
    EXPECT_TRUE(limit.Take("10.0.0.1"));
    EXPECT_FALSE(limit.Take("10.0.0.1"));

    now += 3600000 - 1001;
    EXPECT_FALSE(limit.Take("10.0.0.1")) << "the hour of the first sign-up is not over";
    now += 1;
    EXPECT_TRUE(limit.Take("10.0.0.1")) << "the first sign-up left the window";
    EXPECT_FALSE(limit.Take("10.0.0.1"));
    now += 1000;
    EXPECT_TRUE(limit.Take("10.0.0.1"));
    EXPECT_TRUE(limit.Take("10.0.0.1"));
}

TEST_F(SignupLimitTest, MemoryStaysBounded) {
    int64_t now = 0;
    SignupLimit limit(db_, {2, 3600000, 50}, [&now] { return now; });
    for (int i = 0; i < 500; ++i) {
        ASSERT_TRUE(limit.Take("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256)));
        ++now;
        ASSERT_LE(limit.Size(), 50u);
    }
    EXPECT_TRUE(limit.Take("10.1.1.243"));
    EXPECT_FALSE(limit.Take("10.1.1.243")) << "the newest addresses are remembered";
}

TEST(AddressGroup, IPv4AsItIsIPv6ByItsNetwork) {
    EXPECT_EQ(AddressGroup("192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(AddressGroup("::ffff:192.0.2.7"), "192.0.2.7") << "IPv4-mapped";
    EXPECT_EQ(AddressGroup("2001:db8:1:2:aaaa:bbbb:cccc:dddd"), "2001:db8:1:2::/64");
    EXPECT_EQ(AddressGroup("2001:db8:1:2::1"), AddressGroup("2001:db8:1:2:ffff::9"));
    EXPECT_NE(AddressGroup("2001:db8:1:2::1"), AddressGroup("2001:db8:1:3::1"));
    EXPECT_EQ(AddressGroup("::1"), "::/64");
    EXPECT_EQ(AddressGroup("not an address"), "not an address");
    EXPECT_EQ(AddressGroup(""), "");
}
