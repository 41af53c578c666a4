// The login throttle on a clock of the test's own: growing waits after a burst of
// failures, a right password clearing them, forgetting, and bounded memory.
#include "service/LoginThrottle.h"
#include "tests/service/DatabaseTest.h"

#include <gtest/gtest.h>

#include <string>

using service::LoginThrottle;
using service::ThrottleRules;

namespace {

// 3 free failures, then 1 s doubling up to 8 s; forgotten after a minute; 100 keys.
constexpr ThrottleRules kRules{3, 1000, 8000, 60000, 100};

class LoginThrottleTest : public DatabaseTest {
protected:
    int64_t now_ = 1000000;
    LoginThrottle throttle_{db_, "account", kRules, [this] { return now_; }};
};

}  // namespace

TEST_F(LoginThrottleTest, BurstOfFailuresGetsWaitsDoublingUpToTheCap) {
    for (int i = 0; i < 3; ++i) {
        throttle_.Failure("ann");
        EXPECT_EQ(throttle_.WaitMs("ann"), 0) << "free failure " << i + 1;
    }
    for (int64_t expected : {1000, 2000, 4000, 8000, 8000, 8000}) {
        throttle_.Failure("ann");
        EXPECT_EQ(throttle_.WaitMs("ann"), expected);
        now_ += 400;
        EXPECT_EQ(throttle_.WaitMs("ann"), expected - 400) << "the wait runs down";
        now_ += expected - 400;
        EXPECT_EQ(throttle_.WaitMs("ann"), 0) << "over after " << expected << " ms";
    }
    EXPECT_EQ(throttle_.WaitMs("bob"), 0) << "other keys are not slowed";
}

TEST_F(LoginThrottleTest, RightPasswordAfterTheWaitClearsTheCount) {
    for (int i = 0; i < 5; ++i) throttle_.Failure("ann");
    EXPECT_EQ(throttle_.WaitMs("ann"), 2000);
    now_ += 2000;
    throttle_.Success("ann");
    EXPECT_EQ(throttle_.Size(), 0u);
    for (int i = 0; i < 3; ++i) throttle_.Failure("ann");
    EXPECT_EQ(throttle_.WaitMs("ann"), 0) << "the free failures are free again";
    throttle_.Failure("ann");
    EXPECT_EQ(throttle_.WaitMs("ann"), 1000) << "and the waits start over";
}

TEST_F(LoginThrottleTest, CountIsForgottenAfterAQuietSpell) {
    for (int i = 0; i < 8; ++i) throttle_.Failure("ann");
    EXPECT_EQ(throttle_.WaitMs("ann"), 8000);
    now_ += 59999;
    throttle_.Failure("ann");
    EXPECT_EQ(throttle_.WaitMs("ann"), 8000) << "a minute has not passed since the last failure";
    now_ += 60000;
    EXPECT_EQ(throttle_.WaitMs("ann"), 0);
    EXPECT_EQ(throttle_.Size(), 0u) << "a forgotten key is dropped when looked at";
    for (int i = 0; i < 3; ++i) throttle_.Failure("ann");
    EXPECT_EQ(throttle_.WaitMs("ann"), 0) << "counting starts afresh";
}

TEST_F(LoginThrottleTest, MemoryStaysBoundedDroppingTheStalestKeys) {
    // A spray over many keys (addresses, or accounts): the table never outgrows its
    // bound, and the keys failing now are the ones it keeps.
    LoginThrottle strict(db_, "address", {0, 1000, 8000, 60000, 100}, [this] { return now_; });
    for (int i = 0; i < 1000; ++i) {
        strict.Failure("key" + std::to_string(i));
        ++now_;
        ASSERT_LE(strict.Size(), 100u);
    }
    EXPECT_GT(strict.WaitMs("key999"), 0);
    EXPECT_GT(strict.WaitMs("key901"), 0);
    EXPECT_EQ(strict.WaitMs("key0"), 0);

    // Once the remembered keys are stale, a new key clears them all at once.
    now_ += 60000;
    strict.Failure("fresh");
    EXPECT_EQ(strict.Size(), 1u);
}
