// The results file of a farm task: one JSON object a line per item, appended with one
// write() of the whole line to a file opened with O_APPEND, so that lines of several
// writers never mix and a task killed at any moment leaves whole lines only (a line
// cut short by a full disk is skipped by the reader).
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ItemResult {
    ItemResult() = default;
    ItemResult(std::string outcome_, std::string pdf_, std::string sha256_, std::string key_ = {}, int pages_ = 0)
        : outcome(std::move(outcome_)), pdf(std::move(pdf_)), sha256(std::move(sha256_)), key(std::move(key_)),
          pages(pages_) {}

    // "done": converted and published to every target given; "failed"; "started": a
    // job was made for the item (its key) and has not ended yet.
    std::string outcome;
    std::string pdf;      // absolute path
    std::string sha256;   // of the PDF's bytes when it was taken; empty when unreadable
    std::string key;      // the book's job key, when a job was made
    int pages = 0;
    double seconds = 0;   // from taking the item to its end
    std::vector<std::pair<std::string, std::string>> addresses;  // target ("ftp", "service"), address
    std::string error;    // why it failed
    int task = 0;
    std::string time;     // when the line was written, UTC (ISO 8601)
};

inline constexpr const char* kOutcomeDone = "done";
inline constexpr const char* kOutcomeFailed = "failed";
inline constexpr const char* kOutcomeStarted = "started";

// One line of JSON with its line break.
std::string ResultLine(const ItemResult& result);
// False for anything but a whole JSON object with an outcome and a PDF.
bool ParseResultLine(const std::string& line, ItemResult& result);

// Appends `result` to `file` (created when missing); false with `error` when the whole
// line could not be written.
bool AppendResult(const std::string& file, const ItemResult& result, std::string& error);
// Every whole line of `file`, in order; lines that cannot be read are counted in `skipped`.
std::vector<ItemResult> ReadResults(const std::string& file, int* skipped = nullptr);

// Writes `text` into `path` whole: beside it first, then renamed over it, so that a
// reader finds the old file or the new one.
bool WriteFileWhole(const std::string& path, const std::string& text);

// The current time as "2026-01-31T12:00:00Z".
std::string UtcNow();
