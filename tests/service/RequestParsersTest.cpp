// The binary bodies of the desktop program as the service reads them, and the names it
// lets through to the storage folder.
#include "ServiceFixture.h"
#include "service/ClientRequests.h"
#include "pagegen/ImageSize.h"
#include "service/NameRules.h"
#include "service/RequestParsers.h"
#include "service/ServiceOptions.h"

#include <gtest/gtest.h>

using namespace service;
using pagegen::ParseJpegSize;
namespace bodies = service_bodies;

namespace {

const std::string kKey = "0123456789ABCDEF0123456789ABCDEF";

bool ParseUpload(const std::string& body, UploadHeader& header) {
    std::string why;
    return ParseUploadHeader(body, header, why);
}

}  // namespace

TEST(LoginBody, FieldsUpToTheirTerminator) {
    LoginRequest login;
    ASSERT_TRUE(ParseLogin(bodies::Login("me@example.org", "pa ss").substr(4), login));
    EXPECT_EQ(login.user, "me@example.org");
    EXPECT_EQ(login.password, "pa ss");

    // 31 characters fill a field exactly; 32 leave no room for the terminator.
    const std::string longest(31, 'u');
    ASSERT_TRUE(ParseLogin(bodies::Login(longest, "p").substr(4), login));
    EXPECT_EQ(login.user, longest);
    std::string unterminated = std::string(32, 'u') + bodies::Login("x", "p").substr(36);
    EXPECT_FALSE(ParseLogin(unterminated, login));
    EXPECT_FALSE(ParseLogin(bodies::Login("a", "b").substr(4, 63), login));  // a byte short
}

TEST(ReferenceIdsBody, IdListsAndTrailingZeros) {
    ReferenceIds ids;
    ASSERT_TRUE(ParseReferenceIds(bodies::ReferenceIds({101, 102}, {1}).substr(4), ids));
    EXPECT_EQ(ids.build, 201302010343u);
    EXPECT_EQ(ids.subcategory_ids, (std::vector<int64_t>{101, 102}));
    EXPECT_EQ(ids.category_ids, (std::vector<int64_t>{1}));

    const std::string good = "201302010343\nsubcat_ids:1\n101\ncat_ids:1\n1\n";
    EXPECT_FALSE(ParseReferenceIds(good, ids)) << "no terminator";
    EXPECT_FALSE(ParseReferenceIds("201302010343\nsubcat_ids:2\n101\ncat_ids:1\n1\n" + std::string(4, '\0'), ids))
        << "fewer ids than counted";
    EXPECT_FALSE(ParseReferenceIds(good + '\0' + "x", ids)) << "text after the terminator";
    EXPECT_FALSE(ParseReferenceIds("2013\nsubcat_ids:1\nabc\ncat_ids:0\n" + std::string(1, '\0'), ids));
}

TEST(MetadataBody, NumbersTextsAndFileName) {
    BookMetadata m;
    std::string why;
    const std::string body = bodies::Metadata(kKey, 77, "Title", "Desc ription", "a,b", "book.pdf");
    ASSERT_TRUE(ParseMetadata(body.substr(4), m, why)) << why;
    EXPECT_EQ(m.key, kKey);
    EXPECT_EQ(m.page_count, 3);
    EXPECT_EQ(m.page_width, 595);
    EXPECT_EQ(m.user_row_id, 77);
    EXPECT_EQ(m.category_id, 3);
    EXPECT_EQ(m.city_id, 276000000);
    EXPECT_EQ(m.pdf_size, 123456);
    EXPECT_EQ(m.cover_height, -1);
    EXPECT_EQ(m.title, "Title");
    EXPECT_EQ(m.description, "Desc ription");
    EXPECT_EQ(m.tags, "a,b");
    EXPECT_EQ(m.pdf_name, "book.pdf");

    // Texts may hold the separators; only the lengths delimit them.
    ASSERT_TRUE(ParseMetadata(bodies::Metadata(kKey, 1, "a:b,c", "", "", "x.pdf").substr(4), m, why));
    EXPECT_EQ(m.title, "a:b,c");
    EXPECT_EQ(m.pdf_name, "x.pdf");
}

TEST(MetadataBody, MalformedBodiesAreRefused) {
    BookMetadata m;
    std::string why;
    const std::string body = bodies::Metadata(kKey, 1, "Title", "D", "T", "f.pdf").substr(4);
    EXPECT_FALSE(ParseMetadata(body.substr(0, 20), m, why));
    std::string letters = body;
    letters[kKey.size()] = 'x';  // the page count
    EXPECT_FALSE(ParseMetadata(letters, m, why));
    // A title length running past the end of the body.
    EXPECT_FALSE(ParseMetadata(body.substr(0, body.find(':') + 3), m, why));
    std::string no_colon = body;
    no_colon[no_colon.find(':')] = ',';
    EXPECT_FALSE(ParseMetadata(no_colon, m, why));
}

