// The upload plan over each protocol against a real server on loopback: plain FTP
// (pyftpdlib), FTP over TLS (vsftpd with a certificate made for the test) and SFTP
// (OpenSSH's sshd, by password and by an enciphered key). A book arrives byte for byte,
// a stop resumes at its page, a connection cut in the middle of a file is survived, a
// wrong password fails, an unknown or changed server identity is refused naming the
// fingerprints (by SFTP's rename connection too), a replaced file is never missing for a
// reader, and no secret ever reaches the log.
#include "PublishedBook.h"
#include "FtpTestServer.h"
#include "TransportServers.h"

#include "config/DiagLog.h"
#include "publish/NetworkSettings.h"
#include "publish/PublishControl.h"
#include "publish/SftpRename.h"
#include "publish/UploadPlan.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr const char* kKey = "0123456789ABCDEF0123456789ABCDEF";
constexpr int kPages = 10;
constexpr int32_t kRunning = 1;  // any state but a stop request
constexpr int32_t kStopping = PublishControl::kStopping;
// The one large file of the book, long enough to be cut half-way.
constexpr const char* kLargeFile = "HighRes/img-1.jpg";
constexpr size_t kLargeSize = 300 * 1024;

enum class Kind { Ftp, Ftps, SftpPassword, SftpKey };

std::string KindName(const testing::TestParamInfo<Kind>& info) {
    switch (info.param) {
        case Kind::Ftp: return "Ftp";
        case Kind::Ftps: return "Ftps";
        case Kind::SftpPassword: return "SftpPassword";
        case Kind::SftpKey: return "SftpKey";
    }
    return "Unknown";
}

std::string RandomBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t done = 0; done < size;) {
        const ssize_t got = getrandom(bytes.data() + done, size - done, 0);
        if (got > 0) done += static_cast<size_t>(got);
    }
    return bytes;
}

fs::file_time_type TimeOf(const fs::path& file) {
    std::error_code ec;
    return fs::last_write_time(file, ec);
}

