#include "config/DiagLog.h"

#include "config/IniFile.h"
#include "config/Utf16.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

constexpr size_t kRecordSize = 512;      // record buffer, final zero included
constexpr size_t kResponseSize = 256;    // server response buffer, final zero included
constexpr int32_t kServerTextCode = 12003;

// The internet library keeps the last server response per thread, so a worker's reason
// text is never another worker's.
thread_local char t_last_response[kResponseSize] = {};

// Serialises every write into the status report.
std::mutex g_report_lock;

// Appends printf-style output to `out`.
void AppendV(std::string& out, const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    char small[kRecordSize];
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n <= 0)
        return;
    if (static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, args);
    big.pop_back();
    out += big;
}

void Append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string& out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    AppendV(out, format, args);
    va_end(args);
}

// `text` as one line: control characters are shown escaped (\n, \r, \t, else \xNN), so
// a line break in a user name or a server's reply cannot end a record and forge
// another, neither on standard error nor in the status report.
std::string OneLine(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    return out;
}

// The system's message text for an error number.
std::string SystemMessage(int32_t code)
{
    char buffer[256] = {};
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text ? text : "";
}

} // namespace

DiagLog& DiagLog::Instance()
{
    static DiagLog log;
    return log;
}

int32_t DiagLog::Report(const char* module, int32_t line, int32_t code, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int32_t result = ReportV(module, line, code, format, args);
    va_end(args);
    return result;
}

int32_t DiagLog::ReportV(const char* module, int32_t line, int32_t code, const char* format, va_list args)
{
    const int saved_errno = errno;
    std::string text;
    AppendV(text, format ? format : "", args);
    if (!module)
        module = "";
    if (code == 0) {
        Append(text, ", line %d in %s errno:%d", line, module, 0);
    } else if (code == kServerTextCode) {
        Append(text, ", line %d in %s: errno:%d Reason:%s", line, module, code, t_last_response);
    } else {
        const std::string reason = SystemMessage(code);
        Append(text, ", line %d in %s: errno:%d Reason:%s ", line, module, code, reason.c_str());
    }
    // A record is one line of at most 511 bytes; a longer one is cut, never inside a
    // character.
    text = OneLine(text);
    text.resize(Utf8PrefixLength(text, kRecordSize - 1));

    // One write per record and line feed, so records of different threads never mix.
    if (debug_output_) {
        const std::string line_out = text + "\n";
        std::fwrite(line_out.data(), 1, line_out.size(), stderr);
        std::fflush(stderr);
    }

    if (log_err_)
        WriteRecord("errlog", text);
    errno = saved_errno;
    return code;
}

void DiagLog::WriteRecord(const char* section, const std::string& text)
{
    std::lock_guard<std::mutex> guard(g_report_lock);
    if (report_path_.empty() || !section)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    if (!localtime_r(&now, &local))
        return;
    char key[64];
    if (std::strftime(key, sizeof key, "%X", &local) == 0)
        return;
    // The log never reports its own failures: a failed write is dropped. Records that
    // callers write themselves (command lines, notes) are kept to one line as well.
    IniFile(report_path_).WriteRaw(section, key, OneLine(text));
}

void DiagLog::SetReportPath(const std::string& path)
{
    std::lock_guard<std::mutex> guard(g_report_lock);
    report_path_ = path;
}

void DiagLog::SetSwitches(uint32_t log_err, uint32_t log_cmd)
{
    log_err_ = log_err;
    log_cmd_ = log_cmd;
}

void DiagLog::SetLastServerResponse(const std::string& text)
{
    const size_t len = Utf8PrefixLength(text, kResponseSize - 1);
    std::memcpy(t_last_response, text.data(), len);
    t_last_response[len] = '\0';
}

std::string DiagLog::LastServerResponse() const
{
    return t_last_response;
}

const char* ReportShellFailure(int result)
{
    switch (result) {
    case 0:
    case 8:
        return "ShellExecute failed:NS_ERROR_OUT_OF_MEMORY";
    case 2:
        return "ShellExecute failed:ERROR_FILE_NOT_FOUND";
    case 3:
        return "ShellExecute failed:ERROR_PATH_NOT_FOUND";
    case 5:
        return "ShellExecute failed:SE_ERR_ACCESSDENIED";
    case 11:
        return "ShellExecute failed:ERROR_BAD_FORMAT";
    case 26:
        return "ShellExecute failed:SE_ERR_SHARE";
    case 27:
        return "ShellExecute failed:SE_ERR_ASSOCINCOMPLETE";
    case 28:
        return "ShellExecute failed:DDETIMEOUT";
    case 29:
        return "ShellExecute failed:SE_ERR_DDEFAIL";
    case 30:
        return "ShellExecute failed:SE_ERR_DDEBUSY";
    case 31:
        return "ShellExecute failed:SE_ERR_NOASSOC";
    default:
        return "ShellExecute failed:unknow reason";
    }
}
