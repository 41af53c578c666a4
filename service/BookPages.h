// The published books on the web: a book's page, made on request from the shipped page
// template and the book's stored metadata, its uploaded files, and the shared viewer
// files (script, styles, skins, language files) of the shipped Upload folder.
//
// Addresses, under the web prefix "/vellumark/":
//   booklet.asp?guid=KEY     sends the browser on to books/KEY/
//   books/KEY/               the book's page (also books/KEY/index.html)
//   books/KEY/[FOLDER/]NAME  an uploaded file
//   books/NAME...            a shared file; the page refers to them with "../"
#pragma once

#include "service/BookStore.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace service {

// What to answer a GET: a body, a file to send, or a redirect.
struct WebReply {
    int status = 404;
    std::string content_type = "text/plain; charset=utf-8";
    std::string body;
    std::filesystem::path file;  // sent when not empty
    std::string location;        // for a redirect
    std::vector<std::pair<std::string, std::string>> headers;  // further answer headers
};

class BookPages {
public:
    static constexpr const char* kBooksPrefix = "/vellumark/books/";

    // `upload_dir`: the shipped Upload folder (page template and shared files);
    // `temp_dir`: where pages are made before they are read back.
    BookPages(BookStore& books, std::filesystem::path upload_dir, std::filesystem::path temp_dir);

    WebReply Booklet(const std::string& guid);
    // `rest`: the address after kBooksPrefix, already decoded. `books_address`: the
    // absolute address of the books folder as readers reach it (see PublicBooksAddress),
    // or empty when it is not known.
    WebReply Serve(const std::string& rest, const std::string& books_address = {});
    // The book's page as HTML, with its description, keywords and, when `books_address`
    // is known, the book's own address and its cover's for link previews; false when it
    // cannot be made.
    bool MakePage(const BookRecord& book, const std::string& books_address, std::string& html);

private:
    WebReply BookFile(const std::string& key, const std::string& folder, const std::string& name);
    WebReply SharedFile(const std::string& rest);

    BookStore& books_;
    std::filesystem::path upload_dir_;
    std::filesystem::path temp_dir_;
};

// The absolute address of the books folder, "SCHEME://HOST/vellumark/books/", from the
// Host header of a request; empty when `host` is anything but a host name or address with
// an optional port, so that a forged header cannot put other text into the page. The
// scheme is https only when `scheme` says so (a trusted proxy in front tells it), else
// http, the only one the service speaks itself.
std::string PublicBooksAddress(const std::string& host, const std::string& scheme);

// The content type for a file name, by its extension.
std::string ContentTypeFor(const std::string& name);

// How a file an owner uploaded is answered: only the types a book folder needs keep
// their type (images, the PDF, the book data scripts, the text page in a sandbox);
// anything else is offered as a download, so no uploaded file can run script in the
// service's origin. Sets the type and the headers of `reply`.
void DescribeUploadedFile(const std::string& name, WebReply& reply);

// The content security policy of a book's page: the shipped viewer and the book's own
// files, nothing from elsewhere, no plug-ins, no workers.
extern const char* const kBookPagePolicy;

}  // namespace service
