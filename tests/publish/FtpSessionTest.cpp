// The FTP connection against a real loopback server: login, folders, byte-exact
// transfers in both modes, and how failures are told apart.
#include "FtpTestServer.h"

#include "publish/FtpSession.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::string SampleBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + 7) % 256);
    return bytes;
}

class FtpSessionTest : public ::testing::Test {
protected:
    FtpEndpoint Endpoint(bool passive = true) const {
        FtpEndpoint endpoint;
        endpoint.host = "127.0.0.1";
        endpoint.port = server_.Port();
        endpoint.user = "alice";
        endpoint.password = "secret";
        endpoint.passive = passive;
        endpoint.timeout_ms = 5000;
        endpoint.active_address = "127.0.0.1";
        return endpoint;
    }
    TempHome home_;
    FtpTestServer server_{home_.Root()};
};

TEST_F(FtpSessionTest, LoginSucceedsWithRightPasswordAndIsRefusedWithWrongOne) {
    ASSERT_TRUE(server_.Running());
    FtpSession session;
    ASSERT_TRUE(session.Open(Endpoint()));
    EXPECT_EQ(session.LoginFolder(), "/");
    EXPECT_TRUE(session.IsOpen());

    FtpEndpoint wrong = Endpoint();
    wrong.password = "guess";
    FtpSession refused;
    EXPECT_FALSE(refused.Open(wrong));
    EXPECT_FALSE(refused.IsOpen());
    EXPECT_EQ(refused.LastFailure(), FtpFailure::Other);
    EXPECT_EQ(refused.LastError(), CURLE_LOGIN_DENIED);
}

TEST_F(FtpSessionTest, FoldersAreCreatedEnteredAndLeftWithTrackedPath) {
    ASSERT_TRUE(server_.Running());
    FtpSession session;
    ASSERT_TRUE(session.Open(Endpoint()));
    ASSERT_TRUE(session.MakeFolder("books"));
    EXPECT_FALSE(session.MakeFolder("books")) << "an existing folder cannot be created again";
    ASSERT_TRUE(session.ChangeFolder("books"));
    ASSERT_TRUE(session.MakeFolder("a b"));
    ASSERT_TRUE(session.ChangeFolder("a b"));
    EXPECT_EQ(session.CurrentFolder(), "/books/a b");
    EXPECT_TRUE(fs::is_directory(server_.Root() / "books" / "a b"));
    EXPECT_FALSE(session.ChangeFolder("missing"));
    EXPECT_EQ(session.CurrentFolder(), "/books/a b") << "a failed change keeps the folder";
    ASSERT_TRUE(session.ChangeFolder("../.."));
    EXPECT_EQ(session.CurrentFolder(), "/");
    ASSERT_TRUE(session.RemoveFolder("books/a b"));
    EXPECT_FALSE(fs::exists(server_.Root() / "books" / "a b"));
}

TEST_F(FtpSessionTest, FilesGoUpAndComeBackByteExactInPassiveAndActiveMode) {
    ASSERT_TRUE(server_.Running());
    const std::string bytes = SampleBytes(300000) + "\r\n\n\r";
    const fs::path local = home_.Root() / "local" / "page 1.jpg";
    WriteFileBytes(local, bytes);
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        FtpSession session;
        ASSERT_TRUE(session.Open(Endpoint(passive)));
        const std::string folder = passive ? "p" : "a";
        ASSERT_TRUE(session.MakeFolder(folder));
        ASSERT_TRUE(session.ChangeFolder(folder));
        ASSERT_TRUE(session.PutFile(local.string(), "page 1.jpg"));
        EXPECT_EQ(ReadFileBytes(server_.Root() / folder / "page 1.jpg"), bytes);
        const fs::path back = home_.Root() / ("back-" + folder);
        ASSERT_TRUE(session.GetFile("page 1.jpg", back.string()));
        EXPECT_EQ(ReadFileBytes(back), bytes);
        EXPECT_FALSE(session.GetFile("absent.jpg", back.string()));
        EXPECT_EQ(session.LastFailure(), FtpFailure::Other);
        EXPECT_FALSE(session.LastReply().empty()) << "the server's refusal is kept as the reason";
    }
}

TEST(FtpSessionDropTest, ADroppedConnectionDuringAPutIsAResetNotAnotherError) {
    TempHome home;
    FtpTestServer server(home.Root(), /*drop_once=*/true);
    ASSERT_TRUE(server.Running());
    const fs::path local = home.Root() / "big.bin";
    WriteFileBytes(local, SampleBytes(4 * 1024 * 1024));
    FtpSession session;
    FtpEndpoint endpoint;
    endpoint.host = "127.0.0.1";
    endpoint.port = server.Port();
    endpoint.user = "alice";
    endpoint.password = "secret";
    endpoint.timeout_ms = 5000;
    ASSERT_TRUE(session.Open(endpoint));
    EXPECT_FALSE(session.PutFile(local.string(), "big.bin"));
    EXPECT_EQ(session.LastFailure(), FtpFailure::Reset) << "curl code " << session.LastError();
}

TEST(FtpSessionPathTest, ResolveJoinsAndClimbs) {
    EXPECT_EQ(FtpSession::Resolve("/a/b", "c"), "/a/b/c");
    EXPECT_EQ(FtpSession::Resolve("/a/b", "../.."), "/");
    EXPECT_EQ(FtpSession::Resolve("/a/b", "/x//y/"), "/x/y");
    EXPECT_EQ(FtpSession::Resolve("/", ".."), "/");
}

}  // namespace
