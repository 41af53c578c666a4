// The publishing service as the desktop program sees it: set or not (an empty address in
// config.ini means no service, so nothing is asked of the network for it), the pages of
// the service that buttons open, and how a button that needs the service says why it is
// unavailable.
#pragma once

#include <QString>

#include <functional>
#include <string>

class AppConfig;
class QWidget;

// True when a publishing service address is set.
bool ServiceConfigured(const AppConfig& cfg);
// Stores `host` (trimmed; empty for no service) in config.ini and the settings, with the
// books address derived from it. False when config.ini cannot be written.
bool SaveServiceHost(AppConfig& cfg, const std::string& host);

// The account-creation page of the service at `host`: network/register_url when set,
// else the page the service itself serves; empty when neither is there.
QString AccountCreationAddress(const AppConfig& cfg, const std::string& host);
// The page about the service: general/advert_url when set, else the service's books
// address; empty when neither is there.
QString AboutServiceAddress(const AppConfig& cfg);


// Keeps `button` enabled only while `available` says so, checked now and each time the
// button is shown; when unavailable the button carries the reason (no service set) as
// tooltip and accessible description. The result checks again at once.
std::function<void()> FollowServiceSetting(QWidget* button, std::function<bool()> available);
