// A publisher talking to the publishing service through nginx (NginxFront) the way the
// desktop program does: an empty probe POST before every message, the session key and
// the open update's id in headers, files whole or in 48 KiB chunks, a book published or
// updated as one staged update committed with its manifest. A message that gets no
// answer or a 5xx or 429 is sent again after a pause (as the program's retries do), so a
// service process dying under it costs a retry and nothing else. It logs in once;
// Logins() tells how often it had to.
#pragma once

#include "tests/publish/NginxFront.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

// A book as it is on the publisher's disk: relative path -> bytes.
using BookFiles = std::map<std::string, std::string>;

class FrontPublisher {
public:
    // Connects from `source_address` (a 127.0.0.x of its own, so that nginx's limits
    // per address count it alone).
    FrontPublisher(const NginxFront& front, std::string source_address);
    ~FrontPublisher();
    FrontPublisher(const FrontPublisher&) = delete;
    FrontPublisher& operator=(const FrontPublisher&) = delete;

    // Makes the account and logs in; false (with Failure() set) when either fails.
    bool SignUpAndLogIn(const std::string& email, const std::string& password);
    // Publishes `files` (those of `changed` only; all when it is empty) as book `key`
    // with `title`, in one staged update; its manifest lists every file of `files`.
    // `local` is where the book's files are written on the publisher's disk.
    bool Publish(const std::string& key, const std::string& title, const BookFiles& files,
                 const std::vector<std::string>& changed, const std::filesystem::path& local);

    int Logins() const { return logins_; }
    // Answers "not logged in" the service gave (none, unless a session was lost).
    int LostSessions() const { return lost_sessions_; }
    // Sends that had to be repeated.
    int Retries() const { return retries_; }
    const std::string& Failure() const { return failure_; }
    // Seconds each answered request took, for the benchmark.
    const std::vector<double>& AnswerSeconds() const { return answer_seconds_; }
    int FilesSent() const { return files_sent_; }

private:
    // One message (probe, then body) with retries; the reply of the body.
    FrontReply Exchange(const std::string& body, const std::vector<std::string>& headers, bool& repeated);
    FrontReply SendOnce(const std::string& path, const std::string& body, const std::string& type,
                        const std::vector<std::string>& headers);
    bool Upload(const std::string& key, const std::string& path, const std::string& data);
    bool Expect(const FrontReply& reply, const std::string& what);

    const NginxFront& front_;
    void* connection_;  // the kept connection (a libcurl easy handle)
    std::string source_address_;
    std::string session_key_;
    std::string update_id_;
    long long token_ = 0;
    int logins_ = 0;
    int lost_sessions_ = 0;
    int retries_ = 0;
    int files_sent_ = 0;
    std::string failure_;
    std::vector<double> answer_seconds_;
};
