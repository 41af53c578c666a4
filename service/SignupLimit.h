// Slows down sign-up floods: at most a few new accounts per address within a time
// window. A sign-up takes its place before the slow password hash runs, so sign-ups
// sent at the same moment cannot all slip through; one that made no account gives its
// place back. The places are kept in the service's database (table signup), so every
// service process on one database counts them together. At most max_keys addresses
// are kept.
#pragma once

#include "service/AccountLimits.h"
#include "service/ServiceDatabase.h"

#include <cstdint>
#include <string>

namespace service {

class SignupLimit {
public:
    SignupLimit(ServiceDatabase& db, const SignupRules& rules, ThrottleClock clock);

    // Takes one of `key`'s sign-ups within the window; false when all are taken.
    bool Take(const std::string& key);
    // Gives back the newest sign-up `key` took, which made no account.
    void GiveBack(const std::string& key);
    // Keys remembered now.
    size_t Size();

private:
    // Keeps at most max_keys addresses: the ones with no sign-up in the window go, and
    // if that is not enough, the ones whose newest sign-up is the oldest.
    bool Bound(int64_t now);
    bool TakeInTransaction(const std::string& key, int64_t now);

    ServiceDatabase& db_;
    const SignupRules rules_;
    const ThrottleClock clock_;
};

}  // namespace service
