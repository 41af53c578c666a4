#include "ui/BackgroundChecks.h"

#include "config/AppConfig.h"
#include "config/DiagLog.h"

namespace {
constexpr const char* kModule = "MainDlg";
}

bool ConnectToService(const std::string& host, const char* module)
{
    if (host.empty()) {
        DIAG(module, 0, "ERR:m_vazirudu_domain empty");
        return false;
    }
    DIAG(module, 0, "ERR:http_connect failed");
    return false;
}

bool NewVersionAvailable(const AppConfig& cfg)
{
    return ConnectToService(cfg.m_vazirudu_domain, kModule);
}

BackgroundChecks::~BackgroundChecks()
{
    if (reference_update_.joinable())
        reference_update_.join();
    if (notifier_.joinable())
        notifier_.join();
}

void BackgroundChecks::Start()
{
    // Both threads only read settings that no one changes while they run.
    const std::string host = cfg_.m_vazirudu_domain;
    reference_update_ = std::thread([host] {
        DIAG(kModule, 0, "INF:callback_update_db called");
        ConnectToService(host, kModule);
    });
    // Without a service answer the notifier has nothing to show and ends silently.
    notifier_ = std::thread([] {});
}
