// End to end: vellumark-batch --publish against a scripted loopback service that
// misbehaves. A publication that did not happen makes the batch fail and name the
// target; a service that answers two bytes a second is given up within the configured
// network time-out instead of holding the batch as long as it likes.
#include "tests/pipeline/BatchE2EFixture.h"
#include "tests/publish/PublishedBook.h"
#include "tests/publish/HttpTestPeer.h"

#include "config/IniFile.h"

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

class PublishPeerE2E : public BatchE2E {
protected:
    void SetUp() override {
        BatchE2E::SetUp();
        if (IsSkipped()) return;
        setenv("NO_PROXY", "*", 1);
    }

    // Starts the peer with `script` and makes it the web-service target of the
    // configuration, with a time-out of one second and one try per file.
    void UsePeer(const std::string& script) {
        peer_ = std::make_unique<HttpTestPeer>(home_.Root() / "peer", script);
        ASSERT_TRUE(peer_->Running());
        RunResult saved = Run({"--set-service-account", "reader@example.org", "--service-host", peer_->Host()},
                              "account", "open-sesame\n");
        ASSERT_EQ(saved.code, 0) << saved.err;
        IniFile config((data_ / "config.ini").string());
        config.WriteInt("network", "net_timeout_ms", 1000);
        config.WriteInt("network", "http_upld_try_times", 1);
        config.WriteInt("network", "http_wait_after_upld_chunk", 1);
    }

    // Runs the batch, ending it after `limit` at the latest; `took` is how long it ran.
    RunResult RunBounded(const std::vector<std::string>& args, std::chrono::seconds limit,
                         std::chrono::milliseconds& took) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = Start(args, "bounded");
        while (std::chrono::steady_clock::now() - start < limit) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
                RunResult result = Finish(-1, "bounded");
                result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return result;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(pid, SIGKILL);
        took = limit;
        return Finish(pid, "bounded");
    }

    std::unique_ptr<HttpTestPeer> peer_;
};

TEST_F(PublishPeerE2E, ARefusedLoginFailsTheBatchAndNamesTheTarget) {
    UsePeer(R"({"replies": {"logi": "0"}})");
    RunResult run = Run({"--publish", MakePdf("refused.pdf", 1).string()});
    EXPECT_EQ(run.code, 1) << run.err;
    const std::string key = OnlyKey();
    EXPECT_EQ(StoredProgress(key), 100000) << "the book itself was made";
    EXPECT_NE(run.err.find("job " + key + ": the book was made"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("not published to the publishing service " + peer_->Host()), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("open-sesame"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << "no book is reported as done";
}

TEST_F(PublishPeerE2E, AnUpdateThatDoesNotReachTheServiceKeepsTheLocalBookAndStaysResumable) {
    UsePeer(R"({"replies": {"logi": "0"}})");
    RunResult made = Run({"--publish", MakePdf("refused.pdf", 2).string()});
    const std::string key = OnlyKey();
    ASSERT_EQ(StoredProgress(key), 100000) << made.err;
    const auto old_edition = Tree(books_ / key);

    RunResult update = Run({"--update", key, MakePdf("refused-2.pdf", 2, "Generated Book", 1).string()}, "update");
    EXPECT_EQ(update.code, 1) << update.err;
    EXPECT_NE(update.err.find("the local book stays the old edition until the update is resumed"), std::string::npos)
        << update.err;
    EXPECT_NE(update.err.find("resume it with --resume " + key), std::string::npos) << update.err;
    EXPECT_TRUE(Tree(books_ / key) == old_edition) << "the local book was replaced by an edition not published";
    EXPECT_FALSE(Tree(books_ / (".update-" + key)).empty()) << "the new edition is kept for the resume";
    EXPECT_LT(StoredProgress(key), 100000);
}

TEST_F(PublishPeerE2E, AServiceThatTricklesItsRepliesIsGivenUpWithinTheTimeOut) {
    UsePeer(R"({"trickle": ["probe", "logi", "meta", "upld", "upgr", "updt"]})");
    std::chrono::milliseconds took{0};
    RunResult run = RunBounded({"--publish", MakePdf("trickled.pdf", 1).string()}, std::chrono::seconds(100), took);
    std::printf("the batch ended after %lld ms\n", static_cast<long long>(took.count()));
    EXPECT_LT(took.count(), 60000) << "a peer trickling two bytes a second held the batch";
    EXPECT_EQ(run.code, 1) << run.err;
    EXPECT_NE(run.err.find("not published to the publishing service " + peer_->Host()), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Reason:Timeout was reached"), std::string::npos) << "given up as a silent peer is";
    ASSERT_FALSE(peer_->Requests().empty()) << "the service was asked";
}

}  // namespace
