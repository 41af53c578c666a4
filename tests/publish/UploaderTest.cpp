// The FTP half of the publishing session against a real loopback server.
#include "FtpTestServer.h"

#include "pipeline/PdfJob.h"
#include "publish/RetryPolicy.h"
#include "publish/SkinList.h"
#include "publish/Uploader.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr const char* kSkinScript = "var skin = [ 'bg.png', ' arrow.png', 'frame.css', 'skin.js', ]; var last = 'zz.png';";

class UploaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_->Running());
        settings_.books_folder = (home_.Root() / "books").string();
        settings_.net_timeout_ms = 5000;
        settings_.ftp_active_address = "127.0.0.1";
        const fs::path skin = home_.Root() / "books" / "skins" / "2";
        WriteFileBytes(skin / "skin.js", kSkinScript);
        WriteFileBytes(skin / "bg.png", "background");
        WriteFileBytes(skin / "arrow.png", "arrow");
        WriteFileBytes(skin / "frame.css", "frame");
        WriteFileBytes(skin / "zz.png", "last");
        WriteFileBytes(home_.Root() / "books" / "index.js", "index");
        WriteFileBytes(home_.Root() / "books" / "RurovOzeza.v1.css", "css");
        WriteFileBytes(home_.Root() / "books" / "print.html", "print");
    }

    void Target(Uploader& up, const std::string& path = "/site", int32_t passive = 1) {
        up.SetFtpTarget("127.0.0.1" + path, "alice", "secret", passive, server_->Port());
    }

    fs::path Served(const std::string& rel) const { return server_->Root() / rel; }

    TempHome home_;
    std::unique_ptr<FtpTestServer> server_ = std::make_unique<FtpTestServer>(home_.Root());
    PublishSettings settings_;
    std::atomic<int32_t> progress_{0};
    std::atomic<int32_t> state_{JOB_STATE_UPLOADING};
};

TEST_F(UploaderTest, TargetSplitsHostAndPathAndLoginFailureIsReported) {
    Uploader up(&progress_, &state_, settings_);
    up.SetFtpTarget("ftp.example.net", "u", "p", 1, 21);
    EXPECT_EQ(up.FtpHost(), "ftp.example.net");
    EXPECT_EQ(up.FtpPath(), "");
    up.SetFtpTarget("127.0.0.1//a/b", "alice", "wrong", 1, server_->Port());
    EXPECT_EQ(up.FtpHost(), "127.0.0.1");
    EXPECT_EQ(up.FtpPath(), "//a/b");
    EXPECT_FALSE(up.ConnectFtp());
    EXPECT_FALSE(up.FtpConnected());

    Uploader off(&progress_, &state_, settings_);
    EXPECT_TRUE(off.ConnectFtp()) << "with FTP off there is nothing to connect";
}

TEST_F(UploaderTest, WorkingFolderFollowsSetupAndBookFolders) {
    fs::create_directories(Served("a/b"));
    Uploader up(&progress_, &state_, settings_);
    Target(up, "//a/b");
    ASSERT_TRUE(up.ConnectFtp());
    EXPECT_EQ(up.WorkingFolder(), "");
    ASSERT_TRUE(up.GotoGuidFtpDir("K1")) << "sets up the upload root first";
    EXPECT_EQ(up.WorkingFolder(), "/a/b/K1");
    EXPECT_TRUE(fs::is_directory(Served("a/b/K1")));
    ASSERT_TRUE(up.GotoGuidFtpDir("K1")) << "an existing folder is entered";
    EXPECT_EQ(up.WorkingFolder(), "/a/b/K1/K1");

    Uploader missing(&progress_, &state_, settings_);
    Target(missing, "/nowhere");
    ASSERT_TRUE(missing.ConnectFtp());
    EXPECT_FALSE(missing.SetupFirstFtpDir());
}

TEST_F(UploaderTest, FilesAreStoredByteExactInPassiveAndActiveMode) {
    const std::string bytes = std::string("\0\r\n\x1a\xff", 5) + std::string(100000, 'x');
    WriteFileBytes(home_.Root() / "out" / "p1.jpg", bytes);
    for (const int32_t passive : {1, 0}) {
        Uploader up(&progress_, &state_, settings_);
        Target(up, passive ? "/pasv" : "/actv", passive);
        fs::create_directories(Served(passive ? "pasv" : "actv"));
        ASSERT_TRUE(up.ConnectFtp());
        ASSERT_TRUE(up.GotoGuidFtpDir("book"));
        ASSERT_TRUE(up.upload_one_file_ftp((home_.Root() / "out" / "p1.jpg").string(), ""));
        EXPECT_EQ(ReadFileBytes(Served(std::string(passive ? "pasv" : "actv") + "/book/p1.jpg")), bytes);
    }
}

