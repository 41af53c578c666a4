#include "service/SignupLimit.h"

#include <algorithm>
#include <utility>

namespace service {

SignupLimit::SignupLimit(const SignupRules& rules, ThrottleClock clock) : rules_(rules), clock_(std::move(clock)) {}

bool SignupLimit::Take(const std::string& key) {
    const int64_t now = clock_();
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = taken_.find(key);
    if (found == taken_.end()) {
        MakeRoom(now);
        found = taken_.emplace(key, std::deque<int64_t>()).first;
    }
    std::deque<int64_t>& times = found->second;
    Expire(times, now);
    if (times.size() >= static_cast<size_t>(rules_.max_accounts)) return false;
    times.push_back(now);
    return true;
}

void SignupLimit::GiveBack(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = taken_.find(key);
    if (found == taken_.end() || found->second.empty()) return;
    found->second.pop_back();
    if (found->second.empty()) taken_.erase(found);
}

size_t SignupLimit::Size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return taken_.size();
}

void SignupLimit::Expire(std::deque<int64_t>& times, int64_t now) const {
    while (!times.empty() && now - times.front() >= rules_.window_ms) times.pop_front();
}

void SignupLimit::MakeRoom(int64_t now) {
    if (taken_.size() < rules_.max_keys) return;
    std::erase_if(taken_, [&](const auto& item) {
        return item.second.empty() || now - item.second.back() >= rules_.window_ms;
    });
    if (taken_.size() < rules_.max_keys || taken_.empty()) return;
    const auto oldest = std::min_element(taken_.begin(), taken_.end(),
                                         [](const auto& a, const auto& b) { return a.second.back() < b.second.back(); });
    taken_.erase(oldest);
}

}  // namespace service
