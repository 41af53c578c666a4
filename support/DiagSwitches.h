// The main program's two diagnostic switches, `log_err` and `log_cmd` in section
// "general" of config.ini. The support tool turns both on while it is open and puts
// back the values they had, so closing it never leaves diagnostic recording on. The
// values it replaces are recorded beside config.ini first, so that they come back on the
// next start even when the tool is killed.
#pragma once

#include "config/IniFile.h"

#include <cstdint>
#include <string>

class DiagSwitches {
public:
    enum class Outcome {
        kOn,          // both switches now read "1"
        kUnreadable,  // config.ini is there but cannot be read: left untouched
        kUnwritable,  // the switches could not be written (restored as far as possible)
    };

    explicit DiagSwitches(std::string config_path);
    // Puts the saved values back unless Restore already ran.
    ~DiagSwitches();
    DiagSwitches(const DiagSwitches&) = delete;
    DiagSwitches& operator=(const DiagSwitches&) = delete;

    // Keeps the current values (-1 for a missing or empty key), or those of a record left
    // by a session that ended without putting them back, in the record; then writes "1"
    // to both.
    Outcome SwitchOn();
    // Writes the kept values back as decimal text, log_err first. Runs at most once
    // after SwitchOn and only when SwitchOn wrote something; removes the record once
    // they are back. True when nothing failed.
    bool Restore();

    int32_t saved_log_err() const { return saved_log_err_; }
    int32_t saved_log_cmd() const { return saved_log_cmd_; }
    const std::string& Path() const { return config_.Path(); }

private:
    IniFile config_;
    int32_t saved_log_err_ = -1;
    int32_t saved_log_cmd_ = -1;
    bool restore_pending_ = false;
};
