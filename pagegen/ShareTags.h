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

// The folder address of the page read at `book_address` followed by the cover file; empty
// unless the address is absolute (http or https), since previews need the whole address.
std::string CoverAddress(const std::string& book_address);

// The lines of tags for the page's head, one tag a line. `language` is the page's language
// code ("en", "fr"), or empty.
std::string ShareTags(const BookPageSettings& book, const std::string& language);

}  // namespace pagegen
