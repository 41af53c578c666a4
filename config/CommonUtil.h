// Shared helpers of every module: the silent copy of files and folder trees.
#pragma once

#include <string>

// Copies `source` to `destination` without questions, creating missing folders.
// - A source file is copied to `destination`, or into it when `destination` is an
//   existing folder.
// - A source folder is copied as a whole tree to `destination`, or into it (arriving
//   as destination/<source name>) when `destination` is an existing folder.
// - A source that ends in "*" (for example "book/*") stands for the content of that
//   folder, which is copied into the folder `destination` (created when missing).
// When `overwrite` is 0 and the destination exists, nothing is copied and 0 is
// returned; otherwise existing files are replaced. `show_progress` is accepted for the
// callers' sake; the copy never shows a window.
// Returns 0 on success, otherwise an errno value (ENOENT for a missing source). Callers
// log a failure as "ERR:copy_file_or_path failed, return %d ".
int copy_file_or_path(const std::string& destination, const std::string& source, int overwrite,
                      int show_progress = 0);

// Whether a file or folder (PathExists) or a folder (IsFolder) is there. A path that
// cannot be examined (no search permission, a loop of symbolic links) counts as absent.
bool PathExists(const std::string& path);
bool IsFolder(const std::string& path);

// Joins a folder and a name with one '/' (none added when the folder is empty or already
// ends in '/' or '\\').
std::string JoinPath(const std::string& folder, const std::string& name);
