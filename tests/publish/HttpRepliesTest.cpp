// Field layouts of the bodies sent to the web service and the readers of its replies.
#include "publish/HttpReplies.h"
#include "publish/ServiceAddress.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

const std::string kKey = "0123456789ABCDEF0123456789ABCDEF";

TEST(HttpBodies, UploadHeaderCountsItsTailAndCarriesChunkFieldsOnlyForChunks) {
    EXPECT_EQ(http_body::UploadHeader(kKey, "img-1.jpg", "HighRes", -1, 48),
              "upld" + kKey + "18\0\0\0\0\0\0"s + "img-1.jpg\0HighRes\0"s);
    EXPECT_EQ(http_body::UploadHeader(kKey, "img-1.jpg", "HighRes", 2, 48),
              "upld" + kKey + "23\0\0\0\0\0\0"s + "img-1.jpg\0HighRes\0"s + "2\0"s + "48\0"s);
    EXPECT_EQ(http_body::UploadHeader(kKey, "txt.js", "", -1, 48), "upld" + kKey + "8\0\0\0\0\0\0\0"s + "txt.js\0\0"s)
        << "the book folder itself has an empty sub-folder field";
}

TEST(HttpBodies, ChunkPlanSendsAFileOfExactlyOneChunkWhole) {
    const auto whole = http_body::PlanChunks(49152, 49152);
    EXPECT_FALSE(whole.chunked);
    EXPECT_EQ(whole.count, 1);
    EXPECT_EQ(whole.Bytes(0), 49152);
    const auto two = http_body::PlanChunks(49153, 49152);
    EXPECT_TRUE(two.chunked);
    EXPECT_EQ(two.count, 2);
    EXPECT_EQ(two.Bytes(1), 1);
    const auto three = http_body::PlanChunks(100000, 49152);
    EXPECT_EQ(three.count, 3);
    EXPECT_EQ(three.Offset(2), 98304);
    EXPECT_EQ(three.Bytes(2), 1696);
}

TEST(HttpBodies, LoginFieldsKeepATerminatorAndLongerTextsAreRefused) {
    const std::string user(31, 'u');
    std::string body;
    ASSERT_TRUE(http_body::LoginBody(user, "pw", body));
    EXPECT_EQ(body, user + '\0' + "pw" + std::string(30, '\0'));
    EXPECT_FALSE(http_body::LoginBody(std::string(32, 'u'), "pw", body));
    EXPECT_FALSE(http_body::LoginBody("u", std::string(32, 'p'), body));
    EXPECT_TRUE(body.empty()) << "nothing of a refused password is kept";
}

TEST(HttpBodies, VersionBodyHoldsTheBuildStampInAFixedBlock) {
    EXPECT_EQ(http_body::VersionBody(), "201302010343" + std::string(116, '\0'));
}

TEST(HttpBodies, MetadataTextListsNumbersThenTextsWithByteLengths) {
    http_body::BookMetadata meta;
    meta.job_key = kKey;
    meta.page_count = 12;
    meta.page_width = 600;
    meta.page_height = 800;
    meta.user_row_id = 42;
    meta.job_values = {1, 3, 301, 840, 840001, 840001000};
    meta.title = "\xC3\x9C" "ber";  // 5 bytes, 4 characters
    meta.description = "Desc";
    meta.tags = "t1,t2";
    meta.pdf_name = "b k.pdf";
    meta.pdf_size = 123456;
    meta.cover_width = 128;
    meta.cover_height = -5;
    EXPECT_EQ(http_body::MetadataText(meta),
              kKey + "12,600,800,42,0,1,3,301,840,840001,840001000,5,4,5,7,123456,128,-5:" + "\xC3\x9C" +
                  "berDesct1,t2b k.pdf");
}

TEST(HttpBodies, ReferenceIdBlockIsSizedFromSubcategoriesButAlwaysHoldsTheWholeText) {
    const std::string text = "201302010343\nsubcat_ids:2\n101\n102\ncat_ids:1\n1\n";
    EXPECT_EQ(http_body::ReferenceIdBlock({101, 102}, {1}), text + std::string(144 - text.size(), '\0'));

    std::vector<int64_t> categories;
    for (int64_t id = 1000000000; id < 1000000040; ++id) categories.push_back(id);
    const std::string block = http_body::ReferenceIdBlock({123456789012}, categories);
    EXPECT_GT(block.size(), 7u * 16);
    EXPECT_EQ(block.size() % 16, 0u);
    const std::string kept = block.substr(0, block.find('\0'));
    EXPECT_EQ(kept.substr(kept.size() - 11), "1000000039\n") << "the last id is not cut off";
}

