// End to end over FTP with TLS and SFTP: vellumark-batch saves a target only for a server
// whose identity the user confirmed (printing the fingerprint of an unknown one), then
// publishes a real book to it byte for byte; a server showing another key, or refusing
// the password, fails the job ("FTP login failed"), never as done; no password or
// passphrase appears in the profile, on standard error or in the status report.
#include "PublishedBook.h"
#include "TransportServers.h"

#include "tests/pipeline/BatchE2EFixture.h"

#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>

namespace fs = std::filesystem;

namespace {

enum class Kind { Ftps, SftpPassword, SftpKey };

std::string KindName(const testing::TestParamInfo<Kind>& info) {
    switch (info.param) {
        case Kind::Ftps: return "Ftps";
        case Kind::SftpPassword: return "SftpPassword";
        case Kind::SftpKey: return "SftpKey";
    }
    return "Unknown";
}

class PublishTransportE2E : public BatchE2E, public testing::WithParamInterface<Kind> {
protected:
    void SetUp() override {
        BatchE2E::SetUp();
        if (IsSkipped()) return;
        std::string why;
        account_ = TestAccount::Get(why);
        if (!account_) GTEST_SKIP() << why;
        folder_ = std::make_unique<ServerFolder>();
        ASSERT_EQ(chown(folder_->Site().c_str(), account_->uid, account_->gid), 0);
        if (GetParam() == Kind::Ftps) {
            vsftpd_ = std::make_unique<VsftpdServer>(*account_, *folder_);
            ASSERT_TRUE(vsftpd_->Running());
            port_ = vsftpd_->Port();
            fingerprint_ = vsftpd_->Fingerprint();
        } else {
            sshd_ = std::make_unique<SshdServer>(*account_, *folder_);
            ASSERT_TRUE(sshd_->Running());
            port_ = sshd_->Port();
            fingerprint_ = sshd_->Fingerprint();
        }
        const fs::path books = folder_->Site() / "books";
        fs::create_directories(books);
        ASSERT_EQ(chown(books.c_str(), account_->uid, account_->gid), 0);
        secrets_ = {account_->password, SshdServer::KeyPassphrase()};
        // Every record kept in the status report, to be searched for secrets.
        Configure({{"general/log_err", "1"}});
    }

    // The secret the target is saved with: the password, or the key's passphrase.
    std::string Secret() const {
        return GetParam() == Kind::SftpKey ? SshdServer::KeyPassphrase() : account_->password;
    }

    RunResult SaveTarget(const std::string& accept = "") {
        std::vector<std::string> args = {"--set-ftp-target", "127.0.0.1/books",
                                         "--protocol",       GetParam() == Kind::Ftps ? "ftps" : "sftp",
                                         "--ftp-user",       account_->name,
                                         "--ftp-webaddr",    "http://127.0.0.1/books/",
                                         "--ftp-port",       std::to_string(port_)};
        if (GetParam() == Kind::SftpKey) {
            args.push_back("--key-file");
            args.push_back(sshd_->KeyFile().string());
        }
        if (!accept.empty()) {
            args.push_back("--accept-fingerprint");
            args.push_back(accept);
        }
        RunResult run = Run(args, "target", Secret() + "\n");
        seen_ += run.out + run.err;
        return run;
    }

    RunResult Publish(const std::string& pdf, const std::string& tag) {
        RunResult run = Run({"--publish", "--verbose", MakePdf(pdf, 2).string()}, tag);
        seen_ += run.out + run.err;
        return run;
    }

    void ExpectNoSecretAnywhere() {
        const std::string everything =
            seen_ + ReadFileBytes(data_ / "ftp.ini") + ReadFileBytes(books_ / "report.txt");
        for (const std::string& secret : secrets_)
            EXPECT_EQ(everything.find(secret), std::string::npos) << "a secret was written down or shown";
    }

