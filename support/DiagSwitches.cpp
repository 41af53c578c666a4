#include "support/DiagSwitches.h"

#include "config/CommonUtil.h"
#include "config/DiagLog.h"
#include "config/DiagSwitchRecord.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kModule = "Support";
constexpr const char* kSection = "general";

// Whether the file's bytes can be read. A missing file reads as empty and counts as
// readable; a folder in its place or a file without read permission does not.
bool ReadableOrMissing(const std::string& path, int& error)
{
    error = 0;
    if (!PathExists(path))
        return true;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    char byte;
    bool readable = read(fd, &byte, 1) >= 0;
    if (!readable)
        error = errno;
    close(fd);
    return readable;
}

}  // namespace

DiagSwitches::DiagSwitches(std::string config_path) : config_(std::move(config_path)) {}

DiagSwitches::~DiagSwitches()
{
    Restore();
}

DiagSwitches::Outcome DiagSwitches::SwitchOn()
{
    int error = 0;
    if (!ReadableOrMissing(config_.Path(), error)) {
        DIAG(kModule, error, "ERR:cannot read %s", config_.Path().c_str());
        return Outcome::kUnreadable;
    }
    // A record left by a session that could not put the switches back (killed, power
    // cut) holds the user's own values: config.ini still says "1".
    diag_switch_record::Values saved;
    if (!diag_switch_record::Read(config_.Path(), saved)) {
        saved.log_err = config_.ReadInt(kSection, "log_err");
        saved.log_cmd = config_.ReadInt(kSection, "log_cmd");
        // Kept on disk before anything changes, so that they survive a kill.
        if (!diag_switch_record::Write(config_.Path(), saved)) {
            DIAG(kModule, errno, "ERR:cannot keep the switches of %s", config_.Path().c_str());
            return Outcome::kUnwritable;
        }
    }
    saved_log_err_ = saved.log_err;
    saved_log_cmd_ = saved.log_cmd;
    restore_pending_ = true;
    bool written = config_.WriteInt(kSection, "log_err", 1);
    written = config_.WriteInt(kSection, "log_cmd", 1) && written;
    if (written)
        return Outcome::kOn;
    DIAG(kModule, errno, "ERR:cannot write the switches to %s", config_.Path().c_str());
    Restore();
    return Outcome::kUnwritable;
}

bool DiagSwitches::Restore()
{
    if (!restore_pending_)
        return true;
    restore_pending_ = false;
    bool restored = config_.WriteInt(kSection, "log_err", saved_log_err_);
    restored = config_.WriteInt(kSection, "log_cmd", saved_log_cmd_) && restored;
    if (!restored) {
        // The record stays, so that the next start tries again.
        DIAG(kModule, errno, "ERR:cannot restore the switches in %s", config_.Path().c_str());
        return false;
    }
    return diag_switch_record::Remove(config_.Path());
}
