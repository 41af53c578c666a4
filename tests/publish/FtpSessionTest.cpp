// The FTP connection against a real loopback server: login, folders, byte-exact
// transfers in both modes, and how failures are told apart.
#include "FtpTestServer.h"

#include "publish/FtpSession.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

TEST_F(FtpSessionTest, AFileReplacesItsOldSelfWholeAndGoesStraightIntoAFolderTheSessionMade) {
    ASSERT_TRUE(server_.Running());
    WriteFileBytes(home_.Root() / "f.txt", "new");
    WriteFileBytes(server_.Root() / "old" / "f.txt", "old");
    FtpSession session;
    ASSERT_TRUE(session.Open(Endpoint()));
    ASSERT_TRUE(session.MakeFolder("fresh"));
    ASSERT_TRUE(session.ChangeFolder("fresh"));
    ASSERT_TRUE(session.PutFile((home_.Root() / "f.txt").string(), "f.txt"));
    ASSERT_TRUE(session.ChangeFolder("/old"));
    ASSERT_TRUE(session.PutFile((home_.Root() / "f.txt").string(), "f.txt"));
    EXPECT_EQ(ReadFileBytes(server_.Root() / "fresh" / "f.txt"), "new");
    EXPECT_EQ(ReadFileBytes(server_.Root() / "old" / "f.txt"), "new");
    // Only the file a reader may have been reading went through a temporary name.
    EXPECT_EQ(ReadFileBytes(home_.Root() / "renamed.log"), "old/f.txt\n");
}

TEST_F(FtpSessionTest, OneControlConnectionServesEveryOperation) {
    ASSERT_TRUE(server_.Running());
    WriteFileBytes(home_.Root() / "f.txt", "text");
    FtpSession session;
    ASSERT_TRUE(session.Open(Endpoint()));
    ASSERT_TRUE(session.MakeFolder("d"));
    ASSERT_TRUE(session.ChangeFolder("d"));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(session.PutFile((home_.Root() / "f.txt").string(), "f" + std::to_string(i)));
    ASSERT_TRUE(session.GetFile("f3", (home_.Root() / "g.txt").string()));
    ASSERT_TRUE(session.ChangeFolder(".."));
    EXPECT_EQ(ReadFileBytes(home_.Root() / "connections.log"), "connect\n");
}

TEST(FtpSessionSilentServerTest, AServerThatNeverAnswersTimesOutWithinTheWait) {
    // A listening socket that never accepts: the connection is made but no greeting comes.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    FtpEndpoint endpoint;
    endpoint.host = "127.0.0.1";
    endpoint.port = ntohs(address.sin_port);
    endpoint.user = "alice";
    endpoint.password = "secret";
    endpoint.timeout_ms = 1000;
    FtpSession session;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session.Open(endpoint));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(session.LastFailure(), FtpFailure::TimedOut) << "curl code " << session.LastError();
    close(listener);
}

TEST(FtpSessionDropTest, ADroppedConnectionDuringAPutIsAResetNotAnotherError) {
    TempHome home;
    FtpTestServer server(home.Root(), FtpFault::DropOnce);
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
