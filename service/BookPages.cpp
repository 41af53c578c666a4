#include "service/BookPages.h"

#include "config/DiagLog.h"
#include "config/JobKey.h"
#include "pagegen/FirstSpreadHint.h"
#include "pagegen/HtmlBuilder.h"
#include "pagegen/ImageSize.h"
#include "pagegen/ShareTags.h"
#include "service/NameRules.h"
#include "service/RandomHex.h"

#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace service {
namespace {

constexpr const char* kModule = "BookPages";

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (true) {
        const size_t slash = path.find('/', at);
        parts.push_back(path.substr(at, slash == std::string::npos ? std::string::npos : slash - at));
        if (slash == std::string::npos) break;
        at = slash + 1;
    }
    return parts;
}

WebReply NotFound() {
    WebReply reply;
    reply.body = "not found\n";
    return reply;
}

WebReply FileReply(const fs::path& path) {
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(path, error))) return NotFound();
    WebReply reply;
    reply.status = 200;
    reply.content_type = ContentTypeFor(path.filename().string());
    reply.file = path;
    return reply;
}

bool ReadWhole(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    return true;
}

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiHexDigit(char c) { return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsHostNameChar(char c) {
    return IsAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.';
}

}  // namespace

std::string PublicBooksAddress(const std::string& host, const std::string& scheme) {
    // A host name is at most 253 characters; an IPv6 literal in brackets and a port fit.
    if (host.empty() || host.size() > 260) return {};
    size_t at = 0;
    if (host[0] == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos || close < 3) return {};
        for (at = 1; at < close; ++at)
            if (!IsAsciiHexDigit(host[at]) && host[at] != ':' && host[at] != '.') return {};
        at = close + 1;
    } else {
        while (at < host.size() && IsHostNameChar(host[at])) ++at;
        if (at == 0 || host[0] == '.' || host[0] == '-') return {};
    }
    if (at < host.size()) {
        const std::string port = host.substr(at + 1);
        if (host[at] != ':' || port.empty() || port.size() > 5) return {};
        for (char c : port)
            if (!IsAsciiDigit(c)) return {};
        const int number = std::stoi(port);  // five digits at most: no overflow
        if (number < 1 || number > 65535) return {};
    }
    std::string lower = host;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return (scheme == "https" ? "https://" : "http://") + lower + BookPages::kBooksPrefix;
}

std::string ContentTypeFor(const std::string& name) {
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    static const std::pair<const char*, const char*> types[] = {
        {"html", "text/html; charset=utf-8"}, {"js", "text/javascript; charset=utf-8"},
        {"css", "text/css; charset=utf-8"},   {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},               {"png", "image/png"},
        {"svg", "image/svg+xml"},             {"pdf", "application/pdf"},
        {"xml", "application/xml"},           {"txt", "text/plain; charset=utf-8"},
    };
    for (const auto& [ext, type] : types) {
        if (extension == ext) return type;
    }
    return "application/octet-stream";
}

const char* const kBookPagePolicy =
    "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data: blob:; "
    "object-src 'none'; worker-src 'none'; base-uri 'none'; form-action 'none'";

// The name of the PDF published in the book's folder, or empty: the desktop program sends
// the PDF there only when its publisher offers it for download.
std::string OfferedPdf(const fs::path& folder) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        std::error_code kind;
        if (entry.path().extension() == ".pdf" && IsSafeFileName(name) && entry.is_regular_file(kind)) return name;
    }
    return {};
}

void DescribeUploadedFile(const std::string& name, WebReply& reply) {
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    if (extension == "jpg" || extension == "jpeg" || extension == "png" || extension == "pdf" || extension == "js") {
        // Scripts are book data, checked when they were uploaded.
        reply.content_type = ContentTypeFor(name);
        if (extension != "pdf") reply.headers.emplace_back("Content-Security-Policy", "default-src 'none'");
        return;
    }
    if (extension == "html") {
        // The plain text version of the book: shown, but in an origin of its own.
        reply.content_type = ContentTypeFor(name);
        reply.headers.emplace_back("Content-Security-Policy",
                                   "sandbox; default-src 'none'; style-src 'unsafe-inline'; img-src 'self'");
        return;
    }
    reply.content_type = "application/octet-stream";
    reply.headers.emplace_back("Content-Disposition", "attachment");
    reply.headers.emplace_back("Content-Security-Policy", "sandbox; default-src 'none'");
}

BookPages::BookPages(BookStore& books, fs::path upload_dir, fs::path temp_dir)
    : books_(books), upload_dir_(std::move(upload_dir)), temp_dir_(std::move(temp_dir)) {}