TEST(HttpReplies, LengthPrefixedReply) {
    std::string message;
    EXPECT_EQ(http_reply::ParseLengthPrefixed("12" + std::string(14, '\0') + "hello world!extra", message),
              http_reply::Prefixed::Ok);
    EXPECT_EQ(message, "hello world!");
    EXPECT_EQ(http_reply::ParseLengthPrefixed(" 12" + std::string(13, '\0') + "hello world!", message),
              http_reply::Prefixed::NotANumber);
    EXPECT_EQ(http_reply::ParseLengthPrefixed("0" + std::string(15, '\0'), message), http_reply::Prefixed::Empty);
    EXPECT_EQ(http_reply::ParseLengthPrefixed("20" + std::string(14, '\0') + "hello world!", message),
              http_reply::Prefixed::Short);
    EXPECT_TRUE(message.empty());
}

TEST(HttpReplies, StatusReplyAndItsNumber) {
    auto five = http_reply::JudgeStatus("OK\0"s "5\0"s);
    EXPECT_TRUE(five.ok);
    EXPECT_TRUE(five.has_number);
    EXPECT_EQ(five.number, 5);
    auto four_bytes = http_reply::JudgeStatus("OK\0"s "5"s);
    EXPECT_TRUE(four_bytes.ok);
    EXPECT_FALSE(four_bytes.has_number) << "a number needs more than 4 bytes";
    EXPECT_FALSE(http_reply::JudgeStatus("OK").has_number);
    EXPECT_TRUE(http_reply::JudgeStatus("can not create file").ok);
    EXPECT_FALSE(http_reply::JudgeStatus("OKAY").ok);
    auto refused = http_reply::JudgeStatus("no space\r\nINF:forged record");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(http_reply::Printable(refused.text, 63), "no space??INF:forged record");
    EXPECT_FALSE(http_reply::JudgeStatus("").ok);
}

TEST(HttpReplies, UserRowIdAndVersion) {
    EXPECT_EQ(http_reply::UserRowId("42"), 42);
    EXPECT_EQ(http_reply::UserRowId("42\0"s "99"), 42);
    EXPECT_EQ(http_reply::UserRowId("<html>"), 0);
    EXPECT_EQ(http_reply::NewerBuild(""), http_reply::Version::NoNewer);
    EXPECT_EQ(http_reply::NewerBuild("201302010343"), http_reply::Version::NoNewer);
    EXPECT_EQ(http_reply::NewerBuild("201302010344"), http_reply::Version::Newer);
    EXPECT_EQ(http_reply::NewerBuild("<html>201402"), http_reply::Version::NotANumber);
}

TEST(ServiceAddressTest, HostMayCarrySchemeAndPort) {
    ServiceAddress a;
    // Without a scheme a host is reached over https; only loopback, or http written out,
    // goes in clear.
    ASSERT_TRUE(ParseServiceAddress("books.example.net", 80, a));
    EXPECT_EQ(ServiceUrl(a, "/v/s.ashx"), "https://books.example.net:443/v/s.ashx");
    ASSERT_TRUE(ParseServiceAddress("books.example.net:8080", 80, a));
    EXPECT_EQ(ServiceUrl(a, "/s"), "https://books.example.net:8080/s");
    ASSERT_TRUE(ParseServiceAddress("http://books.example.net", 80, a));
    EXPECT_EQ(ServiceUrl(a, "/s"), "http://books.example.net:80/s");
    ASSERT_TRUE(ParseServiceAddress("localhost:81", 80, a));
    EXPECT_EQ(ServiceUrl(a, "/s"), "http://localhost:81/s");
    ASSERT_TRUE(ParseServiceAddress("127.0.0.1:8080", 80, a));
    EXPECT_EQ(ServiceUrl(a, "s.ashx"), "http://127.0.0.1:8080/s.ashx");
    ASSERT_TRUE(ParseServiceAddress("HTTPS://books.example.net", 80, a));
    EXPECT_EQ(ServiceUrl(a, "/s"), "https://books.example.net:443/s");
    ASSERT_TRUE(ParseServiceAddress("https://books.example.net:8443/ignored", 80, a));
    EXPECT_EQ(ServiceUrl(a, "/s"), "https://books.example.net:8443/s");
    ASSERT_TRUE(ParseServiceAddress("http://[::1]:81", 80, a));
    EXPECT_EQ(ServiceUrl(a, "/s"), "http://[::1]:81/s");
    for (const char* bad : {"", "ftp://host", "user:pw@host", "host:0", "host:70000", "host:8o", "ho st", "[::1", "not a host!"})
        EXPECT_FALSE(ParseServiceAddress(bad, 80, a)) << bad;
}

}  // namespace
