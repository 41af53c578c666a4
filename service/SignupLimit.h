// Slows down sign-up floods: at most a few new accounts per address within a time
// window. A sign-up takes its place before the slow password hash runs, so sign-ups
// sent at the same moment cannot all slip through; one that made no account gives its
// place back. Safe to use from several threads; its memory is bounded by max_keys.
#pragma once

#include "service/AccountLimits.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

namespace service {

class SignupLimit {
public:
    SignupLimit(const SignupRules& rules, ThrottleClock clock);

    // Takes one of `key`'s sign-ups within the window; false when all are taken.
    bool Take(const std::string& key);
    // Gives back the newest sign-up `key` took, which made no account.
    void GiveBack(const std::string& key);
    // Keys remembered now.
    size_t Size();

private:
    // Forgets the sign-ups of `times` older than the window.
    void Expire(std::deque<int64_t>& times, int64_t now) const;
    // Frees a place for one more key: the keys with no sign-up in the window go, and if
    // none did, the one whose newest sign-up is the oldest.
    void MakeRoom(int64_t now);

    const SignupRules rules_;
    const ThrottleClock clock_;
    std::mutex mutex_;
    std::unordered_map<std::string, std::deque<int64_t>> taken_;  // times, oldest first
};

}  // namespace service
