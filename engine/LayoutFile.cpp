#include "engine/LayoutFile.h"

#include <cmath>

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

long Scaled(float value, float extent)
{
    if (extent <= 0)
        return 0;
    double v = std::round(static_cast<double>(value) / extent * kLayoutUnit);
    return static_cast<long>(std::fmax(0.0, std::fmin(v, kLayoutUnit - 1)));
}

// One number from 0 to kLayoutUnit - 1 as two digits, the high one first.
void AppendNumber(std::string& out, long v)
{
    out += kLayoutDigits[(v >> 6) & 63];
    out += kLayoutDigits[v & 63];
}

// An edge and the extent up to the other edge, both edges rounded, so that each is as
// exact as the unit allows.
void AppendSpan(std::string& out, float from, float to, float extent)
{
    long a = Scaled(from, extent), b = Scaled(to, extent);
    AppendNumber(out, a);
    AppendNumber(out, b > a ? b - a : 0);
}

// Per line of the page: top and height of the line, then left and width of each of its
// words.
std::string PackedLines(const PageLayout& page)
{
    std::string out;
    for (size_t first = 0; first < page.words.size();) {
        size_t end = first + 1;
        while (end < page.words.size() && !page.words[end].starts_line)
            ++end;
        float top = page.words[first].box.y0, bottom = page.words[first].box.y1;
        for (size_t i = first; i < end; ++i) {
            top = std::fmin(top, page.words[i].box.y0);
            bottom = std::fmax(bottom, page.words[i].box.y1);
        }
        AppendSpan(out, top, bottom, page.height);
        for (size_t i = first; i < end; ++i)
            AppendSpan(out, page.words[i].box.x0, page.words[i].box.x1, page.width);
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

std::string MakeLayoutHead(const DocumentNavigation& nav, int page_count)
{
    std::string out = "window.VELLUMARK_BOOK_LAYOUT = {\"version\":" + std::to_string(kLayoutVersion) +
                      ",\"unit\":" + std::to_string(kLayoutUnit) + ",\"pageCount\":" + std::to_string(page_count) +
                      ",\"direction\":\"" + (nav.right_to_left ? "rtl" : "ltr") + "\",\"outline\":[";
    bool first = true;
    for (const OutlineEntry& e : nav.outline) {
        out += first ? "\n" : ",\n";
        first = false;
        out += "{\"title\":" + JsonString(e.title) + ",\"page\":" + std::to_string(e.page) +
               ",\"level\":" + std::to_string(e.level) + "}";
    }
    out += "],\"pages\":[\n";
    return out;
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
    out += ",\"lines\":\"" + PackedLines(page) + "\",\"links\":[";
    bool first = true;
    for (const LayoutLink& link : page.links) {
        if (link.page > page_count || (link.page == 0 && link.uri.empty()))
            continue;
        out += first ? "[" : ",[";
        first = false;
        out += LinkBox(link.box, page) + ',' + (link.page > 0 ? std::to_string(link.page) : JsonString(link.uri)) + ']';
    }
    out += "]}";
    return out;
}

bool LayoutFileWriter::Open(const std::string& path, std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_.Open(path, error))
        return false;
    WriteLocked(MakeLayoutHead(nav_, page_count_));
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
        ++next_;
    }
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
        error = "cannot write layout.js";
        return false;
    }
    return file_.Commit(error);
}
