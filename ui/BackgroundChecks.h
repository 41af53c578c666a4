// The main window's background work on the publishing service: the reference database
// update and the notifier run on threads of their own, the new-version question on the
// main thread at start-up. Until the service client exists every connection attempt
// fails, and is logged as a connection that failed; nothing is shown to the user.
#pragma once

#include <string>
#include <thread>

class AppConfig;

// Connects to the service host (port 80); logs why when it cannot. Returns false.
bool ConnectToService(const std::string& host, const char* module);
// True when the service reports a newer version than this program.
bool NewVersionAvailable(const AppConfig& cfg);

class BackgroundChecks {
public:
    explicit BackgroundChecks(const AppConfig& cfg) : cfg_(cfg) {}
    // Waits for both threads.
    ~BackgroundChecks();
    BackgroundChecks(const BackgroundChecks&) = delete;
    BackgroundChecks& operator=(const BackgroundChecks&) = delete;

    void Start();

private:
    const AppConfig& cfg_;
    std::thread reference_update_;
    std::thread notifier_;
};
