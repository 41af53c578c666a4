// Everything the book page generator needs to know about one book: the values the
// conversion worker measured or took from the job, and the HTML toolbar settings of
// section "skin" of config.ini. The worker fills it; HtmlBuilder never looks at the
// application configuration itself, so it can be driven (and tested) on its own.
#pragma once

#include <cstdint>
#include <string>

struct BookPageSettings {
    // ---- The book (from the job section and the engine's measurements).
    int32_t page_width = 0;
    int32_t page_height = 0;
    // Sizes of the page images as the engine's size query reports them.
    int32_t low_res_width = 0;
    int32_t low_res_height = 0;
    int32_t med_res_width = 0;
    int32_t med_res_height = 0;
    int32_t high_res_width = 0;
    int32_t high_res_height = 0;
    int32_t page_count = 0;
    std::string job_key;  // 32 upper-case hex digits; names the book folder
    std::string title;    // UTF-8, from the PDF's own metadata: untrusted
    std::string keywords;     // UTF-8, as the user gave them: untrusted
    std::string description;  // UTF-8, as the user gave it: untrusted
    // The absolute address the published page is read at ("https://host/books/KEY/" or
    // ".../KEY/index.html"); empty when no published address is known. The tags that
    // point at the book (its address, its cover, the canonical link) need it.
    std::string book_address;
    // The link-preview picture (kShareImageFile) in pixels; 0 when the book has none,
    // and the cover stands in for it.
    int32_t share_image_width = 0;
    int32_t share_image_height = 0;
    // The file name of the PDF published beside the book for readers to download; empty
    // when the publisher does not offer it (then the page has no download button).
    std::string offered_pdf;
    // The zoom layer's pages carry their text in the sharp zoom's tiles (tiles/tiles.js),
    // and their own text layer images are empty.
    bool zoom_text_in_tiles = false;

    // ---- HTML toolbar settings (section "skin" of config.ini).
    std::string skin_subdir = "skins/2";         // skin_subdir
    std::string skin_cssfile = "site_styles.css";  // skin_cssfile
    int32_t skin_usemail = 0;                     // skin_usemail: e-mail button shown
    int32_t skin_usenote = 0;                     // skin_usenote: note button shown
    int32_t skin_useownlogo = 0;                  // skin_useownlogo: own home link
    std::string skin_logotxt;                     // skin_logotxt (raw bytes)
    std::string skin_logourl;                     // skin_logourl
    // lang_filename (raw, at most 63 bytes are used): the toolbar language fragment
    // that replaces en.asp, cn.asp or fr.asp in include directives; empty: "en.asp".
    std::string lang_filename;
};
