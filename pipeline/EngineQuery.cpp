// The engine runs whose standard output is read to its end: the two metadata queries (and
// the search step through RunToEnd).
#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "config/DiagLog.h"
#include "pipeline/EngineRun.h"

namespace {

constexpr const char* kModule = "ChildProcess";
constexpr size_t kMaxKeptOutput = 64 * 1024;
constexpr size_t kMaxTextUnits = 1024;

// The output split at line feeds after every carriage return is removed.
std::vector<std::string> OutputLines(const std::string& output) {
    std::vector<std::string> lines(1);
    for (char c : output) {
        if (c == '\r') continue;
        if (c == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

// A decimal number with optional surrounding blanks; false for anything else or a value
// beyond 32 bits.
bool ParseDecimal(std::string_view text, int32_t& value) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.empty()) return false;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > INT32_MAX) return false;
    }
    value = static_cast<int32_t>(v);
    return true;
}

// Cuts UTF-8 text to at most kMaxTextUnits UTF-16 units without splitting a character.
std::string CutText(const std::string& text) {
    size_t units = 0;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
        size_t need = len == 4 ? 2 : 1;
        if (units + need > kMaxTextUnits) break;
        units += need;
        i = i + len <= text.size() ? i + len : text.size();
    }
    return text.substr(0, i);
}

}  // namespace

bool EngineRun::RunToEnd(const char* module, const std::string& engine_path, const EngineCommand& command,
                         std::string* output, size_t chunk_size) {
    UniqueFd read_end;
    UniqueFd write_end;
    if (!MakeCloexecPipe(read_end, write_end)) {
        DIAG(module, errno, "ERR:Stdout pipe creation failed\n");
        return false;
    }
    pid_t pid = SpawnWithPipe(engine_path, command.args, write_end.Get(), STDOUT_FILENO);
    if (pid < 0) {
        DIAG(module, errno, "ERR:Cannot get the meta infomation of the PDF");
        return false;
    }
    if (!write_end.Reset()) {
        DIAG(module, errno, "ERR:Closing handle failed");
        // The output cannot be told to end; the engine is not left behind as a zombie.
        TerminateChild(pid);
        return false;
    }
    std::vector<char> buffer(chunk_size > 0 ? chunk_size : 4096);
    for (;;) {
        ssize_t n = ReadRetry(read_end.Get(), buffer.data(), buffer.size());
        if (n <= 0) break;
        if (output && output->size() < kMaxKeptOutput) {
            size_t keep = std::min(static_cast<size_t>(n), kMaxKeptOutput - output->size());
            output->append(buffer.data(), keep);
        }
    }
    read_end.Reset();
    ReapChild(pid);
    return true;
}

bool EngineRun::QuerySize(int32_t resolution, const std::string& engine_path, const std::string& pdf,
                          int32_t& width, int32_t& height) {
    std::string output;
    if (!RunToEnd(kModule, engine_path, SizeQueryCommand(resolution, pdf), &output, 4095)) return false;
    std::vector<std::string> lines = OutputLines(output);
    int32_t w = 0;
    int32_t h = 0;
    if (lines.size() < 2 || !ParseDecimal(lines[0], w) || !ParseDecimal(lines[1], h) || w <= 0 || h <= 0) {
        DIAG(kModule, 0, "ERR:size query of %s gave no page size", pdf.c_str());
        return false;
    }
    width = w;
    height = h;
    return true;
}

bool EngineRun::QueryInfo(int32_t resolution, const std::string& engine_path, const std::string& pdf,
                          EngineDocInfo& info) {
    std::string output;
    if (!RunToEnd(kModule, engine_path, InfoQueryCommand(resolution, pdf), &output, 4095)) return false;
    std::vector<std::string> lines = OutputLines(output);
    EngineDocInfo got;
    if (lines.size() < 7 || !ParseDecimal(lines[4], got.page_count) || !ParseDecimal(lines[5], got.page_width) ||
        !ParseDecimal(lines[6], got.page_height) || got.page_count <= 0 || got.page_width <= 0 ||
        got.page_height <= 0) {
        DIAG(kModule, 0, "ERR:no page count and size in the engine output for %s", pdf.c_str());
        return false;
    }
    got.title = CutText(lines[0]);
    got.tags = CutText(lines[2]);
    got.description = CutText(lines[3]);
    info = std::move(got);
    return true;
}
