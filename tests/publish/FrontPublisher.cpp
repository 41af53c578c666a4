#include "tests/publish/FrontPublisher.h"

#include "config/BookManifest.h"
#include "tests/helpers/TempHome.h"
#include "tests/service/ServiceFixture.h"

#include <algorithm>
#include <chrono>
#include <curl/curl.h>
#include <thread>

namespace fs = std::filesystem;
namespace bodies = service_bodies;

namespace {

constexpr const char* kServicePath = "/vellumark/standalone.ashx";
constexpr int kChunkKib = 48;
// About 20 s of retries: long enough for nginx to leave a dead process out.
constexpr int kTries = 60;

bool Shed(const FrontReply& reply) { return reply.status == 0 || reply.status == 429 || reply.status >= 500; }

// The service's answer form of a text: its length in 16 NUL-padded bytes, then the text.
std::string LengthPrefixed(const std::string& text) {
    std::string reply = std::to_string(text.size());
    reply.resize(16, '\0');
    return reply + text;
}

}  // namespace

FrontPublisher::FrontPublisher(const NginxFront& front, std::string source_address)
    : front_(front), connection_(curl_easy_init()), source_address_(std::move(source_address)) {}

FrontPublisher::~FrontPublisher() { curl_easy_cleanup(connection_); }

FrontReply FrontPublisher::SendOnce(const std::string& path, const std::string& body, const std::string& type,
                                    const std::vector<std::string>& headers) {
    FrontRequest request;
    request.method = "POST";
    request.path = path;
    request.body = body;
    request.source_address = source_address_;
    request.headers = headers;
    request.headers.push_back("Content-Type: " + type);
    if (!session_key_.empty()) request.headers.push_back("X-Vellumark-Session: " + session_key_);
    const auto start = std::chrono::steady_clock::now();
    FrontReply reply = front_.Send(request, connection_);
    if (!Shed(reply))
        answer_seconds_.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return reply;
}

FrontReply FrontPublisher::Exchange(const std::string& body, const std::vector<std::string>& headers, bool& repeated) {
    repeated = false;
    FrontReply reply;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (attempt > 0) {
            repeated = true;
            ++retries_;
            std::this_thread::sleep_for(std::chrono::milliseconds(100 + 50 * std::min(attempt, 6)));
        }
        const FrontReply probe = SendOnce(kServicePath, std::string(), "application/octet-stream", headers);
        if (Shed(probe)) continue;
        reply = SendOnce(kServicePath, body, "application/octet-stream", headers);
        if (!Shed(reply)) break;
    }
    if (reply.body == "ERR:not logged in") ++lost_sessions_;
    return reply;
}

bool FrontPublisher::Expect(const FrontReply& reply, const std::string& what) {
    if (reply.body == "OK") return true;
    failure_ = what + ": status " + std::to_string(reply.status) + " " + reply.body.substr(0, 200);
    return false;
}

bool FrontPublisher::SignUpAndLogIn(const std::string& email, const std::string& password) {
    FrontReply made;
    int attempt = 0;
    for (; attempt < kTries && (attempt == 0 || Shed(made)); ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
        made = SendOnce("/createPubAccount.asp", "email=" + email + "&password=" + password,
                        "application/x-www-form-urlencoded", {});
    }
    // Sent again after its answer was lost, the sign-up finds the account it made.
    const bool made_before = attempt > 1 && made.status == 409;
    if (made.status != 200 && !made_before) {
        failure_ = "sign-up: status " + std::to_string(made.status);
        return false;
    }
    bool repeated = false;
    const FrontReply login = Exchange(bodies::Login(email, password), {}, repeated);
    ++logins_;
    token_ = std::atoll(login.body.c_str());
    session_key_ = login.Header("x-vellumark-session");
    if (token_ > 0 && !session_key_.empty()) return true;
    failure_ = "login: status " + std::to_string(login.status) + " " + login.body;
    return false;
}

bool FrontPublisher::Upload(const std::string& key, const std::string& path, const std::string& data) {
    const size_t slash = path.find('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::vector<std::string> headers = {"X-Vellumark-Update: " + update_id_, bodies::FileSizeHeader(data.size())};
    const size_t chunk = kChunkKib * 1024;
    bool repeated = false;
    ++files_sent_;
    if (data.size() <= chunk) return Expect(Exchange(bodies::Upload(key, name, folder, data), headers, repeated), path);
    for (size_t k = 0; k * chunk < data.size(); ++k) {
        const std::string body =
            bodies::Upload(key, name, folder, data.substr(k * chunk, chunk), static_cast<int>(k), kChunkKib);
        if (!Expect(Exchange(body, headers, repeated), path + " chunk " + std::to_string(k))) return false;
    }
    return true;
}

bool FrontPublisher::Publish(const std::string& key, const std::string& title, const BookFiles& files,
                             const std::vector<std::string>& changed, const fs::path& local) {
    fs::remove_all(local);
    BookManifest manifest;
    manifest.book_key = key;
    for (const auto& [path, bytes] : files) {  // a map: sorted by path
        WriteFileBytes(local / path, bytes);
        manifest.entries.push_back({path, static_cast<int64_t>(bytes.size()), FileSha256(local / path)});
    }
    bool repeated = false;
    // Begun again by the same session after a lost answer, it is the same update.
    update_id_.clear();
    FrontReply begun;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        begun = Exchange("stag" + key, {}, repeated);
        if (begun.body.rfind("ERR:busy:", 0) != 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (!Expect(begun, "begin")) return false;
    update_id_ = begun.Header("x-vellumark-update");
    const std::vector<std::string> in_update = {"X-Vellumark-Update: " + update_id_};
    const FrontReply meta =
        Exchange(bodies::Metadata(key, token_, title, "d", "t", "book.pdf", 2), in_update, repeated);
    if (meta.body.rfind("OK", 0) != 0) return Expect(meta, "metadata");
    for (const auto& [path, bytes] : files) {
        const bool send = changed.empty() || std::find(changed.begin(), changed.end(), path) != changed.end();
        if (send && !Upload(key, path, bytes)) return false;
    }
    const FrontReply committed = Exchange("comm" + key + manifest.Text(), in_update, repeated);
    if (committed.body == "OK") return true;
    // A commit whose answer was lost is refused when sent again: the live manifest
    // tells whether it took.
    if (repeated && Exchange("mani" + key, {}, repeated).body == LengthPrefixed(manifest.Text())) return true;
    return Expect(committed, "commit");
}
