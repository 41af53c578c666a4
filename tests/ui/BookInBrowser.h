// Opens a book's address in headless Chromium and returns the page as the browser
// built it (after its scripts ran), so a test sees what a reader would see.
#pragma once

#include <filesystem>
#include <string>

// The rendered page of `url`, empty when Chromium could not load it within a minute.
// `profile` is a folder for the browser's own files.
std::string RenderedPage(const std::string& url, const std::filesystem::path& profile);
