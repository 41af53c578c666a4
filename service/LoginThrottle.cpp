#include "service/LoginThrottle.h"

#include <algorithm>
#include <utility>

namespace service {

LoginThrottle::LoginThrottle(const ThrottleRules& rules, ThrottleClock clock)
    : rules_(rules), clock_(std::move(clock)) {}

int64_t LoginThrottle::WaitMs(const std::string& key) {
    const int64_t now = clock_();
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = entries_.find(key);
    if (found == entries_.end()) return 0;
    if (Stale(found->second, now)) {
        entries_.erase(found);
        return 0;
    }
    return std::max<int64_t>(0, found->second.wait_until - now);
}

void LoginThrottle::Failure(const std::string& key) {
    const int64_t now = clock_();
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = entries_.find(key);
    if (found == entries_.end()) {
        MakeRoom(now);
        found = entries_.emplace(key, Entry{}).first;
    } else if (Stale(found->second, now)) {
        found->second = Entry{};
    }
    Entry& entry = found->second;
    // The count stops growing long after the wait has reached its cap: it cannot overflow.
    if (entry.failures < rules_.free_failures + 62) ++entry.failures;
    entry.last_failure = now;
    const int beyond = entry.failures - rules_.free_failures;
    if (beyond <= 0) return;
    int64_t wait = rules_.first_wait_ms;
    for (int doubling = 1; doubling < beyond && wait < rules_.max_wait_ms; ++doubling) wait *= 2;
    entry.wait_until = now + std::min(wait, rules_.max_wait_ms);
}

void LoginThrottle::Success(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.erase(key);
}

size_t LoginThrottle::Size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

void LoginThrottle::MakeRoom(int64_t now) {
    if (entries_.size() < rules_.max_keys) return;
    std::erase_if(entries_, [&](const auto& item) { return Stale(item.second, now); });
    if (entries_.size() < rules_.max_keys || entries_.empty()) return;
    const auto oldest = std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
        return a.second.last_failure < b.second.last_failure;
    });
    entries_.erase(oldest);
}

}  // namespace service