TEST(UploadHeader, WholeFileAndChunkFields) {
    UploadHeader h;
    ASSERT_TRUE(ParseUpload(bodies::Upload(kKey, "img-1.jpg", "HighRes", "DATA"), h));
    EXPECT_EQ(h.key, kKey);
    EXPECT_EQ(h.file_name, "img-1.jpg");
    EXPECT_EQ(h.sub_folder, "HighRes");
    EXPECT_FALSE(h.chunked);
    const std::string body = bodies::Upload(kKey, "img-1.jpg", "HighRes", "DATA");
    EXPECT_EQ(body.substr(h.data_offset), "DATA");

    ASSERT_TRUE(ParseUpload(bodies::Upload(kKey, "txt.js", "", "x", 2, 48), h));
    EXPECT_TRUE(h.chunked);
    EXPECT_EQ(h.sub_folder, "");
    EXPECT_EQ(h.chunk_index, 2u);
    EXPECT_EQ(h.chunk_kib, 48u);
}

TEST(UploadHeader, ChunkSizesOfAHundredThousandByteFile) {
    // 100000 bytes in 48 KiB chunks: 49152 + 49152 + 1696, each header saying "48".
    const std::string file(100000, 'z');
    const size_t expected[] = {49152, 49152, 1696};
    UploadHeader h;
    for (int k = 0; k < 3; ++k) {
        const std::string body = bodies::Upload(kKey, "a.pdf", "", file.substr(k * 49152, 49152), k, 48);
        ASSERT_TRUE(ParseUpload(body, h)) << k;
        EXPECT_EQ(body.size() - h.data_offset, expected[k]);
        EXPECT_EQ(h.chunk_kib, 48u);
    }
    // A whole file of exactly the largest chunk is taken; one byte more is not.
    EXPECT_TRUE(ParseUpload(bodies::Upload(kKey, "a.pdf", "", std::string(kMaxChunkKiB * 1024, 'z')), h));
    EXPECT_FALSE(ParseUpload(bodies::Upload(kKey, "a.pdf", "", std::string(kMaxChunkKiB * 1024 + 1, 'z')), h));
    EXPECT_TRUE(ParseUpload(bodies::Upload(kKey, "a.pdf", "", std::string(1024, 'z'), 0, 1), h));
    EXPECT_FALSE(ParseUpload(bodies::Upload(kKey, "a.pdf", "", std::string(1025, 'z'), 0, 1), h));
}

TEST(UploadHeader, MalformedHeadersAreRefused) {
    UploadHeader h;
    const std::string good = bodies::Upload(kKey, "img-1.jpg", "thumb", "DATA");
    std::string letters = good;
    letters.replace(36, 2, "1x");  // the length field is not a number
    EXPECT_FALSE(ParseUpload(letters, h));
    std::string spaced = good;
    spaced[36] = ' ';
    EXPECT_FALSE(ParseUpload(spaced, h));
    std::string unterminated = good;
    unterminated.replace(36, 8, "12345678");
    EXPECT_FALSE(ParseUpload(unterminated, h));
    std::string too_long = good;
    too_long.replace(36, 8, std::string("9999999\0", 8));
    EXPECT_FALSE(ParseUpload(too_long, h)) << "header longer than the body";
    EXPECT_FALSE(ParseUpload(good.substr(0, 40), h));
    EXPECT_FALSE(ParseUpload("updt" + good.substr(4), h));

    // Three texts, or a header whose last text has no terminator.
    std::string three = "upld" + kKey + std::string("7\0\0\0\0\0\0\0a\0b\0c\0", 14);
    EXPECT_FALSE(ParseUpload(three, h));
    std::string open_end = "upld" + kKey + std::string("5\0\0\0\0\0\0\0a\0bcd", 12);
    EXPECT_FALSE(ParseUpload(open_end, h));
    // Chunk fields that are not numbers, a chunk size above the largest or of 0, an empty chunk.
    EXPECT_FALSE(ParseUpload(bodies::Upload(kKey, "a", "", "x", 0, kMaxChunkKiB + 1), h));
    EXPECT_FALSE(ParseUpload(bodies::Upload(kKey, "a", "", "x", 0, 0), h));
    EXPECT_FALSE(ParseUpload(bodies::Upload(kKey, "a", "", "", 1, 48), h));
    std::string minus = bodies::Upload(kKey, "a", "", "x", 1, 48);
    minus.replace(minus.find(std::string("1\0", 2)), 1, "-");
    EXPECT_FALSE(ParseUpload(minus, h));
}

