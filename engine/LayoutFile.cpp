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

long Scaled(float value, float extent)
{
    if (extent <= 0)
        return 0;
    double v = std::round(static_cast<double>(value) / extent * kLayoutUnit);
    return static_cast<long>(std::fmax(0.0, std::fmin(v, kLayoutUnit)));
}

// x, y, width, height in layout units; width and height come from the rounded edges so
// that both edges are as exact as the unit allows.
void AppendBox(std::string& out, fz_rect box, const PageLayout& page)
{
    long x0 = Scaled(box.x0, page.width), y0 = Scaled(box.y0, page.height);
    long x1 = Scaled(box.x1, page.width), y1 = Scaled(box.y1, page.height);
    out += std::to_string(x0) + ',' + std::to_string(y0) + ',' + std::to_string(x1 - x0) + ',' +
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
    std::string text;
    for (const LayoutWord& w : page.words) {
        if (!text.empty())
            text += w.starts_line ? '\n' : ' ';
        text += w.text;
    }
    out += ",\"text\":" + JsonString(text) + ",\"boxes\":[";
    for (size_t i = 0; i < page.words.size(); ++i) {
        if (i > 0)
            out += ',';
        AppendBox(out, page.words[i].box, page);
    }
    out += "],\"links\":[";
    bool first = true;
    for (const LayoutLink& link : page.links) {
        if (link.page > page_count || (link.page == 0 && link.uri.empty()))
            continue;
        out += first ? "[" : ",[";
        first = false;
        AppendBox(out, link.box, page);
        out += ',' + (link.page > 0 ? std::to_string(link.page) : JsonString(link.uri)) + ']';
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
    WriteLocked("\n" + MakeLayoutTail());
    if (write_failed_) {
        error = "cannot write layout.js";
        return false;
    }
    return file_.Commit(error);
}
