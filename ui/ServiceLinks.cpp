#include "ui/ServiceLinks.h"

#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "config/ServiceHostKeys.h"
#include "ui/CDlgLocalize.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>

bool ServiceConfigured(const AppConfig& cfg)
{
    return !cfg.m_vazirudu_domain.empty();
}

bool SaveServiceHost(AppConfig& cfg, const std::string& host)
{
    const std::string value = TrimmedServiceHost(host);
    if (!WriteServiceHostKeys(cfg.m_config_ini, value))
        return false;
    cfg.m_vazirudu_domain = value;
    cfg.m_vazirudu_webaddr = ServiceBooksAddress(value);
    return true;
}

QString AccountCreationAddress(const AppConfig& cfg, const std::string& host)
{
    const std::string configured = cfg.m_config_ini.ReadText("network", "register_url", 260);
    if (!configured.empty())
        return QString::fromStdString(configured);
    const std::string service = TrimmedServiceHost(host);
    if (service.empty())
        return {};
    return QString::fromStdString(ServiceRootAddress(service) + "createPubAccount.asp");
}

QString AboutServiceAddress(const AppConfig& cfg)
{
    const std::string configured = cfg.m_config_ini.ReadText("general", "advert_url", 260);
    if (!configured.empty())
        return QString::fromStdString(configured);
    return QString::fromStdString(ServiceBooksAddress(cfg.m_vazirudu_domain));
}

namespace {

class ServiceButtonWatch : public QObject {
public:
    ServiceButtonWatch(QWidget* button, std::function<bool()> available)
        : QObject(button), button_(button), available_(std::move(available))
    {
    }
    void Apply()
    {
        const bool on = available_();
        const QString reason = on ? QString() : CDlgLocalize::Lookup("NETWORK_SETTING", "no_service");
        button_->setEnabled(on);
        button_->setToolTip(reason);
        button_->setAccessibleDescription(reason);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == button_ && event->type() == QEvent::Show)
            Apply();
        return false;
    }

private:
    QWidget* button_;
    std::function<bool()> available_;
};

}  // namespace

std::function<void()> FollowServiceSetting(QWidget* button, std::function<bool()> available)
{
    auto* watch = new ServiceButtonWatch(button, std::move(available));
    button->installEventFilter(watch);
    watch->Apply();
    return [guard = QPointer<ServiceButtonWatch>(watch)] {
        if (guard)
            guard->Apply();
    };
}
