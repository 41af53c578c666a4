// Where the platform keeps the folders the program uses. Each lookup reads the
// environment at the time of the call, so tests can point HOME and XDG_* elsewhere.
// Folders are returned without a trailing '/', except ProgramFolderOfExe.
#pragma once

#include <string>

namespace folders {

// $XDG_DATA_HOME, else $HOME/.local/share.
std::string UserDataFolder();
// The first entry of $XDG_DATA_DIRS, else /usr/local/share.
std::string CommonDataFolder();
// $XDG_DOCUMENTS_DIR, else the DOCUMENTS entry of $XDG_CONFIG_HOME/user-dirs.dirs
// (with $HOME expanded), else $HOME/Documents.
std::string DocumentsFolder();
// $XDG_CONFIG_HOME, else $HOME/.config.
std::string ConfigFolder();
// The folder of /proc/self/exe with a trailing '/'; empty when it cannot be read.
std::string ProgramFolderOfExe();
// The "lang" value of section "Software\Vellumark" in
// $XDG_CONFIG_HOME/Corvane/registry.ini; empty when missing.
std::string RegistryLanguage();
// The two-letter language code of the locale (LC_ALL, LC_MESSAGES, LANG, the first
// that is set and not empty), lower case; empty for "C", "POSIX" or nothing set.
std::string LocaleLanguage();

}  // namespace folders
