// The process-wide diagnostic log: every record goes to standard error; while the
// user has switched it on, it is also stored in the status report (report.txt).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

class DiagLog {
public:
    // The one log of the process. Before the configuration is loaded both switches are
    // off and the report path is empty, so early records reach standard error only.
    static DiagLog& Instance();

    // Formats the record (at most 511 characters), appends the suffix chosen by `code`,
    // writes it to standard error and, when log_err is on, to section "errlog".
    // Returns `code` unchanged so callers can pass it on.
    int32_t Report(const char* module, int32_t line, int32_t code, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
    int32_t ReportV(const char* module, int32_t line, int32_t code, const char* format, va_list args);

    // Stores `text` under the current time-of-day key in `section` of the status report.
    // Callers test the switch themselves.
    void WriteRecord(const char* section, const std::string& text);

    // Set once while the configuration loads, before any worker thread exists. The log
    // does not create the report's folder: when it is missing, writes fail silently.
    void SetReportPath(const std::string& path);
    // Non-zero means on. The values are taken as given: the caller (AppConfig) applies
    // the rule that only a stored value of exactly 1 switches a log on.
    void SetSwitches(uint32_t log_err, uint32_t log_cmd);
    uint32_t log_err() const { return log_err_; }
    uint32_t log_cmd() const { return log_cmd_; }
    const std::string& ReportPath() const { return report_path_; }

    // Whether records reach standard error (on by default). A terminal program that has
    // its own output, such as the batch command, turns it off unless asked to be verbose;
    // the status report is written all the same. Set once, before any worker thread.
    void SetDebugOutput(bool on) { debug_output_ = on; }

    // The last response text of a server (for code 12003, at most 255 bytes kept); set by
    // the publishing code. Kept per thread, like the internet library's own, so the
    // reason logged is the one the reporting thread received.
    void SetLastServerResponse(const std::string& text);
    // The last response text this thread received (empty when none since it was set to
    // ""), so a failure can name the server's answer where the user sees it.
    std::string LastServerResponse() const;

private:
    DiagLog() = default;
    uint32_t log_err_ = 0;
    uint32_t log_cmd_ = 0;
    bool debug_output_ = true;
    std::string report_path_;
};

// Shorthand used by every module: DIAG(module, code, format, ...) reports with the
// calling line.
#define DIAG(module, code, ...) DiagLog::Instance().Report((module), __LINE__, (code), __VA_ARGS__)

// The message logged when opening a document or starting a program through the desktop
// fails with a shell-style result code below 32.
const char* ReportShellFailure(int result);
