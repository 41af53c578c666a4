// The main window's background work on the publishing service: the reference database
// update and the notifier start with the window, the new-version check with the first
// start-up tick. Each runs on a thread of its own so that a slow or unreachable service
// never holds up the window; results reach the caller through callbacks that run on
// the check's thread. Failures are logged; nothing is shown for them.
#pragma once

#include "publish/PublishSettings.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class AppConfig;
struct sqlite3;

// What the notifier page asks the window to show: the page at `url` in a pop-up of the
// given size.
struct NotifierNotice {
    std::string url;
    int width = 640;
    int height = 480;
};

// Reads the notifier page's "key=value" lines; true when it asks for a pop-up (a `url`
// and `show` exactly "1").
bool ParseNotifierText(const std::string& text, NotifierNotice& notice);
// The notifier page of the service `host` (which may carry a scheme and a port); empty
// when the host cannot be used.
std::string NotifierAddress(const std::string& host);

class BackgroundChecks {
public:
    using VersionAnswer = std::function<void(bool newer)>;
    using NoticeFound = std::function<void(const NotifierNotice& notice, const std::string& page)>;

    explicit BackgroundChecks(const AppConfig& cfg) : cfg_(cfg) {}
    // Waits for every thread that was started.
    ~BackgroundChecks();
    BackgroundChecks(const BackgroundChecks&) = delete;
    BackgroundChecks& operator=(const BackgroundChecks&) = delete;

    // Starts the reference update and the notifier; `found` is called (on the notifier's
    // thread) with the notice and the fetched page when there is something to show.
    void Start(NoticeFound found);
    // Asks the service whether a newer build exists; `answer` is called only when the
    // service could be asked.
    void CheckVersion(VersionAnswer answer);
    // True while a check is still at work (waiting on the service, say). Without a
    // service address no check starts.
    bool Running() const { return running_.load() > 0; }

private:
    // Counts a check from before its thread starts until its last step.
    struct RunningMark;

    const AppConfig& cfg_;
    std::atomic<int> running_{0};
    std::thread reference_update_;
    std::thread notifier_;
    std::thread version_check_;
};
