// Where the support tool finds the main program's files. Every lookup reads the
// environment at the time of the call, so tests can point HOME and XDG_* elsewhere.
#pragma once

#include <string>

class IniFile;

namespace support_paths {

// The main program's config.ini: <user data folder>/Corvane/Vellumark/config.ini.
std::string ConfigFilePath();

// The status report for a `vazirudu_path` value: that folder, or the documents folder
// when it is empty, without one trailing separator, then "/vAziruduues/report.txt".
std::string ReportPath(const std::string& vazirudu_path);

// The folder part of a file path, cut after its last separator (kept).
std::string FolderOf(const std::string& file_path);

// The language file the main program would use: `localization_file` of config.ini, else
// the registry choice, else the shipped file that matches the locale, else English. It
// lies in the program folder's DefaultCfg/, or in the shared data folder of an installed
// program that has no DefaultCfg/ beside it. Nothing is written.
std::string LanguageFilePath(const IniFile& config);

}  // namespace support_paths
