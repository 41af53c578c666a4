#include "ui/BackgroundChecks.h"

#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "pipeline/PdfJob.h"
#include "publish/FetchUrlText.h"
#include "publish/ServiceAddress.h"
#include "publish/Uploader.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>

namespace {

constexpr const char* kModule = "MainDlg";
constexpr uint16_t kServicePort = 80;
// The network time-out of the checks, at most this (each request's deadlines derive
// from it: a silent or trickling service is given up after about this long). The window
// never waits for the checks, but a quit does (the threads are joined), and the program
// keeps its single-instance lock until then.
constexpr int32_t kCheckTimeoutMs = 10000;

// The service as one check sees it: a session of its own, closed when the check ends.
struct ServiceTarget {
    std::string host;
    std::string path;
    PublishSettings settings;
};

ServiceTarget TargetFrom(const AppConfig& cfg)
{
    ServiceTarget target{cfg.m_vazirudu_domain, cfg.m_vazirudu_url, PublishSettingsFrom(cfg)};
    target.settings.net_timeout_ms = std::min(target.settings.net_timeout_ms, kCheckTimeoutMs);
    return target;
}

// Opens a session on the service and sends the empty request every message starts
// with. False, logged, when the host is empty or the service cannot be reached.
bool Connect(Uploader& client, const ServiceTarget& target)
{
    if (target.host.empty()) {
        DIAG(kModule, 0, "ERR:m_vazirudu_domain empty");
        return false;
    }
    client.SetHttpTarget(target.host, kServicePort, target.path);
    if (!client.ConnectHttp() || !client.Authenticate()) {
        DIAG(kModule, 0, "ERR:http_connect failed");
        return false;
    }
    return true;
}

// A pop-up far larger than any screen, or of no size at all, helps no one.
int SaneSize(long value, int fallback)
{
    if (value < 100 || value > 4096)
        return fallback;
    return static_cast<int>(value);
}

}  // namespace

bool ParseNotifierText(const std::string& text, NotifierNotice& notice)
{
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;  // the line feed that follows ends the line
        lines += text[i] == '\r' ? '\n' : text[i];
    }
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start <= lines.size()) {
        size_t end = lines.find('\n', start);
        if (end == std::string::npos)
            end = lines.size();
        const std::string line = lines.substr(start, end - start);
        const size_t first = line.find('=');
        if (first != std::string::npos) {
            // A value ends at the next equals sign.
            const size_t second = line.find('=', first + 1);
            values[line.substr(0, first)] = line.substr(first + 1, second == std::string::npos ? second : second - first - 1);
        }
        start = end + 1;
    }
    const auto url = values.find("url");
    const auto show = values.find("show");
    if (url == values.end() || show == values.end() || show->second != "1")
        return false;
    notice.url = url->second;
    const auto width = values.find("width");
    const auto height = values.find("height");
    notice.width = width == values.end() ? 640 : SaneSize(std::strtol(width->second.c_str(), nullptr, 10), 640);
    notice.height = height == values.end() ? 480 : SaneSize(std::strtol(height->second.c_str(), nullptr, 10), 480);
    return true;
}

std::string NotifierAddress(const std::string& host)
{
    ServiceAddress address;
    if (!ParseServiceAddress(host, kServicePort, address))
        return {};
    return ServiceUrl(address, "/vellumark/corvanenotifier.aspx?ver=" + std::string(AppConfig::kVersion) +
                                   "bld=" + std::to_string(AppConfig::kBuildStamp));
}

struct BackgroundChecks::RunningMark {
    explicit RunningMark(std::atomic<int>& count) : count_(count) { ++count_; }
    ~RunningMark() { --count_; }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;
    std::atomic<int>& count_;
};

BackgroundChecks::~BackgroundChecks()
{
    for (std::thread* thread : {&reference_update_, &notifier_, &version_check_})
        if (thread->joinable())
            thread->join();
}

void BackgroundChecks::Start(NoticeFound found)
{
    // Without a service address there is no service to ask: nothing reaches the network.
    if (cfg_.m_vazirudu_domain.empty()) {
        DIAG(kModule, 0, "INF:no publishing service set, no start-up checks");
        return;
    }
    // The threads get copies of what they read: the settings may change while they run.
    sqlite3* db = cfg_.db();
    reference_update_ = std::thread([target = TargetFrom(cfg_), db,
                                     mark = std::make_shared<RunningMark>(running_)]() mutable {
        DIAG(kModule, 0, "INF:callback_update_db called");
        std::atomic<int32_t> progress{0};
        std::atomic<int32_t> state{JOB_STATE_RUNNING};
        Uploader client(&progress, &state, target.settings);
        if (!Connect(client, target))
            return;
        // The client holds the reference update flag while it writes the database.
        const int32_t result = client.UpdateReferenceDb(db);
        if (result != 0)
            DIAG(kModule, 0, "ERR:reference database not updated (%d)", result);
    });
    // The notifier's fetches keep the same deadlines as the checks on the service.
    notifier_ = std::thread([address = NotifierAddress(cfg_.m_vazirudu_domain),
                             mark = std::make_shared<RunningMark>(running_),
                             timeout_ms = TargetFrom(cfg_).settings.net_timeout_ms, found = std::move(found)] {
        if (address.empty())
            return;
        NotifierNotice notice;
        if (!ParseNotifierText(FetchUrlText(address, timeout_ms), notice))
            return;
        const std::string page = FetchUrlText(notice.url, timeout_ms);
        if (page.empty()) {
            DIAG(kModule, 0, "INF:notifier page empty: %s", notice.url.c_str());
            return;
        }
        found(notice, page);
    });
}

void BackgroundChecks::CheckVersion(VersionAnswer answer)
{
    if (version_check_.joinable() || cfg_.m_vazirudu_domain.empty())
        return;  // asked once per start, and only of a service that is set
    version_check_ = std::thread([target = TargetFrom(cfg_), answer = std::move(answer),
                                  mark = std::make_shared<RunningMark>(running_)]() mutable {
        std::atomic<int32_t> progress{0};
        std::atomic<int32_t> state{JOB_STATE_RUNNING};
        Uploader client(&progress, &state, target.settings);
        if (!Connect(client, target))
            return;
        answer(client.CheckNewVersion());
    });
}
