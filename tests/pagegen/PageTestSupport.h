// Shared helpers of the page generator tests: run a template text through a builder and
// read back the page it wrote.
#pragma once

#include "pagegen/HtmlBuilder.h"
#include "tests/helpers/TempHome.h"

#include <string>

inline BookPageSettings SampleBook() {
    BookPageSettings s;
    s.page_width = 612;
    s.page_height = 792;
    s.low_res_width = 386;
    s.low_res_height = 500;
    s.med_res_width = 502;
    s.med_res_height = 650;
    s.high_res_width = 579;
    s.high_res_height = 750;
    s.page_count = 12;
    s.job_key = "0123456789ABCDEF0123456789ABCDEF";
    s.title = "Annual Report";
    return s;
}

// Runs the tags of `text` with `builder` and returns the page, or "<failed>".
inline std::string RunTags(HtmlBuilder& builder, const std::string& text, const TempHome& home) {
    const auto out = home.Root() / "page.html";
    if (!builder.create_html(text.data(), text.size(), out.string())) return "<failed>";
    return ReadFileBytes(out);
}
