// Brings the shared book files of the books folder (page template, scripts, styles, the
// skin and the toolbar languages) up to the versions shipped in the default
// configuration folder, and imports the shipped sample books.
#pragma once

#include <string>

class IniFile;

// A version marker `corvane_version="N"` inside a text file: N, or -1 when the file or
// the marker is missing.
long long ReadVersionMarker(const std::string& path);

// Refreshes `books` (the books folder, without trailing '/') from `defaults` (the
// default configuration folder, with trailing '/'). `data` is the data folder (with
// trailing '/'), whose config.ini tells which build wrote it. Sets `app_ini` to the
// shipped app.ini. Failures are logged; nothing here stops the load.
void RefreshBooksFolder(const std::string& books, const std::string& data, const std::string& defaults,
                        const std::string& skin_number, bool first_run, IniFile& app_ini);

// Imports the sample books listed in the shipped meta.ini: each of its sections that
// the books folder's meta.ini does not hold yet has its book folder copied from
// defaults + "Upload/<name>" and its section appended. Sections already present are
// never replaced, so the user's own job records survive and a repeated import changes
// nothing. Returns false when a copy or the write of meta.ini failed.
bool ImportSampleBooks(const std::string& books, const std::string& defaults);