class TransportPublishTest : public testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        DiagLog::Instance().SetReportPath((home_.Root() / "report.txt").string());
        DiagLog::Instance().SetSwitches(1, 0);
        // The report keeps one record a second; standard error has them all.
        std::fflush(stderr);
        saved_stderr_ = fcntl(2, F_DUPFD_CLOEXEC, 3);
        const int log = open((home_.Root() / "stderr.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(log, 2);
        close(log);
        const fs::path books = home_.Root() / "books";
        settings_.books_folder = books.string();
        settings_.net_timeout_ms = 5000;
        settings_.ftp_upld_try_times = 3;
        WriteFileBytes(books / "skins/2/skin.js", "var skin = ['bg.png', 'skin.js',];");
        WriteFileBytes(books / "skins/2/bg.png", "background");
        WriteFileBytes(books / "index.js", "index");
        WriteFileBytes(books / "RurovOzeza.v1.css", "css");
        for (const char* name : {"index.html", "txt.js", "text.html"}) WriteFileBytes(Book() / name, name);
        for (int page = 1; page <= kPages; ++page) {
            const std::string n = std::to_string(page);
            for (const char* folder : {"100", "HighRes", "MedRes", "LowRes"}) {
                WriteFileBytes(Book() / folder / ("img-" + n + ".jpg"), std::string(folder) + " jpg " + n);
                WriteFileBytes(Book() / folder / ("img-" + n + "-f.png"), std::string(folder) + " png " + n);
            }
            for (const char* folder : {"print", "thumb"})
                WriteFileBytes(Book() / folder / ("img-" + n + "-e.jpg"), std::string(folder) + " " + n);
        }
        WriteFileBytes(Book() / kLargeFile, RandomBytes(kLargeSize));
        WriteFileBytes(Book() / "thumb/img-1-e-cover.jpg", "cover");
        WriteFileBytes(home_.Root() / "source.pdf", "%PDF-1.4 source");
    }

    void TearDown() override {
        std::fflush(stderr);
        dup2(saved_stderr_, 2);
        close(saved_stderr_);
        // Whatever happened, no password or passphrase was written down.
        const std::string log = Log() + ReadFileBytes(home_.Root() / "report.txt");
        for (const std::string& secret : secrets_)
            EXPECT_EQ(log.find(secret), std::string::npos) << "a secret reached the log";
        watcher_stop_.store(true);
        if (watcher_.joinable()) watcher_.join();
        DiagLog::Instance().SetSwitches(0, 0);
        DiagLog::Instance().SetReportPath("");
    }

    // Starts the server of this test's protocol. With `cut`, the first upload's connection
    // breaks in the middle of a file (the large one, or for pyftpdlib the first upload).
    // With `rate` (bytes a second; vsftpd and sshd), uploads travel no faster.
    bool StartServer(bool cut = false, long rate = 0) {
        const Kind kind = GetParam();
        if (kind == Kind::Ftp) {
            ftp_ = std::make_unique<FtpTestServer>(home_.Root() / "ftp", cut ? FtpFault::DropOnce : FtpFault::None);
            if (!ftp_->Running()) return false;
            port_ = ftp_->Port();
            user_ = "alice";
            password_ = "secret";
            remote_ = ftp_->Root() / "books";
            fs::create_directories(remote_);
            secrets_.push_back(password_);
            return true;
        }
        std::string why;
        account_ = TestAccount::Get(why);
        if (!account_) {
            skip_reason_ = why;
            return false;
        }
        folder_ = std::make_unique<ServerFolder>();
        remote_ = folder_->Site() / "books";
        fs::create_directories(remote_);
        if (chown(remote_.c_str(), account_->uid, account_->gid) != 0) return false;
        user_ = account_->name;
        password_ = account_->password;
        secrets_.push_back(password_);
        if (kind == Kind::Ftps) {
            // Slow transfers let the test find the large file half-written.
            vsftpd_ = std::make_unique<VsftpdServer>(*account_, *folder_, cut ? 150 * 1024 : static_cast<int>(rate));
            if (!vsftpd_->Running()) return false;
            port_ = vsftpd_->Port();
            server_fingerprint_ = vsftpd_->Fingerprint();
            transport_.protocol = FtpProtocol::Ftps;
            if (cut) CutWhenHalfWritten();
        } else {
            sshd_ = std::make_unique<SshdServer>(*account_, *folder_);
            if (!sshd_->Running()) return false;
            port_ = sshd_->Port();
            server_fingerprint_ = sshd_->Fingerprint();
            transport_.protocol = FtpProtocol::Sftp;
            if (kind == Kind::SftpKey) {
                transport_.key_file = sshd_->KeyFile().string();
                transport_.passphrase = SshdServer::KeyPassphrase();
                password_.clear();  // the key logs in; no password is given
                secrets_.push_back(transport_.passphrase);
            }
            if (cut || rate > 0) {
                // Past the small files, half-way through the large one.
                relay_ = std::make_unique<CuttingRelay>(port_, cut ? static_cast<long>(kLargeSize / 2) : LONG_MAX, rate);
                port_ = relay_->Port();
            }
        }
        transport_.fingerprint = server_fingerprint_;
        return true;
    }

    // Breaks every connection to the FTPS server once the large file is partly there.
    void CutWhenHalfWritten() {
        watcher_ = std::thread([this] {
            // The file is written under its own name in a folder the publication made, and
            // under a temporary name beside its own when it replaces an old one.
            const fs::path large = remote_ / kKey / kLargeFile;
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!watcher_stop_.load() && std::chrono::steady_clock::now() < end) {
                std::error_code ec;
                for (const auto& entry : fs::directory_iterator(large.parent_path(), ec)) {
                    const std::string name = entry.path().filename().string();
                    if (name != large.filename().string() && name.rfind(large.filename().string() + ".", 0) != 0)
                        continue;
                    const auto size = fs::file_size(entry.path(), ec);
                    if (!ec && size > 0 && size < kLargeSize) {
                        cut_done_.store(vsftpd_->Process().KillSessions() > 0);
                        return;
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }

    fs::path Book() const { return home_.Root() / "books" / kKey; }

    std::unique_ptr<Uploader> Connect(const std::string& password, const FtpTransport& transport) {
        auto up = std::make_unique<Uploader>(&progress_, &state_, settings_);
        up->SetFtpTarget("127.0.0.1/books", user_, password, 1, port_);
        up->SetFtpTransport(transport);
        connected_ = up->ConnectFtp();
        return up;
    }

    FtpEndpoint Endpoint(const FtpTransport& transport) const {
        FtpEndpoint endpoint;
        endpoint.host = "127.0.0.1";
        endpoint.port = port_;
        endpoint.user = user_;
        endpoint.password = password_;
        endpoint.timeout_ms = 5000;
        endpoint.transport = transport;
        return endpoint;
    }

    int32_t Publish(int32_t from, int32_t upload_pdf = 0) {
        progress_.store(from);
        auto up = Connect(password_, transport_);
        if (!connected_) return -100;
        return UploadBook(*up, (home_.Root() / "source.pdf").string(), Book().string(), kPages, upload_pdf);
    }

    void ExpectPublished(const std::set<std::string>& also = {}) { ExpectPublishedBook(Book(), remote_ / kKey, also); }

    // Every diagnostic record of the test.
    std::string Log() const { return ReadFileBytes(home_.Root() / "stderr.log"); }

    TempHome home_;
    PublishSettings settings_;
    std::atomic<int32_t> progress_{0};
    std::atomic<int32_t> state_{kRunning};
    const TestAccount* account_ = nullptr;
    std::unique_ptr<FtpTestServer> ftp_;
    std::unique_ptr<ServerFolder> folder_;
    std::unique_ptr<VsftpdServer> vsftpd_;
    std::unique_ptr<SshdServer> sshd_;
    std::unique_ptr<CuttingRelay> relay_;
    std::thread watcher_;
    std::atomic<bool> watcher_stop_{false};
    std::atomic<bool> cut_done_{false};
    int port_ = 0;
    std::string user_, password_, server_fingerprint_, skip_reason_;
    FtpTransport transport_;
    fs::path remote_;
    std::vector<std::string> secrets_;
    bool connected_ = false;
    int saved_stderr_ = -1;
};

#define START_SERVER(...)                                                  \
    do {                                                                   \
        const bool started = StartServer(__VA_ARGS__);                     \
        if (!started && !skip_reason_.empty()) GTEST_SKIP() << skip_reason_; \
        ASSERT_TRUE(started) << "the test server did not start";           \
    } while (0)

TEST_P(TransportPublishTest, ABookIsPublishedByteForByte) {
    START_SERVER();
    ASSERT_EQ(Publish(kMarkFoldersStart, 1), kPlanPublished) << Log();
    EXPECT_EQ(progress_.load(), kMarkStaticDone);
    // The PDF went into the book folder too.
    EXPECT_EQ(ReadFileBytes(remote_ / kKey / "source.pdf"), "%PDF-1.4 source");
    ExpectPublished({"source.pdf"});
    // The skin and the shared files beside the books.
    EXPECT_EQ(ReadFileBytes(remote_ / "skins/2/bg.png"), "background");
    EXPECT_EQ(ReadFileBytes(remote_ / "skins/2/skin.js"), "var skin = ['bg.png', 'skin.js',];");
    EXPECT_EQ(ReadFileBytes(remote_ / "index.js"), "index");
    // The failure marker was made and removed again.
    EXPECT_FALSE(fs::exists(remote_ / "FAILED_UPDATE_SKIN"));

    // Again, with a failure marker left on the server: the marker goes, the skin is found
    // current (downloaded and compared) and neither it nor the shared files are sent again.
    const fs::path marker = remote_ / "FAILED_UPDATE_SKIN";
    fs::create_directories(marker);
    if (account_) {
        ASSERT_EQ(chown(marker.c_str(), account_->uid, account_->gid), 0);
    }
    const auto skin_time = TimeOf(remote_ / "skins/2/bg.png");
    const auto shared_time = TimeOf(remote_ / "index.js");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(Publish(kMarkFoldersStart), kPlanPublished) << Log();
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_EQ(TimeOf(remote_ / "skins/2/bg.png"), skin_time);
    EXPECT_EQ(TimeOf(remote_ / "index.js"), shared_time);
    ExpectPublished();
}

TEST_P(TransportPublishTest, AStoppedPublicationResumesAtItsPage) {
    START_SERVER();
    std::thread stopper([this] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (progress_.load() < 67000 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        state_.store(kStopping);
    });
    const int32_t stopped = Publish(kMarkFoldersStart);
    stopper.join();
    ASSERT_EQ(stopped, kPlanStopped) << Log();
    // Where the stop landed depends on how soon it was seen; it is inside a folder stage.
    const int32_t mark = progress_.load();
    ASSERT_GE(mark, 67000);
    ASSERT_LT(mark, kMarkStaticDone);
    EXPECT_FALSE(fs::exists(remote_ / kKey / "index.html")) << "the publication ran on";

    // Every page before the mark: the stages done, and the current one up to its page.
    std::map<fs::path, fs::file_time_type> before;
    for (const FolderStage& stage : kFolderStages) {
        if (stage.start_mark > mark) break;
        const int32_t first_page =
            stage.end_mark() <= mark ? kPages + 1 : (mark - stage.start_mark) * kPages / stage.span + 1;
        const bool single_image = std::string(stage.folder) == "print" || std::string(stage.folder) == "thumb";
        for (int page = 1; page < first_page; ++page) {
            const fs::path file = remote_ / kKey / stage.folder /
                                  ("img-" + std::to_string(page) + (single_image ? "-e.jpg" : ".jpg"));
            before[file] = TimeOf(file);
        }
    }
    ASSERT_GE(before.size(), 4u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    state_.store(kRunning);
    ASSERT_EQ(Publish(mark), kPlanPublished) << Log();
    for (const auto& [file, time] : before) EXPECT_EQ(TimeOf(file), time) << file << " was sent again";
    ExpectPublished();
}

TEST_P(TransportPublishTest, AConnectionCutInTheMiddleOfAFileIsSurvived) {
    START_SERVER(true);
    ASSERT_EQ(Publish(kMarkFoldersStart), kPlanPublished) << Log();
    ExpectPublished();
    if (relay_) {
        EXPECT_TRUE(relay_->Cut());
        EXPECT_GE(relay_->Connections(), 2);
    }
    if (vsftpd_) {
        EXPECT_TRUE(cut_done_.load()) << "the large file was never seen half-written";
    }
    if (ftp_) {
        EXPECT_GE(ReadFileBytes(home_.Root() / "ftp/connections.log").size(), 2 * std::string("connect\n").size());
    }
    EXPECT_NE(Log().find("reconnect"), std::string::npos) << Log();
}

TEST_P(TransportPublishTest, AReaderGetsTheOldOrTheNewPageImageWholeWhileItIsReplaced) {
    if (GetParam() == Kind::Ftp || GetParam() == Kind::SftpKey) {
        GTEST_SKIP() << "vsftpd and sshd by password show it";
    }
    START_SERVER(false, 400 * 1024);
    ASSERT_EQ(Publish(kMarkFoldersStart), kPlanPublished) << Log();
    const std::string old_bytes = ReadFileBytes(Book() / kLargeFile);
    const std::string new_bytes = RandomBytes(kLargeSize);
    WriteFileBytes(Book() / kLargeFile, new_bytes);

    // The publication sends the changed page image over the slow line while a reader, as
    // the web server in front of the folder would, reads it again and again.
    std::atomic<bool> done{false};
    int32_t result = -100;
    std::thread publisher([&] {
        result = Publish(kMarkFoldersStart);
        done.store(true);
    });
    const fs::path page = remote_ / kKey / kLargeFile;
    // The replacement travels under a temporary name beside the page image.
    const auto travelling = [&page] {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(page.parent_path(), ec))
            if (entry.path().filename().string().rfind(page.filename().string() + ".", 0) == 0) return true;
        return false;
    };
    // The moment a replacement might leave no file is far shorter than a read: a second
    // reader only looks for the file, as often as it can.
    std::atomic<int> missing_looks{0};
    std::thread looker([&] {
        while (!done.load()) {
            if (access(page.c_str(), F_OK) != 0) ++missing_looks;
            std::this_thread::yield();
        }
    });
    int old_reads = 0, new_reads = 0, missing = 0, reads_while_travelling = 0;
    std::vector<size_t> torn;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done.load() && std::chrono::steady_clock::now() < end) {
        if (travelling()) ++reads_while_travelling;
        std::ifstream in(page, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.is_open()) ++missing;
        else if (bytes == old_bytes) ++old_reads;
        else if (bytes == new_bytes) ++new_reads;
        else torn.push_back(bytes.size());
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    publisher.join();
    done.store(true);
    looker.join();
    missing += missing_looks.load();
    ASSERT_EQ(result, kPlanPublished) << Log();
    EXPECT_TRUE(torn.empty()) << torn.size() << " reads got part of a file, the first " << torn.front() << " bytes";
    // However fast or slow the machine, the page was read while its replacement travelled.
    EXPECT_GT(reads_while_travelling, 0) << "the replacement was never read while it travelled";
    EXPECT_GT(old_reads, 0);
    EXPECT_EQ(ReadFileBytes(page), new_bytes);
    // vsftpd renames over the old file, and so does sshd by its overwriting rename: a
    // reader never misses the file.
    EXPECT_EQ(missing, 0);
    RecordProperty("reads_old_new_missing",
                   std::to_string(old_reads) + "/" + std::to_string(new_reads) + "/" + std::to_string(missing));
}

TEST_P(TransportPublishTest, AWrongPasswordOrPassphraseFailsTheLogin) {
    START_SERVER();
    const std::string wrong = "not-the-password-42";
    secrets_.push_back(wrong);
    FtpTransport transport = transport_;
    if (GetParam() == Kind::SftpKey) transport.passphrase = wrong;
    auto up = Connect(GetParam() == Kind::SftpKey ? std::string() : wrong, transport);
    EXPECT_FALSE(connected_);
    EXPECT_EQ(up->FtpIdentity().check, IdentityCheck::Trusted);
    EXPECT_NE(Log().find("ERR:ftp InternetConnect error"), std::string::npos) << Log();
    EXPECT_FALSE(up->FtpConnected());
}

TEST_P(TransportPublishTest, AnUnknownOrChangedServerIdentityIsRefused) {
    START_SERVER();
    if (GetParam() == Kind::Ftp) GTEST_SKIP() << "plain FTP does not identify its server";
    FtpTransport unconfirmed = transport_;
    unconfirmed.fingerprint.clear();
    auto first = Connect(password_, unconfirmed);
    ASSERT_FALSE(connected_);
    EXPECT_EQ(first->FtpIdentity().check, IdentityCheck::Unknown);
    // The fingerprint offered is the server's own, as its own tools compute it.
    EXPECT_EQ(first->FtpIdentity().offered, server_fingerprint_);
    EXPECT_NE(Log().find("unknown server identity: the server offered " + server_fingerprint_), std::string::npos)
        << Log();

    // What the user confirmed is accepted.
    FtpTransport confirmed = unconfirmed;
    confirmed.fingerprint = first->FtpIdentity().offered;
    Connect(password_, confirmed);
    EXPECT_TRUE(connected_) << Log();

    // Another key under the same name is refused, naming both.
    FtpTransport other = unconfirmed;
    other.fingerprint = "SHA256:" + std::string(43, 'A');
    auto changed = Connect(password_, other);
    ASSERT_FALSE(connected_);
    EXPECT_EQ(changed->FtpIdentity().check, IdentityCheck::Changed);
    EXPECT_EQ(changed->FtpIdentity().offered, server_fingerprint_);
    EXPECT_NE(Log().find("the profile holds " + other.fingerprint + ", the server offered " + server_fingerprint_),
              std::string::npos)
        << Log();
    if (!sshd_) return;

    // The rename connection beside an SFTP session judges the host key alike.
    SftpRename renamer;
    EXPECT_EQ(renamer.Open(Endpoint(other)), CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_FALSE(renamer.IsOpen());
    EXPECT_EQ(renamer.HostCheck().result.check, IdentityCheck::Changed);
    EXPECT_EQ(renamer.HostCheck().result.offered, server_fingerprint_);
    EXPECT_EQ(renamer.Open(Endpoint(unconfirmed)), CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_EQ(renamer.HostCheck().result.check, IdentityCheck::Unknown);
    // Confirmed, it logs in; a rename the server refuses keeps the connection usable.
    ASSERT_EQ(renamer.Open(Endpoint(confirmed)), CURLE_OK) << renamer.Reason();
    EXPECT_TRUE(renamer.CanOverwrite());
    const fs::path old_file = remote_ / "old.txt";
    WriteFileBytes(old_file, "old");
    WriteFileBytes(remote_ / "new.txt", "new");
    EXPECT_EQ(renamer.Rename((remote_ / "missing.txt").string(), old_file.string()), CURLE_QUOTE_ERROR);
    EXPECT_NE(renamer.Reason().find("refused"), std::string::npos) << renamer.Reason();
    ASSERT_EQ(renamer.Rename((remote_ / "new.txt").string(), old_file.string()), CURLE_OK) << renamer.Reason();
    EXPECT_EQ(ReadFileBytes(old_file), "new");
}

TEST_P(TransportPublishTest, TheUsualAuthoritiesVouchWithoutAFingerprint) {
    START_SERVER();
    FtpTransport unconfirmed = transport_;
    unconfirmed.fingerprint.clear();
    if (GetParam() == Kind::Ftps) {
        // The certificate, named for 127.0.0.1, trusted as its own authority.
        setenv("SSL_CERT_FILE", vsftpd_->Certificate().c_str(), 1);
        Connect(password_, unconfirmed);
        unsetenv("SSL_CERT_FILE");
        EXPECT_TRUE(connected_) << Log();
    } else if (GetParam() == Kind::SftpPassword) {
        const fs::path known_hosts = home_.Home() / ".ssh/known_hosts";
        const std::string name = "[127.0.0.1]:" + std::to_string(port_);
        WriteFileBytes(known_hosts, name + " " + sshd_->PublicKeyLine() + "\n");
        Connect(password_, unconfirmed);
        EXPECT_TRUE(connected_) << Log();
        SftpRename trusted;
        EXPECT_EQ(trusted.Open(Endpoint(unconfirmed)), CURLE_OK) << trusted.Reason();
        // known_hosts naming another key for the host wins over the profile: refused.
        std::istringstream other_key(ReadFileBytes(sshd_->KeyFile().string() + ".pub"));
        std::string type, blob;
        other_key >> type >> blob;
        WriteFileBytes(known_hosts, name + " " + type + " " + blob + "\n");
        auto changed = Connect(password_, transport_);
        EXPECT_FALSE(connected_);
        EXPECT_EQ(changed->FtpIdentity().check, IdentityCheck::Changed);
        EXPECT_EQ(changed->FtpIdentity().expected_from, known_hosts.string());
        EXPECT_EQ(changed->FtpIdentity().offered, server_fingerprint_);
        SftpRename renamer;
        EXPECT_EQ(renamer.Open(Endpoint(transport_)), CURLE_PEER_FAILED_VERIFICATION);
        EXPECT_EQ(renamer.HostCheck().result.check, IdentityCheck::Changed);
        EXPECT_EQ(renamer.HostCheck().result.expected_from, known_hosts.string());
    } else {
        GTEST_SKIP() << "covered by the other protocols";
    }
}

TEST_P(TransportPublishTest, FolderAndFileNamesWithBlanksAndQuotesArriveAsNamed) {
    START_SERVER();
    FtpSession session;
    ASSERT_TRUE(session.Open(Endpoint(transport_))) << Log();
    const std::string folder = "my \"books\" 'here' \\ 2";
    ASSERT_TRUE(session.ChangeFolder("books"));
    ASSERT_TRUE(session.MakeFolder(folder)) << session.LastReply();
    ASSERT_TRUE(session.ChangeFolder(folder)) << session.LastReply();
    const fs::path local = home_.Root() / "page one.jpg";
    WriteFileBytes(local, "jpeg");
    ASSERT_TRUE(session.PutFile(local.string(), "page one #1.jpg")) << session.LastReply();
    EXPECT_EQ(ReadFileBytes(remote_ / folder / "page one #1.jpg"), "jpeg");
    ASSERT_TRUE(session.ChangeFolder(".."));
    // A folder that is not there cannot be entered, and one that holds files not removed.
    EXPECT_FALSE(session.ChangeFolder("missing"));
    EXPECT_FALSE(session.RemoveFolder(folder));
    EXPECT_TRUE(fs::exists(remote_ / folder / "page one #1.jpg"));
}

TEST_P(TransportPublishTest, AServerThatTakesOneConnectionPerAccountStillGetsFilesReplaced) {
    if (GetParam() != Kind::SftpPassword) GTEST_SKIP() << "only SFTP opens a second connection";
    START_SERVER();
    CuttingRelay one_connection(port_, LONG_MAX, 0, 1);
    port_ = one_connection.Port();
    WriteFileBytes(remote_ / "page.jpg", "old");
    const fs::path local = home_.Root() / "page.jpg";
    WriteFileBytes(local, "new");
    FtpSession session;
    ASSERT_TRUE(session.Open(Endpoint(transport_))) << Log();
    ASSERT_TRUE(session.ChangeFolder("books"));
    ASSERT_TRUE(session.PutFile(local.string(), "page.jpg")) << session.LastReply();
    EXPECT_EQ(ReadFileBytes(remote_ / "page.jpg"), "new");
    EXPECT_EQ(one_connection.Connections(), 2);
    EXPECT_NE(Log().find("no second SFTP connection"), std::string::npos) << Log();
}

INSTANTIATE_TEST_SUITE_P(Protocols, TransportPublishTest,
                         testing::Values(Kind::Ftp, Kind::Ftps, Kind::SftpPassword, Kind::SftpKey), KindName);

TEST(UnknownProtocolTest, AProfileWithAProtocolNotKnownHereNeverConnects) {
    // Plain FTP in its place would send the password in clear.
    TempHome home;
    FtpTestServer server(home.Root() / "ftp");
    ASSERT_TRUE(server.Running());
    PublishSettings settings;
    std::atomic<int32_t> progress{0}, state{kRunning};
    Uploader up(&progress, &state, settings);
    up.SetFtpTarget("127.0.0.1/", "alice", "secret", 1, server.Port());
    FtpTransport transport;
    transport.unknown_protocol = "sftp2";
    up.SetFtpTransport(transport);
    EXPECT_FALSE(up.ConnectFtp());
    EXPECT_FALSE(fs::exists(home.Root() / "ftp/connections.log")) << "the server was contacted";
}

TEST(SftpRenameTest, AServerThatNeverAnswersFailsTheRenameConnectionWithinItsTimeOut) {
    // The listening socket takes the connection into its backlog and never says a word.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    FtpEndpoint endpoint;
    endpoint.host = "127.0.0.1";
    endpoint.port = ntohs(address.sin_port);
    endpoint.user = "nobody";
    endpoint.timeout_ms = 1000;
    endpoint.transport.protocol = FtpProtocol::Sftp;
    SftpRename renamer;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(renamer.Open(endpoint), CURLE_OPERATION_TIMEDOUT) << renamer.Reason();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(renamer.IsOpen());
    close(listener);
}

TEST(FingerprintTest, FingerprintsAreWrittenAsOpenSshShowsThem) {
    // The SHA-256 of "abc", known from the standard's examples.
    const unsigned char abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(FingerprintOf(abc, 3), "SHA256:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0");
    EXPECT_TRUE(IsFingerprint("SHA256:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0"));
    EXPECT_EQ(PinnedKeyOf("SHA256:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0"),
              "sha256//ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
    for (const char* bad : {"", "SHA256:", "MD5:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0",
                            "SHA256:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa", "SHA256:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=",
                            "SHA256:ungWv48Bz pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0"})
        EXPECT_FALSE(IsFingerprint(bad)) << bad;
}

}  // namespace