TEST_F(UploaderTest, RefusedPutFailsAtOnceAndStopRequestEndsTheRun) {
    Uploader up(&progress_, &state_, settings_);
    Target(up, "");
    ASSERT_TRUE(up.ConnectFtp());
    ASSERT_TRUE(up.SetupFirstFtpDir());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(up.upload_one_file_ftp((home_.Root() / "no-such-file").string(), ""));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900)) << "no retry wait";

    WriteFileBytes(home_.Root() / "f1", "one");
    ASSERT_TRUE(up.upload_one_file_ftp((home_.Root() / "f1").string(), ""));
    state_ = JOB_STATE_STOPPING;
    WriteFileBytes(home_.Root() / "f2", "two");
    EXPECT_FALSE(up.upload_one_file_ftp((home_.Root() / "f2").string(), ""));
    EXPECT_TRUE(fs::exists(Served("f1")));
    EXPECT_FALSE(fs::exists(Served("f2"))) << "no file is begun after a stop request";
}

TEST_F(UploaderTest, DroppedConnectionDuringAPutIsRecoveredIntoTheSameFolder) {
    server_.reset();
    server_ = std::make_unique<FtpTestServer>(home_.Root() / "drop", FtpFault::DropOnce);
    ASSERT_TRUE(server_->Running());
    std::string bytes(3 * 1024 * 1024, 'b');
    for (size_t i = 0; i < bytes.size(); i += 4096) bytes[i] = static_cast<char>(i / 4096);
    WriteFileBytes(home_.Root() / "big.jpg", bytes);
    Uploader up(&progress_, &state_, settings_);
    Target(up, "");
    ASSERT_TRUE(up.ConnectFtp());
    ASSERT_TRUE(up.GotoGuidFtpDir("K"));
    ASSERT_TRUE(up.Ftp().MakeFolder("HighRes"));
    ASSERT_TRUE(up.Ftp().ChangeFolder("HighRes"));
    ASSERT_TRUE(up.upload_one_file_ftp((home_.Root() / "big.jpg").string(), "HighRes"));
    EXPECT_EQ(ReadFileBytes(Served("K/HighRes/big.jpg")), bytes);
    EXPECT_EQ(up.WorkingFolder(), "/K");
}

TEST_F(UploaderTest, ServerGoneForEveryAttemptFailsTheFile) {
    settings_.ftp_upld_try_times = 1;
    Uploader up(&progress_, &state_, settings_);
    Target(up, "");
    ASSERT_TRUE(up.ConnectFtp());
    ASSERT_TRUE(up.SetupFirstFtpDir());
    server_->Stop();
    WriteFileBytes(home_.Root() / "f", std::string(1 << 20, 'f'));
    EXPECT_FALSE(up.upload_one_file_ftp((home_.Root() / "f").string(), "")) << "nothing stored is never success";
}