    const TestAccount* account_ = nullptr;
    std::unique_ptr<ServerFolder> folder_;
    std::unique_ptr<VsftpdServer> vsftpd_;
    std::unique_ptr<SshdServer> sshd_;
    int port_ = 0;
    std::string fingerprint_;
    std::string seen_;  // everything the command printed
    std::vector<std::string> secrets_;
};

TEST_P(PublishTransportE2E, AConfirmedServerIsSavedAndReceivesTheWholeBook) {
    // An unknown server: its fingerprint is shown and nothing is saved.
    RunResult unknown = SaveTarget();
    EXPECT_EQ(unknown.code, 1);
    EXPECT_NE(unknown.err.find("is not known"), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find("--accept-fingerprint " + fingerprint_), std::string::npos) << unknown.err;
    EXPECT_EQ(ReadFileBytes(data_ / "ftp.ini").find("127.0.0.1/books"), std::string::npos);

    // Accepted, it is saved with its fingerprint and the protocol.
    RunResult saved = SaveTarget(fingerprint_);
    ASSERT_EQ(saved.code, 0) << saved.err;
    const std::string profile = ReadFileBytes(data_ / "ftp.ini");
    EXPECT_NE(profile.find("fingerprint=" + fingerprint_), std::string::npos) << profile;
    EXPECT_NE(profile.find(GetParam() == Kind::Ftps ? "protocol=ftps" : "protocol=sftp"), std::string::npos);

    RunResult published = Publish("brochure.pdf", "publish");
    ASSERT_EQ(published.code, 0) << published.err;
    const std::string key = OnlyKey();
    EXPECT_EQ(StoredProgress(key), 100000);
    EXPECT_NE(published.err.find("published at http://127.0.0.1/books/" + key + "/index.html"), std::string::npos);
    ExpectPublishedBook(books_ / key, folder_->Site() / "books" / key);
    ExpectNoSecretAnywhere();
}

TEST_P(PublishTransportE2E, AChangedKeyOrARefusedLoginFailsTheJob) {
    // Saved for a key the server does not show (as after the server's key was replaced):
    // the publication is refused and both fingerprints are named.
    const std::string other = "SHA256:" + std::string(42, 'B') + "A";
    RunResult saved = SaveTarget(fingerprint_);
    ASSERT_EQ(saved.code, 0) << saved.err;
    const fs::path ini = data_ / "ftp.ini";
    std::string text = ReadFileBytes(ini);
    text.replace(text.find(fingerprint_), fingerprint_.size(), other);
    WriteFileBytes(ini, text);
    RunResult changed = Publish("changed.pdf", "changed");
    EXPECT_EQ(changed.code, 1);
    EXPECT_TRUE(changed.out.empty()) << changed.out;
    EXPECT_NE(changed.err.find("the profile holds " + other + ", the server offered " + fingerprint_),
              std::string::npos)
        << changed.err;
    EXPECT_NE(changed.err.find("FTP login failed"), std::string::npos) << changed.err;
    EXPECT_EQ(changed.err.find("Done"), std::string::npos) << changed.err;
    EXPECT_LT(StoredProgress(OnlyKey()), 100000);

    // The right key again, but the server no longer takes the password (or the key).
    ASSERT_EQ(SaveTarget(fingerprint_).code, 0);
    if (GetParam() == Kind::SftpKey)
        WriteFileBytes(folder_->Path() / "sshd/authorized_keys", "");
    else
        ASSERT_TRUE(const_cast<TestAccount*>(account_)->ChangePassword());
    secrets_.push_back(account_->password);
    fs::remove(books_ / "report.txt");
    RunResult refused = Run({"--resume", "--verbose"}, "refused");
    seen_ += refused.out + refused.err;
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.out.empty()) << refused.out;
    EXPECT_NE(refused.err.find("FTP login failed"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("Done"), std::string::npos) << refused.err;
    EXPECT_LT(StoredProgress(OnlyKey()), 100000);
    ExpectNoSecretAnywhere();
}

TEST_P(PublishTransportE2E, AnUpdateOverSftpSendsOnlyTheChangedPageAndRemovesOnlyMissingPages) {
    if (GetParam() != Kind::SftpPassword) GTEST_SKIP() << "one protocol shows the update; all share the plan";
    ASSERT_EQ(SaveTarget(fingerprint_).code, 0);
    RunResult first = Run({"--publish", MakePdf("manual.pdf", 6).string()}, "first");
    ASSERT_EQ(first.code, 0) << first.err;
    const std::string key = OnlyKey();
    const fs::path remote = folder_->Site() / "books" / key;
    WriteFileBytes(folder_->Site() / "books/canary.html", "mine");
    // SFTP writes over a file in place: a file sent again has a new modification time.
    std::map<std::string, fs::file_time_type> before;
    for (const auto& [file, bytes] : Tree(remote)) before[file] = fs::last_write_time(remote / file);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    RunResult updated = Run({"--update", key, MakePdf("manual-2.pdf", 6, "Generated Book", 3).string()}, "update");
    ASSERT_EQ(updated.code, 0) << updated.err;
    EXPECT_NE(updated.err.find("published at http://127.0.0.1/books/" + key + "/index.html"), std::string::npos);
    ExpectPublishedBook(books_ / key, remote);
    for (const auto& [file, time] : before) {
        if (fs::last_write_time(remote / file) == time) continue;
        const bool page_3 = file.find("img-3.") != std::string::npos || file.find("img-3-") != std::string::npos;
        // The pieces of layout and text hold page 3 too (a book this short has one each).
        const bool text = file == "txt.js" || file == "text.html" || file == "layout.js" || file == "index.html" ||
                          file == "txt-1.js" || file == "layout-1.js";
        EXPECT_TRUE(page_3 || text || file == "book-manifest.txt") << file << " was sent though unchanged";
    }

    RunResult shorter = Run({"--update", key, MakePdf("manual-3.pdf", 5).string()}, "short");
    ASSERT_EQ(shorter.code, 0) << shorter.err;
    ExpectPublishedBook(books_ / key, remote);
    EXPECT_FALSE(fs::exists(remote / "HighRes/img-6.jpg"));
    EXPECT_EQ(ReadFileBytes(folder_->Site() / "books/canary.html"), "mine");
}

INSTANTIATE_TEST_SUITE_P(Protocols, PublishTransportE2E,
                         testing::Values(Kind::Ftps, Kind::SftpPassword, Kind::SftpKey), KindName);

}  // namespace
