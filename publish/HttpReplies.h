// The bodies sent to the publishing web service and the readers of its replies. Pure
// functions over bytes, so every field layout can be checked without a network.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace http_body {

// The build stamp this program reports to the service.
constexpr int64_t kBuildStamp = 201302010343LL;
// Width of the user name and password fields of a login; each keeps a final NUL.
constexpr size_t kLoginFieldSize = 32;

// The body of an upload after its 4-byte code: job key, header length, file name,
// remote sub-folder and, for one chunk of a larger file, the chunk index and the chunk
// size in KiB. `chunk_index` below 0 means the whole file (no chunk fields).
std::string UploadHeader(const std::string& job_key, const std::string& file_name, const std::string& subdir,
                         int32_t chunk_index, int32_t chunk_kib);

// How a file of `file_size` bytes is cut for upload: the number of requests and the
// bytes of request k. A file of at most `chunk_bytes` goes whole, in one request.
struct ChunkPlan {
    bool chunked = false;
    int64_t count = 1;
    int64_t chunk_bytes = 0;
    int64_t file_size = 0;
    int64_t Offset(int64_t k) const { return k * chunk_bytes; }
    int64_t Bytes(int64_t k) const;
};
ChunkPlan PlanChunks(int64_t file_size, int64_t chunk_bytes);

// The 64 login bytes: user name and password in fields of 32 bytes. False (and `body`
// left empty) when either is longer than 31 bytes: it would not fit its field.
bool LoginBody(const std::string& user, const std::string& password, std::string& body);

// The 128 bytes of a version check: the build stamp in decimal, then zero bytes.
std::string VersionBody();

// What the service is told about a book.
struct BookMetadata {
    std::string job_key;
    int32_t page_count = 0;
    int32_t page_width = 0;
    int32_t page_height = 0;
    int32_t user_row_id = 0;
    int32_t reserved = 0;
    // Web-service switch, category, subcategory, country, state and city ids.
    std::array<int32_t, 6> job_values{};
    std::string title;
    std::string description;
    std::string tags;
    std::string pdf_name;  // final component of the PDF's path
    int64_t pdf_size = 0;
    int32_t cover_width = 0;
    int32_t cover_height = 0;
};
// Job key, eighteen numbers ("," between, ":" after), title, description, tags and the
// PDF name, with no terminator.
std::string MetadataText(const BookMetadata& meta);

// The block sent to ask for reference database changes: the build stamp line, then the
// known subcategory and category ids, NUL-terminated and zero-padded. The block is
// (2 × subcategories + 5) × 16 bytes, or larger when the text needs more.
std::string ReferenceIdBlock(const std::vector<int64_t>& subcategory_ids, const std::vector<int64_t>& category_ids);

}  // namespace http_body

namespace http_reply {

// A reply made of a 16-byte decimal length field (NUL-padded) and that many bytes.
enum class Prefixed {
    Ok,
    NotANumber,  // the first byte is not a digit
    Empty,       // the length is 0
    Short,       // fewer bytes arrived than the length announced
};
Prefixed ParseLengthPrefixed(const std::string& reply, std::string& message);

// A status reply: success when its text up to the first NUL is "OK" or
// "can not create file". A number follows "OK" and a NUL only when more than 4 bytes
// arrived: the decimal value from offset 3 up to the next NUL.
struct Status {
    bool ok = false;
    bool has_number = false;
    int32_t number = 0;
    std::string text;  // the reply up to its first NUL, at most 63 bytes, for the log
};
Status JudgeStatus(const std::string& reply);

// The user row id in a login reply (decimal text in its first 63 bytes); 0 when none.
int32_t UserRowId(const std::string& reply);

enum class Version { NoNewer, Newer, NotANumber };
// Reads a version-check reply: an empty reply means no newer build.
Version NewerBuild(const std::string& reply);

// `text` cut to `max_bytes` with control bytes replaced, so that text chosen by a
// peer cannot break a log record into several.
std::string Printable(const std::string& text, size_t max_bytes);

}  // namespace http_reply
