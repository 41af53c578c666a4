#include "publish/HttpReplies.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <limits>

namespace http_body {

namespace {
constexpr size_t kJobKeySize = 32;
constexpr size_t kHeaderLengthField = 8;
constexpr size_t kVersionBodySize = 128;

// `text` in a field of `width` bytes: the text, then zero bytes up to the width.
void AppendField(std::string& out, const std::string& text, size_t width) {
    std::string field = text.substr(0, width);
    field.resize(width, '\0');
    out += field;
}

void AppendTerminated(std::string& out, const std::string& text) {
    out += text;
    out += '\0';
}
}  // namespace

std::string UploadHeader(const std::string& job_key, const std::string& file_name, const std::string& subdir,
                         int32_t chunk_index, int32_t chunk_kib) {
    std::string tail;
    AppendTerminated(tail, file_name);
    AppendTerminated(tail, subdir);
    if (chunk_index >= 0) {
        AppendTerminated(tail, std::to_string(chunk_index));
        AppendTerminated(tail, std::to_string(chunk_kib));
    }
    std::string header = "upld";
    AppendField(header, job_key, kJobKeySize);
    // The length field keeps at least one NUL after its digits.
    AppendField(header, std::to_string(tail.size()).substr(0, kHeaderLengthField - 1), kHeaderLengthField);
    return header + tail;
}

int64_t ChunkPlan::Bytes(int64_t k) const {
    if (!chunked) return file_size;
    return std::min(file_size, (k + 1) * chunk_bytes) - Offset(k);
}

ChunkPlan PlanChunks(int64_t file_size, int64_t chunk_bytes) {
    ChunkPlan plan;
    plan.file_size = file_size;
    plan.chunk_bytes = chunk_bytes;
    plan.chunked = chunk_bytes > 0 && file_size > chunk_bytes;
    plan.count = plan.chunked ? (file_size + chunk_bytes - 1) / chunk_bytes : 1;
    return plan;
}

bool LoginBody(const std::string& user, const std::string& password, std::string& body) {
    body.clear();
    if (user.size() >= kLoginFieldSize || password.size() >= kLoginFieldSize) return false;
    AppendField(body, user, kLoginFieldSize);
    AppendField(body, password, kLoginFieldSize);
    return true;
}

std::string VersionBody() {
    std::string body;
    AppendField(body, std::to_string(kBuildStamp), kVersionBodySize);
    return body;
}

std::string MetadataText(const BookMetadata& meta) {
    const int64_t numbers[] = {meta.page_count,
                               meta.page_width,
                               meta.page_height,
                               meta.user_row_id,
                               meta.reserved,
                               meta.job_values[0],
                               meta.job_values[1],
                               meta.job_values[2],
                               meta.job_values[3],
                               meta.job_values[4],
                               meta.job_values[5],
                               static_cast<int64_t>(meta.title.size()),
                               static_cast<int64_t>(meta.description.size()),
                               static_cast<int64_t>(meta.tags.size()),
                               static_cast<int64_t>(meta.pdf_name.size()),
                               meta.pdf_size,
                               meta.cover_width,
                               meta.cover_height};
    std::string text = meta.job_key.substr(0, kJobKeySize);
    for (size_t i = 0; i < std::size(numbers); ++i) {
        text += std::to_string(numbers[i]);
        text += i + 1 < std::size(numbers) ? ',' : ':';
    }
    return text + meta.title + meta.description + meta.tags + meta.pdf_name;
}

std::string ReferenceIdBlock(const std::vector<int64_t>& subcategory_ids, const std::vector<int64_t>& category_ids) {
    std::string text = std::to_string(kBuildStamp) + "\n";
    text += "subcat_ids:" + std::to_string(subcategory_ids.size()) + "\n";
    for (int64_t id : subcategory_ids) text += std::to_string(id) + "\n";
    text += "cat_ids:" + std::to_string(category_ids.size()) + "\n";
    for (int64_t id : category_ids) text += std::to_string(id) + "\n";
    // The usual block size counts on ids of a few digits; long ids or many categories
    // need more, and the text must always arrive whole and terminated.
    const size_t usual = (2 * subcategory_ids.size() + 5) * 16;
    const size_t needed = (text.size() + 1 + 15) / 16 * 16;
    text.resize(std::max(usual, needed), '\0');
    return text;
}

}  // namespace http_body

namespace http_reply {

namespace {
constexpr size_t kLengthField = 16;
constexpr size_t kStatusRead = 4095;
constexpr size_t kStatusLogText = 63;
constexpr size_t kUserRowIdRead = 63;
constexpr size_t kVersionKeep = 127;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The bytes of `text` from `from` up to its first NUL (or its end).
std::string UpToNul(const std::string& text, size_t from = 0) {
    if (from >= text.size()) return {};
    const size_t nul = text.find('\0', from);
    return text.substr(from, nul == std::string::npos ? std::string::npos : nul - from);
}

// The leading decimal number of `text` as the C library reads it (spaces and a sign
// allowed, 0 when there is none), limited to the range of the result.
int64_t LeadingNumber(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int64_t>(value);
}

int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}
}  // namespace

Prefixed ParseLengthPrefixed(const std::string& reply, std::string& message) {
    message.clear();
    if (reply.empty() || !IsDigit(reply[0])) return Prefixed::NotANumber;
    uint64_t length = 0;
    for (size_t i = 0; i < kLengthField && i < reply.size() && IsDigit(reply[i]); ++i)
        length = length * 10 + static_cast<uint64_t>(reply[i] - '0');
    if (length == 0) return Prefixed::Empty;
    // A message cut short would be taken for a complete one: the length is there to
    // tell the two apart.
    if (reply.size() < kLengthField || reply.size() - kLengthField < length) return Prefixed::Short;
    message = reply.substr(kLengthField, static_cast<size_t>(length));
    return Prefixed::Ok;
}

Status JudgeStatus(const std::string& reply) {
    const std::string arrived = reply.substr(0, kStatusRead);
    Status status;
    const std::string text = UpToNul(arrived);
    status.text = text.substr(0, kStatusLogText);
    status.ok = text == "OK" || text == "can not create file";
    if (status.ok && arrived.size() > 4) {
        status.has_number = true;
        status.number = ClampToInt32(LeadingNumber(UpToNul(arrived, 3)));
    }
    return status;
}

int32_t UserRowId(const std::string& reply) {
    return ClampToInt32(LeadingNumber(UpToNul(reply.substr(0, kUserRowIdRead))));
}

Version NewerBuild(const std::string& reply) {
    const std::string text = UpToNul(reply.substr(0, kVersionKeep));
    if (text.empty()) return Version::NoNewer;
    if (!IsDigit(text[0])) return Version::NotANumber;
    return LeadingNumber(text) > http_body::kBuildStamp ? Version::Newer : Version::NoNewer;
}

std::string Printable(const std::string& text, size_t max_bytes) {
    std::string out = text.substr(0, max_bytes);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) c = '?';
    }
    return out;
}

}  // namespace http_reply
