#include "pagegen/ShareTags.h"

#include "pagegen/ImageSize.h"
#include "pagegen/TextLimits.h"

#include <cstdio>

namespace pagegen {
namespace {

bool IsAbsoluteWebAddress(const std::string& address) {
    return address.rfind("http://", 0) == 0 || address.rfind("https://", 0) == 0;
}

std::string Escaped(const std::string& text) {
    return EscapeHtml(text, kShareValueCapacity);
}

void Meta(std::string& out, const char* attribute, const char* name, const std::string& value) {
    if (value.empty()) return;
    out += "<meta ";
    out += attribute;
    out += "=\"";
    out += name;
    out += "\" content=\"" + Escaped(value) + "\">\n";
}

}  // namespace

std::string BookFileAddress(const std::string& book_address, const std::string& file) {
    if (!IsAbsoluteWebAddress(book_address)) return {};
    // The folder is the path up to its last '/', before any query or fragment.
    const std::string path = book_address.substr(0, book_address.find_first_of("?#"));
    const size_t host = path.find("//") + 2;
    const size_t slash = path.find('/', host) == std::string::npos ? std::string::npos : path.rfind('/');
    if (slash == std::string::npos) return path + "/" + file;  // the site's root page
    return path.substr(0, slash + 1) + file;
}

bool ReadShareImageSize(const std::string& book_folder, BookPageSettings& book) {
    if (JpegFileSize(book_folder + "/" + kShareImageFile, book.share_image_width, book.share_image_height) &&
        book.share_image_width > 0 && book.share_image_height > 0)
        return true;
    book.share_image_width = book.share_image_height = 0;
    return false;
}

std::string PdfFileAddress(const std::string& file_name) {
    std::string out;
    for (unsigned char c : file_name) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string ShareTags(const BookPageSettings& book, const std::string& language) {
    std::string out;
    Meta(out, "name", "description", book.description);
    Meta(out, "name", "keywords", book.keywords);
    Meta(out, "property", "og:type", "book");
    Meta(out, "property", "og:title", book.title);
    Meta(out, "property", "og:description", book.description);
    std::string locale = language;
    for (char& c : locale)
        if (c == '-') c = '_';
    Meta(out, "property", "og:locale", locale);
    const bool large = book.share_image_width > 0 && book.share_image_height > 0;
    Meta(out, "name", "twitter:card", large ? "summary_large_image" : "summary");
    Meta(out, "name", "twitter:title", book.title);
    Meta(out, "name", "twitter:description", book.description);
    if (IsAbsoluteWebAddress(book.book_address)) {
        // The preview picture of page 1, or the small cover of books made before it.
        const std::string image = BookFileAddress(book.book_address, large ? kShareImageFile : kCoverFile);
        Meta(out, "property", "og:url", book.book_address);
        Meta(out, "property", "og:image", image);
        if (large) {
            Meta(out, "property", "og:image:width", std::to_string(book.share_image_width));
            Meta(out, "property", "og:image:height", std::to_string(book.share_image_height));
        }
        Meta(out, "name", "twitter:image", image);
        out += "<link rel=\"canonical\" href=\"" + Escaped(book.book_address) + "\">\n";
    }
    if (!out.empty()) out.pop_back();  // the template's own line ends the last tag
    return out;
}

}  // namespace pagegen