TEST(NameRules, OnlySinglePlainComponents) {
    for (const char* name : {"img-1.jpg", "img-1-e-cover.jpg", "My Book (2).pdf", "txt.js", "€uro.pdf"})
        EXPECT_TRUE(IsSafeFileName(name)) << name;
    for (const std::string& name : std::vector<std::string>{"", ".", "..", "../x", "/abs", "a/b", "a\\b", ".hidden",
                                                             std::string("a\0b", 3), "a\nb", std::string(256, 'a')})
        EXPECT_FALSE(IsSafeFileName(name)) << name;
    for (const char* folder : {"", "100", "HighRes", "MedRes", "LowRes", "print", "thumb", "tiles"})
        EXPECT_TRUE(IsBookSubFolder(folder)) << folder;
    for (const char* folder : {"..", "/", "highres", "thumb/..", "HighRes/", "tmp", "tiles/.."})
        EXPECT_FALSE(IsBookSubFolder(folder)) << folder;
}

TEST(ReplyForms, LengthPrefixAndRequestCode) {
    const std::string reply = LengthPrefixed("DELETE FROM category WHERE 0;");
    ASSERT_EQ(reply.size(), 16u + 29u);
    EXPECT_EQ(reply.substr(0, 16), std::string("29") + std::string(14, '\0'));
    EXPECT_EQ(reply.substr(16), "DELETE FROM category WHERE 0;");
    EXPECT_EQ(RequestCode("upl"), "");
    EXPECT_EQ(RequestCode("xyzw123"), "xyzw");
}

TEST(SupplyTitle, BlankTitleBecomesTheFileName) {
    BookMetadata m;
    m.title = "Kept";
    m.pdf_name = "report.pdf";
    EXPECT_FALSE(SupplyTitle(m));
    EXPECT_EQ(m.title, "Kept");
    m.title = " \t";
    EXPECT_TRUE(SupplyTitle(m));
    EXPECT_EQ(m.title, "report");
    m.title.clear();
    m.pdf_name = "Annual.PDF";
    EXPECT_TRUE(SupplyTitle(m));
    EXPECT_EQ(m.title, "Annual");
    m.title.clear();
    m.pdf_name = ".pdf";
    EXPECT_TRUE(SupplyTitle(m));
    EXPECT_EQ(m.title, "Untitled");
}

TEST(ServiceOptions, DefaultsAndMistakes) {
    ServiceOptions o;
    std::string why;
    ASSERT_TRUE(ParseServiceOptions({"--data", "/srv/d"}, o, why));
    EXPECT_EQ(o.port, 80);
    EXPECT_EQ(o.latest_build, 201302010343u);
    EXPECT_EQ(o.service_path, "/vellumark/standalone.ashx");
    ASSERT_TRUE(ParseServiceOptions({"--data", "d", "--port", "0", "--latest-build", "201401010000", "--listen",
                                     "::1", "--notice", "n.txt", "--service-path", "/x.ashx"},
                                    o, why));
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.latest_build, 201401010000u);
    EXPECT_EQ(o.listen, "::1");
    ServiceOptions fresh;
    EXPECT_FALSE(ParseServiceOptions({}, fresh, why)) << "--data is required";
    EXPECT_FALSE(ParseServiceOptions({"--data", "d", "--port", "70000"}, o, why));
    EXPECT_FALSE(ParseServiceOptions({"--data", "d", "--port"}, o, why));
    EXPECT_FALSE(ParseServiceOptions({"--data", "d", "--bogus", "1"}, o, why));
    EXPECT_FALSE(ParseServiceOptions({"--data", "d", "--service-path", "x"}, o, why));
    EXPECT_FALSE(ParseServiceOptions({"--data", "d", "--migrate-to", "/srv/other.db"}, o, why)) << "PostgreSQL only";
}

TEST(JpegSize, FrameHeaderAfterOtherSegments) {
    // SOI, an APP0 segment, a DHT segment (C4, not a frame), then SOF0 of 300 x 200.
    std::string jpeg("\xFF\xD8\xFF\xE0\x00\x04\x00\x00\xFF\xC4\x00\x03\x00\xFF\xC0\x00\x0B\x08\x00\xC8\x01\x2C", 22);
    int32_t w = 0, h = 0;
    ASSERT_TRUE(ParseJpegSize(jpeg, w, h));
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 200);
    EXPECT_FALSE(ParseJpegSize(jpeg.substr(0, 18), w, h));
    EXPECT_FALSE(ParseJpegSize("\x89PNG\r\n", w, h));
}
