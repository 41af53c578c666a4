// Updating a finished book with a new PDF under the same key, so that every address of
// the book stays the same. The new PDF is converted, and published, from a folder beside
// the book; the book folder is replaced only once the new edition has reached every
// target, so a failed, stopped or killed update leaves the old book as it was (and
// resumes like any job).
#pragma once

#include <cstdint>
#include <string>

class AppConfig;
class IniFile;

// The job-section key that marks a book whose update is being converted.
inline constexpr const char* kUpdatePendingKey = "update_pending";

// The folder an update of book `key` is converted in (hidden, beside the book).
std::string UpdateFolder(const std::string& books_folder, const std::string& key);

// The folder an update of book `key` is converted and published from, for a job that
// starts at `progress`: the update's own folder until ReplaceBookWithUpdate has moved it
// into the book's place (after a crash inside that, the book folder holds the update).
std::string UpdateSourceFolder(const std::string& books_folder, const std::string& key, int32_t progress);

// Prepares the finished book `key` for an update with `pdf_path` (whose pages the engine
// reported): the job section takes the new PDF and its pages, keeps the book's title,
// texts, image settings and publishing targets, and starts again from the beginning with
// the update mark set, so that resuming the job converts and publishes the update.
// Returns an empty text on success, else why the book cannot be updated.
std::string PrepareBookUpdate(AppConfig& cfg, const std::string& key, const std::string& pdf_path, int32_t pagenum,
                              int32_t pagewidth, int32_t pageheight);

// Puts a converted update in the place of book `key` and clears the mark. Safe to run
// again after a crash at any point of it. False (with `why`) when a folder cannot be moved.
bool ReplaceBookWithUpdate(IniFile& meta, const std::string& books_folder, const std::string& key, std::string& why);
