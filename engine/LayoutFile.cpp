#include "engine/LayoutFile.h"

#include <algorithm>
#include <cmath>

#include "engine/BookPieces.h"
#include "engine/TextUtil.h"

namespace {

// Points with two decimals, without trailing zeros ("595.28", "612").
std::string Points(float value)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(value));
    std::string s = buf;
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.')
        s.pop_back();
    return s;
}

const char kLayoutDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
// Digits below this end a number; the ones above it carry its high part, three bits each.
constexpr unsigned long kFinalDigits = 56;

// A position in layout units, on the page (0 to the page's extent).
long Scaled(float value, float extent)
{
    if (extent <= 0)
        return 0;
    double v = std::round(static_cast<double>(value) * kLayoutUnit);
    return static_cast<long>(std::fmax(0.0, std::fmin(v, std::round(static_cast<double>(extent) * kLayoutUnit))));
}

// A number as base-64 digits: n / 56 in base 8 (digits 56 to 63, the high one first),
// left out when 0, then n % 56. Most gaps, heights and widths take one digit.
void AppendNumber(std::string& out, unsigned long n)
{
    char high[24];
    int count = 0;
    for (unsigned long q = n / kFinalDigits; q > 0; q /= 8)
        high[count++] = kLayoutDigits[kFinalDigits + q % 8];
    while (count > 0)
        out += high[--count];
    out += kLayoutDigits[n % kFinalDigits];
}

// A difference that may be negative: 0, -1, 1, -2, ... as 0, 1, 2, 3, ...
void AppendSigned(std::string& out, long v)
{
    AppendNumber(out, v >= 0 ? 2 * static_cast<unsigned long>(v) : 2 * static_cast<unsigned long>(-v) - 1);
}

// Per line of the page: its top as the gap below the previous line's bottom and its
// height, then its first word's left edge as the step from the previous line's first
// word and that word's width, then each further word's left edge as the gap after the
// previous word's right edge and its width. Edges are rounded before the differences
// are taken, so errors do not add up along a page.
std::string PackedLines(const PageLayout& page)
{
    std::string out;
    long previous_bottom = 0, previous_first_left = 0;
    for (size_t first = 0; first < page.words.size();) {
        size_t end = first + 1;
        while (end < page.words.size() && !page.words[end].starts_line)
            ++end;
        float top = page.words[first].box.y0, bottom = page.words[first].box.y1;
        for (size_t i = first; i < end; ++i) {
            top = std::fmin(top, page.words[i].box.y0);
            bottom = std::fmax(bottom, page.words[i].box.y1);
        }
        long y0 = Scaled(top, page.height), y1 = std::max(y0, Scaled(bottom, page.height));
        AppendSigned(out, y0 - previous_bottom);
        AppendNumber(out, static_cast<unsigned long>(y1 - y0));
        previous_bottom = y1;
        long right = 0;
        for (size_t i = first; i < end; ++i) {
            long x0 = Scaled(page.words[i].box.x0, page.width);
            long x1 = std::max(x0, Scaled(page.words[i].box.x1, page.width));
            if (i == first) {
                AppendSigned(out, x0 - previous_first_left);
                previous_first_left = x0;
            } else {
                AppendSigned(out, x0 - right);
            }
            AppendNumber(out, static_cast<unsigned long>(x1 - x0));
            right = x1;
        }
        first = end;
    }
    return out;
}

// A link as [x, y, width, height, target] in layout units.
std::string LinkBox(fz_rect box, const PageLayout& page)
{
    long x0 = Scaled(box.x0, page.width), y0 = Scaled(box.y0, page.height);
    long x1 = Scaled(box.x1, page.width), y1 = Scaled(box.y1, page.height);
    return std::to_string(x0) + ',' + std::to_string(y0) + ',' + std::to_string(x1 - x0) + ',' +
           std::to_string(y1 - y0);
}

} // namespace

namespace {

// The fields before the outline, common to layout.js and its pieces.
std::string LayoutFields(const DocumentNavigation& nav, int page_count)
{
    return "\"version\":" + std::to_string(kLayoutVersion) + ",\"unit\":" + std::to_string(kLayoutUnit) +
           ",\"pageCount\":" + std::to_string(page_count) + ",\"direction\":\"" + (nav.right_to_left ? "rtl" : "ltr") +
           '"';
}

std::string OutlineList(const DocumentNavigation& nav)
{
    std::string out = "[";
    bool first = true;
    for (const OutlineEntry& e : nav.outline) {
        out += first ? "\n" : ",\n";
        first = false;
        out += "{\"title\":" + JsonString(e.title) + ",\"page\":" + std::to_string(e.page) +
               ",\"level\":" + std::to_string(e.level) + "}";
    }
    return out + ']';
}

} // namespace

