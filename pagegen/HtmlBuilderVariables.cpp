// What every template variable writes and what every template assignment sets.
#include "pagegen/HtmlBuilder.h"

#include "config/DiagLog.h"
#include "pagegen/FirstSpreadHint.h"
#include "pagegen/ShareTags.h"
#include "pagegen/TextLimits.h"

#include <cstdio>

namespace {

constexpr const char* kModule = "CreateHtml";
constexpr const char* kConfigJs =
    "<script type='text/javascript' language='javascript' src='../config.js'></script>";

// Free variables are named "g_" followed by an upper-case letter and anything after it.
bool IsFreeVariableName(const std::string& name) {
    return name.size() >= 3 && name[0] == 'g' && name[1] == '_' && name[2] >= 'A' && name[2] <= 'Z';
}

// The value with the expression's operator applied, in decimal; the arithmetic wraps
// around at 32 bits instead of overflowing.
std::string Integer(int32_t value, char op, int32_t operand) {
    uint32_t result = static_cast<uint32_t>(value);
    if (op == '+') result += static_cast<uint32_t>(operand);
    else if (op == '-') result -= static_cast<uint32_t>(operand);
    return std::to_string(static_cast<int32_t>(result));
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::string& HtmlBuilder::FreeVariable(const std::string& name) {
    return free_variables_[name];  // created empty when missing
}

std::string HtmlBuilder::Evaluate(const std::string& name, char op, int32_t operand) {
    const BookPageSettings& s = settings_;
    std::string out;
    if (name == "toolbar_width") out = Integer(toolbar_width_, op, operand);
    else if (name == "email_button") out = s.skin_usemail != 0 ? email_button_ : std::string();
    else if (name == "note_button") out = s.skin_usenote != 0 ? note_button_ : std::string();
    else if (name == "PAGECOUNT") out = Integer(s.page_count, op, operand);
    else if (name == "PAGEWIDTH") out = Integer(s.page_width, op, operand);
    else if (name == "PAGEHEIGHT") out = Integer(s.page_height, op, operand);
    else if (name == "PDFINFO_ID") out = Integer(information_id_, op, operand);
    else if (name == "guid") out = s.job_key;
    else if (name == "img_parent_dir") out = img_parent_dir_;
    // Made here from numbers and the image folder, longer than a template value may be.
    else if (name == "first_spread_hint") return pagegen::FirstSpreadHint(s, img_parent_dir_);
    // The title comes from the PDF's own metadata: escaped so that it stays text.
    else if (name == "strTitle") return pagegen::EscapeHtml(s.title, kExpressionCapacity);
    // What link previews and search engines read, escaped the same way; share_tags writes
    // them all as head tags, leaving out those whose value is unknown.
    else if (name == "strDescription") return pagegen::EscapeHtml(s.description, pagegen::kShareValueCapacity);
    else if (name == "strKeywords") return pagegen::EscapeHtml(s.keywords, pagegen::kShareValueCapacity);
    else if (name == "book_url") return pagegen::EscapeHtml(s.book_address, pagegen::kShareValueCapacity);
    else if (name == "cover_url")
        return pagegen::EscapeHtml(pagegen::CoverAddress(s.book_address), pagegen::kShareValueCapacity);
    else if (name == "share_tags") return pagegen::ShareTags(s, FreeVariable("g_LANG"));
    // "tiles" when the zoom layer's text is in the sharp zoom's tiles, else empty.
    else if (name == "zoom_text") out = s.zoom_text_in_tiles ? "tiles" : "";
    else if (name == "pdf_file")
        return pagegen::EscapeHtml(pagegen::PdfFileAddress(s.offered_pdf), pagegen::kShareValueCapacity);
    else if (name == "win_height") out = Integer(win_height_, op, operand);
    else if (name == "page_turn_ms") out = Integer(page_turn_ms_, op, operand);
    else if (name == "win_id") out = win_id_;
    else if (name == "zoom_container_width") out = Integer(zoom_container_width_, op, operand);
    else if (name == "zoom_container_height") out = Integer(zoom_container_height_, op, operand);
    else if (name == "skin_dir") out = skin_dir_;
    else if (name == "use_ftp") out = Integer(use_ftp_, op, operand);
    else if (name == "config_js") out = kConfigJs;
    else if (name == "bigimg_domain" || name == "jpg_domain" || name == "png_domain") out.clear();
    else if (name == "LowResWidth") out = Integer(s.low_res_width, op, operand);
    else if (name == "LowResHeight") out = Integer(s.low_res_height, op, operand);
    else if (name == "MedResWidth") out = Integer(s.med_res_width, op, operand);
    else if (name == "MedResHeight") out = Integer(s.med_res_height, op, operand);
    else if (name == "HighResWidth") out = Integer(s.high_res_width, op, operand);
    else if (name == "HighResHeight") out = Integer(s.high_res_height, op, operand);
    else if (name == "service_dir") out = service_dir_;
    else if (name == "sub_skindir") out = sub_skin_dir_;
    else if (name == "web_service") out = "../service.asp";
    else if (name == "home_link") {
        if (s.skin_useownlogo == 0 || s.skin_logourl.empty()) out = home_link_;
        // An address that already names its scheme is kept; "https://" too, which would
        // otherwise become "http://https://...".
        else if (StartsWith(s.skin_logourl, "http://") || StartsWith(s.skin_logourl, "https://"))
            out = s.skin_logourl;
        else out = "http://" + s.skin_logourl;
    } else if (name == "sub_css") {
        // The skin folder gets its trailing separator once and keeps it.
        std::string& subdir = settings_.skin_subdir;
        if (subdir.empty() || (subdir.back() != '/' && subdir.back() != '\\')) subdir += '/';
        out = "../" + subdir + s.skin_cssfile;
    } else if (name == "home_content") out = s.skin_useownlogo == 0 ? home_content_ : s.skin_logotxt;
    else if (IsFreeVariableName(name)) out = FreeVariable(name);
    else DIAG(kModule, 0, "INF:unknown template variable %.64s", name.c_str());
    return pagegen::FitText(out, kExpressionCapacity);
}

void HtmlBuilder::Assign(const std::string& name, const std::string& value) {
    if (name == "win_id") win_id_ = pagegen::FitText(value, kWinIdCapacity);
    else if (name == "win_height") win_height_ = pagegen::FoldDecimal(value);
    else if (name == "page_turn_ms") {
        // 0 is a choice (no animation); a length below it keeps the usual one.
        const int32_t ms = pagegen::FoldDecimal(value);
        page_turn_ms_ = ms >= 0 ? ms : 650;
    }
    else if (name == "home_link") home_link_ = pagegen::FitText(value, kHomeLinkCapacity);
    else if (name == "home_img") home_img_ = pagegen::FitText(value, kHomeImgCapacity);
    else if (name == "home_content") {
        // The value is not used: the home picture is built from the skin folder and the
        // home_img assigned before.
        home_content_ = pagegen::FitText("<img src='" + sub_skin_dir_ + "/" + home_img_ +
                                             "' border='0' alt='' width='113' height='10'>",
                                         kHomeContentCapacity);
    } else if (name == "toolbar_width") {
        // Room for the buttons that are switched off goes back to the page.
        int32_t width = pagegen::FoldDecimal(value);
        if (width < 1) width = 800;
        if (settings_.skin_usemail == 0) width -= 90;
        if (settings_.skin_usenote == 0) width -= 60;
        toolbar_width_ = width;
    } else if (name == "email_button") email_button_ = pagegen::FitText(value, kButtonCapacity);
    else if (name == "note_button") note_button_ = pagegen::FitText(value, kButtonCapacity);
    else if (IsFreeVariableName(name)) FreeVariable(name) = pagegen::FitText(value, kFreeVariableCapacity);
}

std::string HtmlBuilder::ReferenceValue(const std::string& part) {
    if (StartsWith(part, "sub_skindir")) return sub_skin_dir_;
    if (StartsWith(part, "home_img")) return home_img_;
    if (IsFreeVariableName(part)) return FreeVariable(part);
    return {};
}

// Joins the parts of a quoted value: a part that ends with a double quote before a plus
// sign is literal text, any other part before a plus sign names a variable whose value
// is inserted, and the last part is literal text. A double quote right after a plus
// sign opens the next literal part.
std::string HtmlBuilder::JoinQuotedValue(const char* begin, const char* end) {
    std::string value;
    const char* part = begin;
    while (true) {
        const char* plus = part;
        while (plus < end && *plus != '+') ++plus;
        if (plus == end) {
            value.append(part, end);
            return value;
        }
        if (plus > part && plus[-1] == '"') value.append(part, plus - 1);
        else value += ReferenceValue(std::string(part, plus));
        part = plus + 1;
        if (part < end && *part == '"') ++part;
    }
}
