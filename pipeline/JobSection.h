// The persisted job: one section named by the job key in meta.ini (settings and the
// resume point) and in the UTF-16 meta_w.ini (the book's title, tags and description).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/IniFile.h"
#include "pipeline/PdfJob.h"

// The capacity with which the paths of a job section (`pdf_url`, `export_folder`) are
// read: a path cut short would name another file.
inline constexpr size_t kJobPathBytes = 4096;

struct JobSection {
    std::string pdf_url;
    int32_t pagenum = 0;
    int32_t pagewidth = 0;
    int32_t pageheight = 0;
    DateTimeRecord timestamp;
    int32_t progress = 0;
    JobParams params;           // every launch value except the export flag
    std::string ftp_url;        // written only with use_ftp
    std::string ftp_webaddr;    // written only with use_ftp
    std::string vazirudu_user;  // written only with use_vazirudu
    std::string export_folder;  // written only when an export was requested
    std::string title;          // meta_w.ini
    std::string tags;           // meta_w.ini
    std::string description;    // meta_w.ini
};

// The current time in UTC as a date-time record (the job's timestamp).
DateTimeRecord CurrentUtcTime();

// Removes leading and trailing blanks, tabs and line feeds (and carriage returns, which
// a pasted Windows text leaves behind).
std::string TrimJobText(const std::string& text);

// Why `path` cannot be stored in a job section and read back as the same path, or an
// empty text when it can: a line break would end the INI line, a blank or tab at either
// end would be trimmed, and a path of kJobPathBytes or more would be cut.
std::string UnstorablePathReason(const std::string& path);

// The stored progress on the current scale: below 1 gives 0, 1 to 1000 is in tenths of a
// percent (an older scale) and is multiplied by 100, larger values stand.
int32_t NormaliseProgress(int32_t stored);

// Writes the whole section at registration, in the order the desktop program writes it;
// texts are trimmed and progress is "0". False when any write failed.
bool WriteJobSection(IniFile& meta, IniFile& meta_w, const std::string& key, const JobSection& job);

// Reads the section; integers missing or empty read as -1, progress is normalised.
JobSection ReadJobSection(const IniFile& meta, const IniFile& meta_w, const std::string& key);
// The launch values as stored (the export flag is left 0).
JobParams ReadJobParams(const IniFile& meta, const std::string& key);

int32_t ReadJobProgress(const IniFile& meta, const std::string& key);
bool WriteJobProgress(IniFile& meta, const std::string& key, int32_t progress);

// A stored job counts as finished when its normalised progress is 100000.
bool IsFinished(const IniFile& meta, const std::string& key);
