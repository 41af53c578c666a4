// Export of a finished book into a self-contained folder: the destination is emptied, the
// book folder's content, the shared book files and the skin are copied into it, and the
// page's "../" references to the shared files are turned into " ./" (same length).
#pragma once

#include <string>

#include "pipeline/ExportTarget.h"

// Exports the book `key` of the books folder `guard.books_folder` into `dst`.
// Returns 0 when exported; 1 when the destination was refused (nothing is created or
// deleted) or the page "index.html" cannot be opened in it; 2 when the page cannot be
// read or written. Refused: a key that is not 32 upper-case hex digits, a book folder
// that does not exist, and every destination that ExportRefusal refuses.
int ExportBook(const std::string& dst, const std::string& key, const ExportGuard& guard);
