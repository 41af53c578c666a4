// The HTML a site owner pastes into a page of their own to show a published book there.
#pragma once

#include <cstdint>
#include <string>

// An <iframe> that reads the book at `book_address` (an absolute web address) with
// `title` as its accessible name (the address when the title is empty), as wide as its
// container and as high as a spread of two `page_width` x `page_height` pages with the
// toolbar above them, full screen allowed, loaded only when it scrolls near. Every value
// is HTML-escaped. Empty when there is no address.
std::string EmbedSnippet(const std::string& book_address, const std::string& title, int32_t page_width,
                         int32_t page_height);
