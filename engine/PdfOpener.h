// Opens a PDF for reading and says in one line why it cannot be read.
#pragma once

#include <mupdf/fitz.h>

#include <string>

// The open document, or null with `error` set (missing, unreadable, not a PDF, damaged
// beyond repair, or protected by a password). `page_count` receives the number of pages.
fz_document* OpenPdf(fz_context* ctx, const std::string& path, int& page_count, std::string& error);
