// The search step: one engine run in its text mode writes the book's search files
// ("text.html", "txt.js", ...) into the book folder. The engine's standard output is read
// to its end and thrown away; the outcome is only logged, the job goes on either way.
#pragma once

#include <cstdint>
#include <string>

// `title` and `description` are the book's, in UTF-8; they are passed to the engine unchanged.
void CreateSearchDB(const std::string& pdf, const std::string& book_dir, int32_t resolution,
                    const std::string& engine_path, const std::string& title, int32_t page_count,
                    const std::string& description = {});