TEST_F(UploaderTest, PrepareSendsSkinAndTemplatesOnceThenSkipsThem) {
    Uploader first(&progress_, &state_, settings_);
    Target(first);
    fs::create_directories(Served("site"));
    ASSERT_TRUE(first.ConnectFtp());
    ASSERT_EQ(first.PrepareFtpDir("KEY1", 1000, 500), 0);
    EXPECT_EQ(first.WorkingFolder(), "/site/KEY1");
    EXPECT_EQ(progress_.load(), 1500);
    EXPECT_EQ(ReadFileBytes(Served("site/skins/2/bg.png")), "background");
    EXPECT_EQ(ReadFileBytes(Served("site/skins/2/arrow.png")), "arrow") << "leading spaces skipped";
    EXPECT_TRUE(fs::exists(Served("site/skins/2/frame.css")));
    EXPECT_FALSE(fs::exists(Served("site/skins/2/zz.png"))) << "an item without a comma is not sent";
    EXPECT_EQ(ReadFileBytes(Served("site/index.js")), "index");
    EXPECT_EQ(ReadFileBytes(Served("site/print.html")), "print");
    EXPECT_FALSE(fs::exists(Served("site/service.asp")));
    EXPECT_FALSE(fs::exists(Served("site/FAILED_UPDATE_SKIN")));

    // The skin counts as current when the last quoted file exists and skin.js has the
    // local size: nothing shared is sent again.
    WriteFileBytes(Served("site/skins/2/zz.png"), "last");
    fs::remove(Served("site/index.js"));
    WriteFileBytes(Served("site/skins/2/bg.png"), "server copy");
    progress_ = 0;
    Uploader second(&progress_, &state_, settings_);
    Target(second);
    ASSERT_TRUE(second.ConnectFtp());
    ASSERT_EQ(second.PrepareFtpDir("KEY2", 1000, 500), 0);
    EXPECT_EQ(ReadFileBytes(Served("site/skins/2/bg.png")), "server copy");
    EXPECT_FALSE(fs::exists(Served("site/index.js")));
    EXPECT_EQ(progress_.load(), 0);
    EXPECT_TRUE(fs::is_directory(Served("site/KEY2")));

    // A skin.js of another size on the server makes the skin stale again.
    WriteFileBytes(Served("site/skins/2/skin.js"), "old");
    Uploader third(&progress_, &state_, settings_);
    Target(third);
    ASSERT_TRUE(third.ConnectFtp());
    ASSERT_EQ(third.PrepareFtpDir("KEY3", 0, 10), 0);
    EXPECT_EQ(ReadFileBytes(Served("site/skins/2/bg.png")), "background");
    EXPECT_EQ(ReadFileBytes(Served("site/index.js")), "index");
}

TEST_F(UploaderTest, FailureMarkerFromAnEarlierRunIsRemovedAndSkinSentAgain) {
    fs::create_directories(Served("site/FAILED_UPDATE_SKIN"));
    fs::create_directories(Served("site/skins"));
    Uploader up(&progress_, &state_, settings_);
    Target(up);
    ASSERT_TRUE(up.ConnectFtp());
    ASSERT_EQ(up.PrepareFtpDir("K", 0, 10), 0);
    EXPECT_FALSE(fs::exists(Served("site/FAILED_UPDATE_SKIN")));
    EXPECT_EQ(ReadFileBytes(Served("site/skins/2/bg.png")), "background");
}

TEST_F(UploaderTest, FailedPreparationLeavesTheMarkerAndStopShortensTheWait) {
    fs::remove(home_.Root() / "books" / "index.js");
    fs::create_directories(Served("site"));
    Uploader up(&progress_, &state_, settings_);
    Target(up);
    ASSERT_TRUE(up.ConnectFtp());
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        state_ = JOB_STATE_STOPPING;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(up.PrepareFtpDir("K", 0, 10), 1);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(fs::is_directory(Served("site/FAILED_UPDATE_SKIN")));
    EXPECT_FALSE(fs::exists(Served("site/K")));
}

TEST(RetryPolicyTest, DelayTableTryTimesAndEarlyWake) {
    const int32_t expected[] = {1000, 2000, 4000, 8000, 16000, 16000, 16000};
    for (int32_t i = 0; i < 7; ++i) EXPECT_EQ(retry::DelayMs(i), expected[i]);
    EXPECT_EQ(retry::ClampTryTimes(0), 4);
    EXPECT_EQ(retry::ClampTryTimes(-3), 4);
    EXPECT_EQ(retry::ClampTryTimes(9), 7);
    EXPECT_EQ(retry::ClampTryTimes(3), 3);
    std::atomic<int32_t> state{JOB_STATE_UPLOADING};
    std::thread stopper([&state] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        state = JOB_STATE_STOPPING;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(retry::WaitUnlessStopped(16000, &state));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(retry::WaitUnlessStopped(30, nullptr));
}

TEST(SkinListTest, LastQuotedAndListItems) {
    EXPECT_EQ(LastQuotedName(kSkinScript), "zz.png");
    EXPECT_EQ(LastQuotedName("no quotes"), "");
    EXPECT_EQ(QuotedListItems(kSkinScript), (std::vector<std::string>{"bg.png", "arrow.png", "frame.css", "skin.js"}));
    EXPECT_TRUE(QuotedListItems("'only'").empty());
}

}  // namespace
