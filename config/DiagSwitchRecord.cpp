#include "config/DiagSwitchRecord.h"

#include "config/DiagLog.h"
#include "config/IniFile.h"
#include "config/InstanceLock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace diag_switch_record {

namespace {

constexpr const char* kModule = "DiagSwitchRecord";

std::string FolderOf(const std::string& path)
{
    const size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? std::string(".") : path.substr(0, cut == 0 ? 1 : cut);
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A whole decimal number, optionally negative.
bool ParseNumber(const std::string& text, int32_t& value)
{
    if (text.empty() || text.size() > 11)
        return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size())
        return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
    }
    v = text[0] == '-' ? -v : v;
    if (v < INT32_MIN || v > INT32_MAX)
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

}  // namespace

std::string RecordPath(const std::string& config_path)
{
    return FolderOf(config_path) + "/diag_switches.saved";
}

bool Write(const std::string& config_path, const Values& values)
{
    const std::string path = RecordPath(config_path);
    const std::string temp = path + ".tmp";
    const std::string text =
        "log_err=" + std::to_string(values.log_err) + "\nlog_cmd=" + std::to_string(values.log_cmd) + "\n";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        DIAG(kModule, errno, "ERR:cannot create %s", temp.c_str());
        return false;
    }
    // On disk before the switches change, so that a power cut cannot lose it.
    bool ok = WriteAll(fd, text) && fsync(fd) == 0;
    const int error = errno;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        DIAG(kModule, ok ? errno : error, "ERR:cannot write %s", path.c_str());
        unlink(temp.c_str());
        return false;
    }
    int dir = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

bool Read(const std::string& config_path, Values& values)
{
    const std::string path = RecordPath(config_path);
    FILE* file = std::fopen(path.c_str(), "re");
    if (!file)
        return false;
    char buffer[128];
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    std::string text(buffer, n);
    bool have_err = false;
    bool have_cmd = false;
    Values read;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.rfind("log_err=", 0) == 0)
            have_err = ParseNumber(line.substr(8), read.log_err);
        else if (line.rfind("log_cmd=", 0) == 0)
            have_cmd = ParseNumber(line.substr(8), read.log_cmd);
    }
    if (!have_err || !have_cmd) {
        DIAG(kModule, 0, "ERR:%s cannot be understood", path.c_str());
        return false;
    }
    values = read;
    return true;
}

bool Remove(const std::string& config_path)
{
    const std::string path = RecordPath(config_path);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        DIAG(kModule, errno, "ERR:cannot remove %s", path.c_str());
        return false;
    }
    return true;
}

bool PutBackUnlessSupportOpen(const std::string& config_path)
{
    Values values;
    if (!Read(config_path, values))
        return false;
    InstanceLock support(kSupportLockName);
    std::string error;
    if (!support.TryAcquire(FolderOf(config_path), error))
        return false;
    IniFile config(config_path);
    bool restored = config.WriteInt("general", "log_err", values.log_err);
    restored = config.WriteInt("general", "log_cmd", values.log_cmd) && restored;
    if (!restored) {
        DIAG(kModule, errno, "ERR:cannot put the switches back in %s", config_path.c_str());
        return false;
    }
    DIAG(kModule, 0, "INF:diagnostic switches put back to %d, %d", values.log_err, values.log_cmd);
    return Remove(config_path);
}

}  // namespace diag_switch_record
