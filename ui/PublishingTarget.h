// The publishing target as the user reads it: the line under the advanced tab's queue
// ("Books are uploaded to: your FTP server (host/folder)") and the wizard's question before
// one of its pages changes that target, which both tabs share.
#pragma once

#include "publish/NetworkSettings.h"

#include <QString>

#include <string>

class AppConfig;
class QWidget;

struct PublishingTarget {
    bool ftp = false;
    bool service = false;
    std::string ftp_url;       // the FTP profile's key
    std::string service_host;  // the publishing service's address
};

// The target the settings hold now.
PublishingTarget CurrentPublishingTarget(const AppConfig& cfg);
// "Books are kept on this computer." or "Books are uploaded to: ..." naming each server.
QString DescribePublishingTarget(const PublishingTarget& target);

// Before a wizard page makes `wanted` the target: when it differs from the current one,
// asks (in a box owned by `owner`) whether to change it; false when the user keeps it.
bool AgreeToTargetChange(QWidget* owner, const AppConfig& cfg, const PublishingTarget& wanted);
