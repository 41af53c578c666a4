// File access of the settings store: whole-file reads, and writes that run as one
// read-modify-write under a process-wide lock for the path and land through a temporary
// file in the same folder and rename(2), so readers see either the old or the new file,
// never a half-written one, even when the process dies mid-write.
#pragma once

#include "config/IniDocument.h"

#include <functional>
#include <string>

namespace ini_storage {

// The whole file; false when it cannot be read (missing file, folder, permission).
bool ReadBytes(const std::string& path, std::string& bytes);

// The parsed file; an unreadable file gives an empty document.
IniDocument Load(const std::string& path);

// Loads the file (an empty document when missing), lets `change` edit it and, when
// `change` returns true, writes it back. Returns false when the write fails (for example
// when the folder does not exist: folders are never created here).
bool Modify(const std::string& path, const std::function<bool(IniDocument&)>& change);

} // namespace ini_storage
