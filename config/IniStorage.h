// File access of the settings store: whole-file reads, and writes that run as one
// read-modify-write under a process-wide lock for the path and land through a temporary
// file in the same folder and rename(2), so readers see either the old or the new file,
// never a half-written one, even when the process dies mid-write.
//
// The parsed form of the last few files read or written is kept with the bytes it came
// from. Every read still reads the file, and parses it again whenever its bytes differ
// (another process wrote it), so a read never sees an older value than the file holds;
// only the parsing is spared. A books list of hundreds of jobs is read dozens of times per
// job step, and parsing it every time made long batches slow down with every job.
#pragma once

#include "config/IniDocument.h"

#include <functional>
#include <memory>
#include <string>

namespace ini_storage {

// The whole file; false when it cannot be read (missing file, folder, permission).
bool ReadBytes(const std::string& path, std::string& bytes);

// The parsed file; an unreadable file gives an empty document. Never null.
std::shared_ptr<const IniDocument> Load(const std::string& path);

// Loads the file (an empty document when missing), lets `change` edit it and, when
// `change` returns true, writes it back. Returns false when the write fails (for example
// when the folder does not exist: folders are never created here).
bool Modify(const std::string& path, const std::function<bool(IniDocument&)>& change);

} // namespace ini_storage
