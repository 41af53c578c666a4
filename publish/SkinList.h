// Reading file names out of a skin's skin.js.
#pragma once

#include <string>
#include <vector>

// The text between the last two "'" characters; empty when there are fewer than two.
std::string LastQuotedName(const std::string& script);

// Every quoted list item in order: the text between a "'" and the next "',", with
// spaces right after the opening quote skipped. A quoted text not followed by a comma
// is not an item.
std::vector<std::string> QuotedListItems(const std::string& script);
