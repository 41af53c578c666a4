// The book page generator: runs a page template (include directives, assignment and
// expression tags) into a book's index.html, with the values of one book.
//
// Typical use by the conversion worker:
//     BookPageSettings settings;   // filled from the job and the configuration
//     HtmlBuilder builder(settings);
//     bool written = builder.MakePage(template_path, book_folder + "/index.html");
// One builder makes one page; assignments in the template change its state as the
// template runs. Failures are logged under module "CreateHtml" and give false.
#pragma once

#include "pagegen/BookPageSettings.h"

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <map>
#include <string>

class HtmlBuilder {
public:
    // Capacities of the builder's texts in bytes, terminator included (a longer value is
    // cut to capacity - 1 bytes).
    static constexpr size_t kWinIdCapacity = 16;
    static constexpr size_t kSubSkinDirCapacity = 32;
    static constexpr size_t kHomeLinkCapacity = 260;
    static constexpr size_t kHomeContentCapacity = 260;
    static constexpr size_t kHomeImgCapacity = 64;
    static constexpr size_t kButtonCapacity = 256;
    static constexpr size_t kFreeVariableCapacity = 256;
    // Room for the text one expression writes, terminator included.
    static constexpr size_t kExpressionCapacity = 256;

    HtmlBuilder() : HtmlBuilder(BookPageSettings{}) {}
    // Takes the book's values and toolbar settings (page size, image sizes, page count,
    // job key, title); every template-set value starts empty or 0.
    explicit HtmlBuilder(const BookPageSettings& settings);

    // Sets the page size and the zoom container (width + 16, height + 40).
    void SetPageSize(int32_t width, int32_t height);

    // Reads the template, drops what stands before its document-type declaration,
    // expands its include directives and writes the expanded page to output_path.
    // True when the page was written.
    bool MakePage(const std::string& template_path, const std::string& output_path);
    // The same after taking `settings` as with construction.
    bool MakePage(const BookPageSettings& settings, const std::string& template_path,
                  const std::string& output_path);

    // Runs the tags of `text` (length bytes) and writes the page to output_path.
    // False when the file cannot be opened or a write fails.
    bool create_html(const char* text, size_t length, const std::string& output_path);

    // The text an expression tag writes for `name`; `op` is '+', '-' or 0 and applies
    // `operand` to integer variables. At most kExpressionCapacity - 1 bytes.
    std::string Evaluate(const std::string& name, char op, int32_t operand);
    // Runs one assignment tag: `name` as read from the tag, `value` already joined.
    void Assign(const std::string& name, const std::string& value);

    // The settings as they stand now (writing sub_css puts a trailing '/' on skin_subdir).
    const BookPageSettings& Settings() const { return settings_; }
    int32_t toolbar_width() const { return toolbar_width_; }
    int32_t win_height() const { return win_height_; }
    int32_t page_turn_ms() const { return page_turn_ms_; }
    const std::string& win_id() const { return win_id_; }
    const std::string& home_link() const { return home_link_; }
    const std::string& home_img() const { return home_img_; }
    const std::string& home_content() const { return home_content_; }
    const std::string& sub_skin_dir() const { return sub_skin_dir_; }

private:
    // Runs one statement of a tag: [begin, end) of the text, after the blanks.
    bool RunStatement(const char* begin, const char* end, std::FILE* out);
    std::string JoinQuotedValue(const char* begin, const char* end);
    std::string ReferenceValue(const std::string& part);
    std::string& FreeVariable(const std::string& name);

    BookPageSettings settings_;
    int32_t zoom_container_height_ = 0;
    int32_t zoom_container_width_ = 0;
    int32_t information_id_ = 0;  // always 0
    int32_t use_ftp_ = 1;         // always 1
    std::string win_id_;
    std::string skin_dir_ = "..";
    std::string service_dir_;
    std::string img_parent_dir_ = "./";
    std::string sub_skin_dir_;
    std::string home_link_;
    std::string home_content_;
    std::string home_img_;
    int32_t toolbar_width_ = 0;
    std::string email_button_;
    std::string note_button_;
    int32_t win_height_ = 0;
    int32_t page_turn_ms_ = 650;  // how long the viewer turns a page; 0: no animation
    bool in_tag_ = false;
    bool was_in_tag_ = false;
    std::map<std::string, std::string> free_variables_;
};

// Expands the include directives ("<!--#include file=" name quote ... ">") of `text`
// from `start` on. Each directive whose file (taken from the template's folder) exists
// and is not empty is replaced by that file's content; toolbar language fragments
// (en.asp, cn.asp, fr.asp) are swapped for `lang_filename` (empty: en.asp). On success
// `text` becomes the expanded text from `start` to its end; on failure (an include file
// that cannot be read) it is left unchanged and false is returned.
bool preprocess_include_file(std::string& text, size_t start, const std::string& template_path,
                             const std::string& lang_filename);
