#include "service/RequestParsers.h"

#include <charconv>

namespace service {
namespace {

constexpr size_t kCodeSize = 4;
constexpr size_t kKeySize = 32;
constexpr size_t kLengthFieldSize = 8;
constexpr size_t kUploadFixedSize = kCodeSize + kKeySize + kLengthFieldSize;  // 44
constexpr size_t kMetadataNumbers = 18;

// The text of a fixed-width field: the bytes up to its first NUL. False when the field
// holds no NUL, i.e. the text does not fit with its terminator.
bool FieldText(std::string_view field, std::string& out) {
    const size_t end = field.find('\0');
    if (end == std::string_view::npos) return false;
    out.assign(field.substr(0, end));
    return true;
}

// A decimal number without sign; false when empty, not all digits or too large.
template <typename T>
bool ParseUnsigned(std::string_view text, T& out) {
    if (text.empty() || text.size() > 19) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

// A decimal number with an optional leading "-".
bool ParseSigned(std::string_view text, int64_t& out) {
    const bool negative = !text.empty() && text.front() == '-';
    uint64_t magnitude = 0;
    if (!ParseUnsigned(negative ? text.substr(1) : text, magnitude)) return false;
    if (magnitude > static_cast<uint64_t>(INT64_MAX)) return false;
    out = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

// Reads one "\n"-ended line from `text` at `at`.
bool NextLine(std::string_view text, size_t& at, std::string_view& line) {
    const size_t end = text.find('\n', at);
    if (end == std::string_view::npos) return false;
    line = text.substr(at, end - at);
    at = end + 1;
    return true;
}

// "label:N" then N id lines.
bool ParseIdList(std::string_view text, size_t& at, std::string_view label, std::vector<int64_t>& ids) {
    std::string_view line;
    if (!NextLine(text, at, line) || line.substr(0, label.size()) != label) return false;
    uint64_t count = 0;
    if (!ParseUnsigned(line.substr(label.size()), count) || count > text.size()) return false;
    ids.clear();
    for (uint64_t i = 0; i < count; ++i) {
        int64_t id = 0;
        if (!NextLine(text, at, line) || !ParseSigned(line, id)) return false;
        ids.push_back(id);
    }
    return true;
}

}  // namespace

std::string_view RequestCode(std::string_view body) {
    return body.size() < kCodeSize ? std::string_view() : body.substr(0, kCodeSize);
}

bool ParseLogin(std::string_view payload, LoginRequest& out) {
    if (payload.size() != 2 * kLoginFieldWidth) return false;
    return FieldText(payload.substr(0, kLoginFieldWidth), out.user) &&
           FieldText(payload.substr(kLoginFieldWidth), out.password);
}

bool ParseReferenceIds(std::string_view payload, ReferenceIds& out) {
    const size_t end = payload.find('\0');
    if (end == std::string_view::npos) return false;
    if (payload.find_first_not_of('\0', end) != std::string_view::npos) return false;
    const std::string_view text = payload.substr(0, end);
    size_t at = 0;
    std::string_view line;
    if (!NextLine(text, at, line) || !ParseUnsigned(line, out.build)) return false;
    if (!ParseIdList(text, at, "subcat_ids:", out.subcategory_ids)) return false;
    if (!ParseIdList(text, at, "cat_ids:", out.category_ids)) return false;
    return at == text.size();
}

bool ParseMetadata(std::string_view payload, BookMetadata& out, std::string& why) {
    if (payload.size() < kKeySize) {
        why = "metadata too short";
        return false;
    }
    out.key.assign(payload.substr(0, kKeySize));
    size_t at = kKeySize;
    int64_t numbers[kMetadataNumbers] = {};
    for (size_t i = 0; i < kMetadataNumbers; ++i) {
        const char separator = i + 1 < kMetadataNumbers ? ',' : ':';
        const size_t end = payload.find(separator, at);
        if (end == std::string_view::npos || !ParseSigned(payload.substr(at, end - at), numbers[i])) {
            why = "metadata number " + std::to_string(i + 1) + " is malformed";
            return false;
        }
        at = end + 1;
    }
    out.page_count = numbers[0];
    out.page_width = numbers[1];
    out.page_height = numbers[2];
    out.user_row_id = numbers[3];
    out.reserved = numbers[4];
    out.service_switch = numbers[5];
    out.category_id = numbers[6];
    out.subcategory_id = numbers[7];
    out.country_id = numbers[8];
    out.state_id = numbers[9];
    out.city_id = numbers[10];
    out.pdf_size = numbers[15];
    out.cover_width = numbers[16];
    out.cover_height = numbers[17];

    std::string* texts[] = {&out.title, &out.description, &out.tags};
    for (size_t i = 0; i < 3; ++i) {
        const int64_t length = numbers[11 + i];
        if (length < 0 || static_cast<uint64_t>(length) > payload.size() - at) {
            why = "metadata text length does not match the body";
            return false;
        }
        texts[i]->assign(payload.substr(at, static_cast<size_t>(length)));
        at += static_cast<size_t>(length);
    }
    if (numbers[14] < 0) {
        why = "metadata file name length is negative";
        return false;
    }
    out.pdf_name.assign(payload.substr(at));
    return true;
}

bool ParseUploadHeader(std::string_view body, UploadHeader& out, std::string& why) {
    if (body.size() < kUploadFixedSize || RequestCode(body) != "upld") {
        why = "upload header too short";
        return false;
    }
    out.key.assign(body.substr(kCodeSize, kKeySize));

    // The length field: digits, a NUL, then only NUL bytes.
    const std::string_view field = body.substr(kCodeSize + kKeySize, kLengthFieldSize);
    const size_t digits_end = field.find('\0');
    size_t header_length = 0;
    if (digits_end == std::string_view::npos || field.find_first_not_of('\0', digits_end) != std::string_view::npos ||
        !ParseUnsigned(field.substr(0, digits_end), header_length)) {
        why = "upload header length field is not a number";
        return false;
    }
    if (header_length > body.size() - kUploadFixedSize) {
        why = "upload header longer than the body";
        return false;
    }

    // The announced header is a run of NUL-ended texts with nothing after the last NUL.
    const std::string_view header = body.substr(kUploadFixedSize, header_length);
    std::vector<std::string_view> texts;
    for (size_t at = 0; at < header.size();) {
        const size_t end = header.find('\0', at);
        if (end == std::string_view::npos) {
            why = "upload header text without terminator";
            return false;
        }
        texts.push_back(header.substr(at, end - at));
        at = end + 1;
    }
    if (texts.size() != 2 && texts.size() != 4) {
        why = "upload header holds " + std::to_string(texts.size()) + " texts";
        return false;
    }
    out.file_name.assign(texts[0]);
    out.sub_folder.assign(texts[1]);
    out.chunked = texts.size() == 4;
    out.chunk_index = 0;
    out.chunk_kib = 0;
    if (out.chunked && (!ParseUnsigned(texts[2], out.chunk_index) || !ParseUnsigned(texts[3], out.chunk_kib) ||
                        out.chunk_kib == 0 || out.chunk_kib > kMaxChunkKiB)) {
        why = "upload chunk fields are malformed";
        return false;
    }
    out.data_offset = kUploadFixedSize + header_length;

    const size_t data_size = body.size() - out.data_offset;
    const size_t limit = static_cast<size_t>(out.chunked ? out.chunk_kib : kMaxChunkKiB) * 1024;
    if (data_size > limit) {
        why = "upload data larger than one chunk";
        return false;
    }
    if (out.chunked && data_size == 0) {
        why = "empty upload chunk";
        return false;
    }
    return true;
}

std::string LengthPrefixed(std::string_view message) {
    std::string reply = std::to_string(message.size());
    reply.resize(16, '\0');
    reply.append(message);
    return reply;
}

}  // namespace service
