#include "pagegen/ShareTags.h"

#include "pagegen/TextLimits.h"

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

std::string CoverAddress(const std::string& book_address) {
    if (!IsAbsoluteWebAddress(book_address)) return {};
    // The folder is the path up to its last '/', before any query or fragment.
    const std::string path = book_address.substr(0, book_address.find_first_of("?#"));
    const size_t host = path.find("//") + 2;
    const size_t slash = path.find('/', host) == std::string::npos ? std::string::npos : path.rfind('/');
    if (slash == std::string::npos) return path + "/" + kCoverFile;  // the site's root page
    return path.substr(0, slash + 1) + kCoverFile;
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
    Meta(out, "name", "twitter:card", "summary");
    Meta(out, "name", "twitter:title", book.title);
    Meta(out, "name", "twitter:description", book.description);
    if (IsAbsoluteWebAddress(book.book_address)) {
        const std::string cover = CoverAddress(book.book_address);
        Meta(out, "property", "og:url", book.book_address);
        Meta(out, "property", "og:image", cover);
        Meta(out, "name", "twitter:image", cover);
        out += "<link rel=\"canonical\" href=\"" + Escaped(book.book_address) + "\">\n";
    }
    if (!out.empty()) out.pop_back();  // the template's own line ends the last tag
    return out;
}

}  // namespace pagegen
