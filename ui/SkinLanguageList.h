// The languages of a book's toolbar, from the skin's "lang/lang.xml" under the books
// folder. The file is scanned as text: each entry starts at description=" with the
// language name up to the next quote; its file name follows the next '>' (blanks
// skipped) up to a blank or the next '<'.
#pragma once

#include <string>
#include <vector>

struct SkinLanguage {
    std::string name;
    std::string file_name;
};

std::vector<SkinLanguage> ScanSkinLanguages(const std::string& text);
// Reads and scans the file; a missing file is logged and gives no entries.
std::vector<SkinLanguage> ReadSkinLanguages(const std::string& books_folder);
