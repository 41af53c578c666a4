// The tags that describe a book to link previews and search engines: its description and
// keywords, the title, type and description for previews, and, when the published address
// is known, the book's own address, its cover picture as an absolute address and the
// canonical link. Every value is HTML-escaped as the page title is.
#pragma once

#include "pagegen/BookPageSettings.h"

#include <string>

namespace pagegen {

// Room for one escaped share value, terminator included: a description of 1,024
// characters stays whole even when every character needs a reference.
inline constexpr size_t kShareValueCapacity = 8192;

// The cover picture, relative to the book folder.
inline constexpr const char* kCoverFile = "thumb/img-1-e-cover.jpg";

// The link-preview picture: page 1 as large as fits 1200 x 630 pixels.
inline constexpr const char* kShareImageFile = "thumb/img-1-e-share.jpg";

// The folder address of the page read at `book_address` followed by `file` (relative to
// the book folder); empty unless the address is absolute (http or https), since previews
// need the whole address.
std::string BookFileAddress(const std::string& book_address, const std::string& file);
inline std::string CoverAddress(const std::string& book_address) { return BookFileAddress(book_address, kCoverFile); }

// Reads the size of the book's link-preview picture in `book_folder` into `book`; false
// (sizes 0) when the book has none.
bool ReadShareImageSize(const std::string& book_folder, BookPageSettings& book);

// The offered PDF's file name as a relative address: every byte but unreserved ones
// percent-encoded, so that blanks, '#', '?' and non-ASCII names reach the file.
std::string PdfFileAddress(const std::string& file_name);

// The lines of tags for the page's head, one tag a line. `language` is the page's language
// code ("en", "fr"), or empty.
std::string ShareTags(const BookPageSettings& book, const std::string& language);

}  // namespace pagegen
