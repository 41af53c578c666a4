// The embed code of published books, as the desktop program shows it under a finished book.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class AppConfig;

// Prints to `out` the embed code of each book of `keys` for every address it is published
// at, each preceded by a line naming the target ("service:" or "ftp:"). A book that is
// not published (or whose upload has not finished) is named on `err`. 0 when every book
// had a code, else 1.
int PrintEmbedCodes(const AppConfig& cfg, const std::vector<std::string>& keys, std::FILE* out, std::FILE* err);
