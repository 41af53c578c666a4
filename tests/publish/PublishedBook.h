// What the publishing tests check of a book on a server.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>

// Every regular file under `root` with its bytes, by its path relative to `root`.
std::map<std::string, std::string> Tree(const std::filesystem::path& root);

// The remote book folder holds every file of the local one byte for byte, and nothing
// else but the files named in `also` (the PDF, a file of the user's) and the manifest,
// which lists every local file and describes each file it lists as it is on the server
// (GoogleTest failures).
void ExpectPublishedBook(const std::filesystem::path& local, const std::filesystem::path& remote,
                         const std::set<std::string>& also = {});