WebReply BookPages::Booklet(const std::string& guid) {
    BookRecord book;
    if (!IsJobKey(guid) || !books_.Find(guid, book)) return NotFound();
    WebReply reply;
    reply.status = 302;
    // Relative, so that the address stays right behind a proxy that mounts the service
    // under another path.
    reply.location = "books/" + guid + "/";
    return reply;
}

WebReply BookPages::Serve(const std::string& rest, const std::string& books_address) {
    const std::vector<std::string> parts = SplitPath(rest);
    if (!IsJobKey(parts[0])) return SharedFile(rest);
    BookRecord book;
    if (!books_.Find(parts[0], book)) return NotFound();
    if (parts.size() == 1) {  // books/KEY: the page's relative addresses need the slash
        WebReply reply;
        reply.status = 301;
        reply.location = parts[0] + "/";
        return reply;
    }
    if (parts.size() == 2 && (parts[1].empty() || parts[1] == "index.html")) {
        // The page is made from the metadata and the images of one state of the book.
        auto reading = books_.LockForReading();
        if (!books_.Find(parts[0], book)) return NotFound();
        WebReply reply;
        if (!MakePage(book, books_address, reply.body)) {
            reply.status = 500;
            reply.body = "the book's page cannot be made\n";
            return reply;
        }
        reply.status = 200;
        reply.content_type = "text/html; charset=utf-8";
        reply.headers.emplace_back("Content-Security-Policy", kBookPagePolicy);
        return reply;
    }
    if (parts.size() == 2) return BookFile(parts[0], "", parts[1]);
    if (parts.size() == 3 && !parts[1].empty()) return BookFile(parts[0], parts[1], parts[2]);
    return NotFound();
}

WebReply BookPages::BookFile(const std::string& key, const std::string& folder, const std::string& name) {
    if (!IsBookSubFolder(folder) || !IsSafeFileName(name)) return NotFound();
    WebReply reply = FileReply(books_.FilePath(key, folder, name));
    if (reply.status == 200) DescribeUploadedFile(name, reply);
    return reply;
}

WebReply BookPages::SharedFile(const std::string& rest) {
    const std::vector<std::string> parts = SplitPath(rest);
    fs::path path = upload_dir_;
    for (const std::string& part : parts) {
        if (!IsSafeFileName(part)) return NotFound();
        path /= part;
    }
    // The page template and its fragments are the service's own input, not content;
    // service.asp is a plain page that opens a book at a page.
    if (rest == "service.asp") {
        WebReply reply = FileReply(path);
        if (reply.status == 200) reply.content_type = "text/html; charset=utf-8";
        return reply;
    }
    if (path.extension() == ".asp") return NotFound();
    return FileReply(path);
}

bool BookPages::MakePage(const BookRecord& book, const std::string& books_address, std::string& html) {
    const BookMetadata& m = book.metadata;
    BookPageSettings settings;
    settings.page_width = static_cast<int32_t>(m.page_width);
    settings.page_height = static_cast<int32_t>(m.page_height);
    settings.page_count = static_cast<int32_t>(m.page_count);
    settings.job_key = book.key;
    settings.title = m.title;
    // The page escapes these as it escapes the title: they are the owner's texts.
    settings.description = m.description;
    settings.keywords = m.tags;
    if (!books_address.empty()) settings.book_address = books_address + book.key + "/";
    // The viewer is told the size of the stored images; without them, the page size.
    struct Box {
        const char* folder;
        int32_t* width;
        int32_t* height;
    } boxes[] = {{"LowRes", &settings.low_res_width, &settings.low_res_height},
                 {"MedRes", &settings.med_res_width, &settings.med_res_height},
                 {"HighRes", &settings.high_res_width, &settings.high_res_height}};
    for (Box& box : boxes) {
        if (!pagegen::JpegFileSize(books_.FilePath(book.key, box.folder, "img-1.jpg").string(), *box.width, *box.height)) {
            *box.width = settings.page_width;
            *box.height = settings.page_height;
        }
    }

    // The link-preview picture and the PDF its publisher offers, when the book has them.
    const fs::path folder = books_.FilePath(book.key, "", "");
    pagegen::ReadShareImageSize(folder.string(), settings);
    settings.zoom_text_in_tiles = pagegen::ZoomTextInTiles(folder.string());
    settings.offered_pdf = OfferedPdf(folder);

    const fs::path output = temp_dir_ / (".page-" + RandomHex(16) + ".html");
    HtmlBuilder builder(settings);
    builder.SetPageSize(settings.page_width, settings.page_height);
    const bool made = builder.MakePage((upload_dir_ / "booklet.asp").string(), output.string());
    const bool read = made && ReadWhole(output, html);
    std::error_code ignored;
    fs::remove(output, ignored);
    if (!read) DIAG(kModule, 0, "ERR:the page of %s cannot be made", book.key.c_str());
    return read;
}

}  // namespace service