std::string MakeLayoutHead(const DocumentNavigation& nav, int page_count)
{
    return "window.VELLUMARK_BOOK_LAYOUT = {" + LayoutFields(nav, page_count) + ",\"outline\":" + OutlineList(nav) +
           ",\"pages\":[\n";
}

std::string MakeLayoutPiece(const DocumentNavigation& nav, int page_count, int first, const std::string& entries)
{
    // "outlineEntries" tells the reader whether there is an outline piece to fetch.
    return "window.VELLUMARK_BOOK_LAYOUT = {" + LayoutFields(nav, page_count) + ",\"pieces\":" +
           std::to_string(kPiecePages) + ",\"outlineEntries\":" + std::to_string(nav.outline.size()) +
           ",\"first\":" + std::to_string(first) + ",\"pages\":[\n" + entries + "\n]};\n";
}

std::string MakeLayoutOutline(const DocumentNavigation& nav)
{
    return "window.VELLUMARK_BOOK_LAYOUT = {\"version\":" + std::to_string(kLayoutVersion) +
           ",\"outline\":" + OutlineList(nav) + "};\n";
}

std::string MakeLayoutTail()
{
    return "]};\n";
}

std::string MakeLayoutPage(const PageLayout& page, const std::string& label, int page_count)
{
    std::string out = "{\"w\":" + Points(page.width) + ",\"h\":" + Points(page.height);
    if (!label.empty())
        out += ",\"label\":" + JsonString(label);
    out += ",\"lines\":\"" + PackedLines(page) + '"';
    // A page without links has no "links" at all.
    std::string links;
    for (const LayoutLink& link : page.links) {
        if (link.page > page_count || (link.page == 0 && link.uri.empty()))
            continue;
        links += links.empty() ? "[" : ",[";
        links += LinkBox(link.box, page) + ',' + (link.page > 0 ? std::to_string(link.page) : JsonString(link.uri)) + ']';
    }
    if (!links.empty())
        out += ",\"links\":[" + links + ']';
    return out + '}';
}

bool LayoutFileWriter::Open(const std::string& path, std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_.Open(path, error))
        return false;
    folder_ = FolderOf(path);
    if (!folder_.empty() && folder_.back() != '/')
        folder_ += '/';
    WriteLocked(MakeLayoutHead(nav_, page_count_));
    if (!nav_.outline.empty() && !WriteFileAtomically(folder_ + kOutlinePieceName, MakeLayoutOutline(nav_), error))
        return false;
    return true;
}

void LayoutFileWriter::Add(int page_index, const PageLayout& page)
{
    // The entry is made outside the lock; only the ordering is shared.
    std::string entry = MakeLayoutPage(page, nav_.LabelOf(page_index), page_count_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (page_index < next_ || page_index >= page_count_)
        return;
    waiting_[page_index] = std::move(entry);
    WriteReadyLocked();
}

void LayoutFileWriter::WriteReadyLocked()
{
    for (auto it = waiting_.begin(); it != waiting_.end() && it->first == next_; it = waiting_.erase(it)) {
        WriteLocked((next_ > 0 ? ",\n" : "") + it->second);
        piece_ += (piece_.empty() ? "" : ",\n") + it->second;
        ++next_;
        if (next_ - piece_first_ == kPiecePages || next_ == page_count_)
            WritePieceLocked();
    }
}

void LayoutFileWriter::WritePieceLocked()
{
    std::string error;
    const std::string name = PieceFileName("layout", piece_first_ + 1);
    if (!WriteFileAtomically(folder_ + name, MakeLayoutPiece(nav_, page_count_, piece_first_ + 1, piece_), error))
        write_failed_ = true;
    piece_.clear();
    piece_first_ = next_;
}

void LayoutFileWriter::WriteLocked(const std::string& bytes)
{
    if (!write_failed_ && !bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), file_.Stream()) != bytes.size())
        write_failed_ = true;
}

bool LayoutFileWriter::Finish(std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (int i = next_; i < page_count_; ++i)
        if (!waiting_.count(i))
            waiting_[i] = MakeLayoutPage(PageLayout(), nav_.LabelOf(i), page_count_);
    WriteReadyLocked();
    WriteLocked("\n");
    WriteLocked(MakeLayoutTail());
    if (write_failed_) {
        error = "cannot write layout.js or its pieces";
        return false;
    }
    return file_.Commit(error);
}
