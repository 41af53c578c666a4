// The record of the diagnostic switches (`log_err`, `log_cmd` in section "general" of
// config.ini) that the support tool replaced: a small file beside config.ini, written
// before the tool turns the switches on and removed once it has put them back. When the
// tool is killed or the machine loses power while it is open, the record survives, and
// the next start of the support tool or of the desktop program puts the values back.
#pragma once

#include <cstdint>
#include <string>

namespace diag_switch_record {

// The lock the support tool holds in config.ini's folder while it is open.
inline constexpr const char* kSupportLockName = "vellumark-support";

struct Values {
    int32_t log_err = -1;
    int32_t log_cmd = -1;
};

// "diag_switches.saved" in the folder of `config_path`.
std::string RecordPath(const std::string& config_path);

// Writes the record whole or not at all (temporary file, flushed to disk, renamed).
bool Write(const std::string& config_path, const Values& values);
// False when there is no record or it cannot be read or understood.
bool Read(const std::string& config_path, Values& values);
bool Remove(const std::string& config_path);

// Puts the recorded values back into config.ini and removes the record, unless the
// support tool is open (it holds its lock): then the record is still in use. True when
// values were put back.
bool PutBackUnlessSupportOpen(const std::string& config_path);

}  // namespace diag_switch_record
