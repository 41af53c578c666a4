#include "PublishedBook.h"

#include "config/BookManifest.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> files;
    if (!fs::exists(root)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), root).string()] = ReadFileBytes(entry.path());
    return files;
}

void ExpectPublishedBook(const fs::path& local, const fs::path& remote, const std::set<std::string>& also) {
    const auto mine = Tree(local);
    auto theirs = Tree(remote);
    ASSERT_FALSE(mine.empty());
    const auto manifest_file = theirs.find(BookManifest::kFileName);
    ASSERT_NE(manifest_file, theirs.end()) << "no manifest in " << remote;
    BookManifest manifest;
    std::string why;
    ASSERT_TRUE(BookManifest::Parse(manifest_file->second, manifest, why)) << why;
    EXPECT_EQ(manifest.book_key, remote.filename().string());
    theirs.erase(manifest_file);
    EXPECT_EQ(theirs.size(), mine.size() + also.size());
    for (const std::string& name : also) EXPECT_TRUE(theirs.count(name)) << name << " was not published";
    for (const auto& [name, bytes] : mine) {
        const auto found = theirs.find(name);
        ASSERT_NE(found, theirs.end()) << name << " was not published";
        EXPECT_TRUE(found->second == bytes) << name << " differs on the server";
    }
    for (const auto& [name, bytes] : mine) EXPECT_TRUE(manifest.Find(name)) << name << " is not in the manifest";
    for (const ManifestEntry& entry : manifest.entries) {
        const auto found = theirs.find(entry.path);
        ASSERT_NE(found, theirs.end()) << entry.path << " is in the manifest but not on the server";
        EXPECT_EQ(entry.size, static_cast<int64_t>(found->second.size())) << entry.path;
        EXPECT_EQ(entry.sha256, FileSha256(remote / entry.path)) << entry.path;
    }
}
