// The book manifest: what it records of real files, and which texts it refuses to read.
#include "config/BookManifest.h"
#include "config/FileHashCache.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace {
const std::string kKey = "0123456789ABCDEF0123456789ABCDEF";
const std::string kAbcHash = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
}  // namespace

TEST(BookManifest, RecordsFilesAndReadsBackItsOwnText) {
    TempHome home;
    WriteFileBytes(home.Root() / "book/txt.js", "abc");
    WriteFileBytes(home.Root() / "book/HighRes/img-1.jpg", std::string(100000, '\xff'));
    BookManifest made;
    std::string why;
    const auto book = home.Root() / "book";
    ASSERT_TRUE(BookManifest::OfFiles(
        kKey, {{"txt.js", book / "txt.js"}, {"HighRes/img-1.jpg", book / "HighRes/img-1.jpg"}, {"txt.js", book / "txt.js"}},
        made, why))
        << why;
    ASSERT_EQ(made.entries.size(), 2u) << "sorted, each path once";
    EXPECT_EQ(made.entries[0].path, "HighRes/img-1.jpg");
    EXPECT_EQ(made.entries[0].size, 100000);
    EXPECT_EQ(made.Find("txt.js")->sha256, kAbcHash);

    BookManifest read;
    ASSERT_TRUE(BookManifest::Parse(made.Text(), read, why)) << why;
    EXPECT_EQ(read.book_key, kKey);
    EXPECT_EQ(read.Text(), made.Text());
    EXPECT_TRUE(read.Holds(made.entries[1]));
    ManifestEntry changed = made.entries[1];
    changed.sha256[0] = changed.sha256[0] == '0' ? '1' : '0';
    EXPECT_FALSE(read.Holds(changed));

    EXPECT_FALSE(BookManifest::OfFiles(kKey, {{"missing.jpg", book / "missing.jpg"}}, made, why));
    EXPECT_NE(why.find("missing.jpg"), std::string::npos);
}

TEST(BookManifest, RefusesForeignAndHostileTexts) {
    const std::string heading = "vellumark-book-manifest 1 " + kKey + "\n";
    const std::string line = kAbcHash + " 3 ";
    BookManifest out;
    std::string why;
    for (const std::string& text :
         {std::string(), std::string("<html>not found</html>"), "vellumark-book-manifest 2 " + kKey + "\n",
          heading + line + "../index.html\n", heading + line + "/etc/passwd\n", heading + line + "a//b\n",
          heading + line + "a\\b\n", heading + line + "a\rb\n", heading + kAbcHash + " -3 txt.js\n",
          heading + kAbcHash + " 3x txt.js\n", heading + "ABC 3 txt.js\n", heading + line + "t.js\n" + line + "t.js\n"})
        EXPECT_FALSE(BookManifest::Parse(text, out, why)) << text;
    EXPECT_TRUE(BookManifest::Parse(heading + line + "HighRes/img 1.jpg\n", out, why)) << why;
    EXPECT_EQ(out.entries.at(0).path, "HighRes/img 1.jpg") << "spaces in a name are kept";
}

// The remembered hashes never hide a change: a file rewritten with the same size, and a
// damaged cache file, still give the file's true hash.
TEST(BookManifest, RememberedHashesFollowTheFiles) {
    TempHome home;
    const auto book = home.Root() / "book";
    WriteFileBytes(book / "txt.js", "abc");
    {
        FileHashCache hashes(FileHashCache::OfBook(kKey));
        EXPECT_EQ(hashes.Sha256("txt.js", book / "txt.js"), kAbcHash);
        ASSERT_TRUE(hashes.Save());
    }
    WriteFileBytes(book / "txt.js", "abd");
    std::filesystem::last_write_time(book / "txt.js",
                                     std::filesystem::last_write_time(book / "txt.js") + std::chrono::seconds(2));
    BookManifest made;
    std::string why;
    FileHashCache hashes(FileHashCache::OfBook(kKey));
    ASSERT_TRUE(BookManifest::OfFiles(kKey, {{"txt.js", book / "txt.js"}}, made, why, &hashes)) << why;
    EXPECT_EQ(made.entries[0].sha256, FileSha256(book / "txt.js"));
    EXPECT_NE(made.entries[0].sha256, kAbcHash);

    WriteFileBytes(FileHashCache::OfBook(kKey), "not a hash line\n\xff\xfe 3 x txt.js\n");
    FileHashCache damaged(FileHashCache::OfBook(kKey));
    EXPECT_EQ(damaged.Sha256("txt.js", book / "txt.js"), FileSha256(book / "txt.js"));
}
