// Pure parsers of the binary bodies the desktop program posts to the service, and the
// reply forms it reads back. Nothing here touches files, sockets or the database, so
// every rule about what a body may hold is tested on its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace service {

// Width of each field of a login body, and the longest text one holds.
inline constexpr size_t kLoginFieldWidth = 32;
inline constexpr size_t kLoginTextMax = kLoginFieldWidth - 1;
// Largest chunk (and largest whole file in one request) the service takes, in KiB: with
// its header fields, such a request stays within the 1 MiB body limit. Older clients
// send at most 48 KiB; the service announces this value in the answer to a login
// (kChunkHeader), and a client that reads it sends fewer, larger pieces.
inline constexpr uint32_t kMaxChunkKiB = 1000;

// The four-byte request code at the start of a body; empty when the body is shorter.
std::string_view RequestCode(std::string_view body);

struct LoginRequest {
    std::string user;      // the account's e-mail address
    std::string password;  // never logged
};
// "logi" body after the code: two 32-byte fields, each a text ended by NUL.
bool ParseLogin(std::string_view payload, LoginRequest& out);

struct ReferenceIds {
    uint64_t build = 0;
    std::vector<int64_t> subcategory_ids;
    std::vector<int64_t> category_ids;
};
// "updt" body after the code: the build stamp line, "subcat_ids:N" and N id lines,
// "cat_ids:M" and M id lines, then NUL and zero bytes up to the end of the block.
bool ParseReferenceIds(std::string_view payload, ReferenceIds& out);

struct BookMetadata {
    std::string key;
    int64_t page_count = 0, page_width = 0, page_height = 0;
    int64_t user_row_id = 0;  // the session number the login answered
    int64_t reserved = 0, service_switch = 0;
    int64_t category_id = 0, subcategory_id = 0, country_id = 0, state_id = 0, city_id = 0;
    int64_t pdf_size = 0, cover_width = 0, cover_height = 0;
    std::string title, description, tags, pdf_name;
};
// "meta" body after the code: key, eighteen numbers ("," between, ":" after), then the
// title, description and tags by their byte lengths, then the PDF file name. The file
// name is the rest of the body: its announced length counts the bytes before the
// client's conversion to UTF-8 and may differ from what arrives. `why` says what is wrong.
bool ParseMetadata(std::string_view payload, BookMetadata& out, std::string& why);

struct UploadHeader {
    std::string key;
    std::string file_name;
    std::string sub_folder;
    bool chunked = false;
    uint32_t chunk_index = 0;
    uint32_t chunk_kib = 0;
    size_t data_offset = 0;  // where the file bytes start in the body
};
// A whole "upld" body (code included). Checks the layout and the limits: key, an 8-byte
// length field of digits ended by NUL, exactly two or four NUL-ended texts filling the
// announced header, a chunk size of 1..48 KiB, file bytes no longer than one chunk (or
// 48 KiB for a whole file) and, for a chunk, not empty. Names are checked by NameRules.
bool ParseUploadHeader(std::string_view body, UploadHeader& out, std::string& why);

// A reply the client reads with a 16-byte length field: the length in decimal digits,
// left-aligned and padded with NUL bytes, then the message.
std::string LengthPrefixed(std::string_view message);

}  // namespace service
