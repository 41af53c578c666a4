// Export of a finished book into a self-contained folder: the destination is emptied, the
// book folder's content, the shared book files and the skin are copied into it, and the
// page's "../" references to the shared files are turned into " ./" (same length).
#pragma once

#include <string>

// Exports the book `key` of the books folder `books_dir` into `dst`.
// Returns 0 when exported; 1 when the destination was refused (nothing is deleted) or the
// page "index.html" cannot be opened in it; 2 when the page cannot be read or written.
// Refused: a key that is not 32 upper-case hex digits, and a destination that is empty,
// relative, the file-system root, the user's home folder or a folder containing it, the
// books folder, a folder inside it or a folder containing it (compared after resolving
// symbolic links).
int ExportBook(const std::string& dst, const std::string& key, const std::string& books_dir);
