// End to end: nginx from the shipped site in front of two vellumark-service processes on
// one PostgreSQL database and one data folder. Fifty vellumark-batch processes at once,
// each with a home, books folder and service account of its own, convert a real PDF and
// publish the book, then update it from a corrected PDF (one page changed), each run with
// one login; in the middle one service process is killed outright and started again.
// Afterwards every book is served as its publisher has it, byte for byte; readers polling
// the books meanwhile never got a mix of two editions; no publisher had to log in again.
#include "tests/helpers/PostgresCluster.h"
#include "tests/pipeline/BatchE2EFixture.h"
#include "tests/publish/NginxFront.h"
#include "tests/service/ServiceFixture.h"

#include "config/IniFile.h"

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPublishers = 50;
constexpr int kAtOnce = 12;
// Files of the book that differ between the two editions and not between books: a
// reader's round reads them in this order.
const std::array<std::string, 4> kRound = {"layout.js", "txt.js", "HighRes/img-2-f.png", "layout.js"};

// One run of vellumark-batch in the publisher's own home below `root`.
struct PublisherRun {
    int code = -1;
    std::string out, err;
};

PublisherRun RunBatch(const fs::path& root, const fs::path& ca_file, std::vector<std::string> args,
                      const std::string& tag, const std::string& input = "") {
    std::vector<std::string> env_text = {
        "HOME=" + (root / "home").string(),           "XDG_DATA_HOME=" + (root / "data").string(),
        "XDG_CONFIG_HOME=" + (root / "config").string(), "XDG_CACHE_HOME=" + (root / "home/.cache").string(),
        "XDG_RUNTIME_DIR=" + (root / "runtime").string(), "XDG_DATA_DIRS=" + (root / "shared").string(),
        "XDG_DOCUMENTS_DIR=" + (root / "home/Documents").string(), "SSL_CERT_FILE=" + ca_file.string()};
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (name.rfind("XDG_", 0) != 0 && name != "HOME" && name != "SSL_CERT_FILE" &&
            name != "DBUS_SESSION_BUS_ADDRESS")
            env_text.push_back(text);
    }
    std::vector<char*> env;
    for (std::string& entry : env_text) env.push_back(entry.data());
    env.push_back(nullptr);
    // --verbose: the diagnostic records (and so the logins) are in the error output.
    args.insert(args.begin(), {(ProgramDir() / "vellumark-batch").string(), "--verbose"});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const fs::path in = root / (tag + ".in"), out = root / (tag + ".out"), err = root / (tag + ".err");
    WriteFileBytes(in, input);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    PublisherRun run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()) == 0) {
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.code = WEXITSTATUS(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = ReadFileBytes(out);
    run.err = ReadFileBytes(err);
    return run;
}

// How often a run logged in to the service (its record "INF:will HOST login, line ...").
int Logins(const std::string& err) {
    int logins = 0;
    for (size_t at = err.find("INF:will "); at != std::string::npos; at = err.find("INF:will ", at + 1)) {
        const std::string record = err.substr(at, err.find(',', at) - at);
        logins += record.size() > 6 && record.compare(record.size() - 6, 6, " login") == 0;
    }
    return logins;
}

class MultiInstanceE2E : public BatchE2E {
protected:
    void SetUp() override {
        BatchE2E::SetUp();
        if (IsSkipped()) return;
        std::string why;
        if (!NginxFront::Available(why)) GTEST_SKIP() << why;
        if (const std::string missing = PostgresUnavailable(); !missing.empty()) GTEST_SKIP() << missing;
        url_ = NewPostgresDatabase(why);
        ASSERT_FALSE(url_.empty()) << why;
        for (size_t i = 0; i < services_.size(); ++i) {
            ASSERT_NO_FATAL_FAILURE(StartService(i, 0));
            ports_.push_back(services_[i]->Port());
        }
        front_ = std::make_unique<NginxFront>(home_.Root() / "nginx", ports_, Data());
        ASSERT_TRUE(front_->Running()) << front_->Failure();

        // The two editions, converted once here to know each one's files.
        editions_[0] = MakePdf("edition-1.pdf", 2);
        editions_[1] = MakePdf("edition-2.pdf", 2, "Generated Book", 2);
        for (size_t edition = 0; edition < editions_.size(); ++edition) {
            const RunResult run = Run({editions_[edition].string()}, editions_[edition].stem().string());
            ASSERT_EQ(run.code, 0) << run.err;
            ASSERT_FALSE(Lines(run.out).empty()) << run.err;
            const fs::path book = books_ / KeyOf(Lines(run.out).back());
            for (const std::string& file : kRound) reference_[edition][file] = ReadFileBytes(book / file);
        }
        for (const std::string& file : kRound) ASSERT_NE(reference_[0][file], reference_[1][file]) << file;
    }

    fs::path Data() const { return home_.Root() / "svc"; }
    fs::path PublisherRoot(int publisher) const { return home_.Root() / ("publisher-" + std::to_string(publisher)); }
    fs::path PublisherBooks(int publisher) const { return PublisherRoot(publisher) / "home/Documents/vAziruduues"; }

    void StartService(size_t index, int port) {
        services_[index] = std::make_unique<ServiceProcess>(
            Data(),
            std::vector<std::string>{"--database", url_, "--trusted-proxy", "127.0.0.1", "--port",
                                     std::to_string(port)},
            std::chrono::seconds(15), home_.Root() / ("service-" + std::to_string(index) + ".log"));
        ASSERT_TRUE(services_[index]->Running()) << services_[index]->FirstLine();
    }

    FrontReply Served(const std::string& key, const std::string& path, const std::string& source) const {
        FrontRequest request;
        request.path = "/vellumark/books/" + key + "/" + path;
        request.source_address = source;
        return front_->Send(request);
    }

    // Which edition a served file is: 1, 2, or 0 for anything else (a mix, an error).
    int EditionOf(const std::string& path, const FrontReply& reply) const {
        for (int edition : {1, 2})
            if (reply.status == 200 && reply.body == reference_[edition - 1].at(path)) return edition;
        return 0;
    }

    // Makes the publisher's account (from an address it shares with one other publisher,
    // so that the limits on sign-ups per address hold) and saves it as the publisher's
    // service account. Empty when all went well, else what failed.
    std::string SignUp(int publisher) {
        const fs::path root = PublisherRoot(publisher);
        for (const char* sub : {"home/Documents", "data", "config", "runtime", "shared"}) fs::create_directories(root / sub);
        const std::string email = "publisher" + std::to_string(publisher) + "@example.org";
        FrontRequest signup;
        signup.method = "POST";
        signup.path = "/createPubAccount.asp";
        signup.body = "email=" + email + "&password=secret1";
        signup.headers = {"Content-Type: application/x-www-form-urlencoded"};
        signup.source_address = "127.0.0." + std::to_string(10 + publisher / 2);
        const FrontReply made = front_->Send(signup);
        if (made.status != 200) return "sign-up answered " + std::to_string(made.status);
        const PublisherRun saved = RunBatch(root, front_->CaFile(),
                                            {"--set-service-account", email, "--service-host", front_->BaseUrl()},
                                            "account", "secret1\n");
        if (saved.code != 0) return "saving the account: " + saved.err;
        // No pause between the chunks of a file.
        IniFile((root / "data/Corvane/Vellumark/config.ini").string())
            .WriteInt("network", "http_wait_after_upld_chunk", 1);
        return "";
    }

    // Publishes edition 1 and updates the book to edition 2. Empty when all went well,
    // else what failed.
    std::string Publish(int publisher, std::string& key, std::atomic<bool>& live, int& logins) {
        const fs::path root = PublisherRoot(publisher);
        const PublisherRun first = RunBatch(root, front_->CaFile(), {"--publish", editions_[0].string()}, "publish");
        if (first.code != 0 || Lines(first.out).empty()) return "publishing: " + first.err;
        key = KeyOf(Lines(first.out).back());
        logins += Logins(first.err);
        live = true;
        const PublisherRun update = RunBatch(root, front_->CaFile(), {"--update", key, editions_[1].string()}, "update");
        logins += Logins(update.err);
        if (update.code != 0) return "updating: " + update.err;
        if (update.err.find("published at ") == std::string::npos) return "the update was not published: " + update.err;
        return "";
    }

    std::string url_;
    std::array<std::unique_ptr<ServiceProcess>, 2> services_;
    std::vector<int> ports_;
    std::unique_ptr<NginxFront> front_;
    std::array<fs::path, 2> editions_;
    std::array<std::map<std::string, std::string>, 2> reference_;
};

}  // namespace

TEST_F(MultiInstanceE2E, FiftyPublishersThroughNginxLoseNothingWhenAServiceProcessIsKilled) {
    const auto started = Clock::now();
    // All the batch processes connect from 127.0.0.1, where nginx lets 16 requests in at
    // once: a dozen publishers work at a time, the next starting as one finishes.
    const auto by_dozens = [](const std::function<void(int)>& work) {
        std::atomic<int> next{0};
        std::vector<std::thread> threads;
        for (int worker = 0; worker < kAtOnce; ++worker)
            threads.emplace_back([&] {
                for (int i = next++; i < kPublishers; i = next++) work(i);
            });
        for (std::thread& thread : threads) thread.join();
    };
    std::array<std::string, kPublishers> signups;
    by_dozens([&](int publisher) { signups[static_cast<size_t>(publisher)] = SignUp(publisher); });
    for (size_t i = 0; i < kPublishers; ++i) ASSERT_EQ(signups[i], "") << "publisher " << i;

    std::array<std::string, kPublishers> keys, failures;
    std::array<std::atomic<bool>, kPublishers> live{};
    std::array<int, kPublishers> logins{};
    std::atomic<int> published{0}, publishers_done{0};
    const auto publish = [&](int publisher) {
        const size_t i = static_cast<size_t>(publisher);
        failures[i] = Publish(publisher, keys[i], live[i], logins[i]);
        published += live[i] ? 1 : 0;
        ++publishers_done;
    };

    // Rounds of the readers over the published books: a file of the book, two others
    // that change with it, and the first again.
    std::mutex rounds_mutex;
    std::vector<std::array<int, 4>> rounds;
    std::vector<std::string> unserved;
    const auto read = [&](int reader) {
        std::mt19937 random(static_cast<unsigned>(reader));
        const auto end = Clock::now() + std::chrono::seconds(90);
        for (int round = 0; publishers_done < kPublishers && Clock::now() < end; ++round) {
            int book = static_cast<int>(random() % static_cast<unsigned>(kPublishers));
            int looked = 0;
            while (!live[static_cast<size_t>(book)] && ++looked <= kPublishers) book = (book + 1) % kPublishers;
            if (looked > kPublishers) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            const std::string& key = keys[static_cast<size_t>(book)];
            const std::string source = "127.0." + std::to_string(1 + reader) + "." + std::to_string(1 + round % 200);
            std::array<int, 4> editions{};
            for (size_t file = 0; file < kRound.size(); ++file)
                editions[file] = EditionOf(kRound[file], Served(key, kRound[file], source));
            std::lock_guard<std::mutex> lock(rounds_mutex);
            if (std::find(editions.begin(), editions.end(), 0) != editions.end())
                unserved.push_back(key + " round " + std::to_string(round));
            rounds.push_back(editions);
        }
    };
    std::vector<std::thread> readers;
    for (int reader = 1; reader <= 3; ++reader) readers.emplace_back(read, reader);
    std::thread publishers([&] { by_dozens(publish); });

    // A fifth of the books are live: the first service process dies without a word and
    // comes back on its port a moment later.
    const auto kill_deadline = Clock::now() + std::chrono::seconds(60);
    while (published < kPublishers / 5 && publishers_done < kPublishers && Clock::now() < kill_deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int done_at_kill = publishers_done;
    EXPECT_EQ(services_[0]->Stop(SIGKILL), 128 + SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_NO_FATAL_FAILURE(StartService(0, ports_[0]));

    publishers.join();
    for (std::thread& reader : readers) reader.join();
    EXPECT_LT(done_at_kill, kPublishers) << "the kill came after every publisher was done";

    // Every batch run succeeded with one login: the kill cost no session.
    for (size_t i = 0; i < kPublishers; ++i) {
        EXPECT_EQ(failures[i], "") << "publisher " << i;
        EXPECT_EQ(logins[i], 2) << "publisher " << i << " logged in other than once a run";
    }
    // Every book as its publisher has it, byte for byte (but the page the service makes
    // itself), and the second edition.
    for (size_t i = 0; i < kPublishers; ++i) {
        const fs::path local = PublisherBooks(static_cast<int>(i)) / keys[i];
        ASSERT_FALSE(keys[i].empty() || !fs::is_directory(local)) << "publisher " << i << " has no book";
        int compared = 0;
        for (const auto& entry : fs::recursive_directory_iterator(local)) {
            if (!entry.is_regular_file() || entry.path().filename() == "index.html") continue;
            const std::string path = fs::relative(entry.path(), local).string();
            const FrontReply served = Served(keys[i], path, "127.0.9." + std::to_string(1 + i));
            EXPECT_TRUE(served.status == 200 && served.body == ReadFileBytes(entry.path())) << keys[i] << "/" << path;
            ++compared;
        }
        EXPECT_GT(compared, 20);
        EXPECT_EQ(EditionOf("txt.js", Served(keys[i], "txt.js", "127.0.8." + std::to_string(1 + i))), 2) << keys[i];
    }
    // No reader round saw a mix: a round whose first file was one edition at its start
    // and end got that edition's files in between, and no answer was anything else.
    EXPECT_TRUE(unserved.empty()) << unserved.size() << " rounds got an error or a mix, the first " << unserved[0];
    int whole = 0;
    for (const auto& round : rounds) {
        if (round[0] != round[3] || round[0] == 0) continue;
        EXPECT_TRUE(round[1] == round[0] && round[2] == round[0]);
        ++whole;
    }
    EXPECT_GT(whole, 10);
    std::printf("%d publishers, %zu reader rounds, %.1f s\n", kPublishers, rounds.size(),
                std::chrono::duration<double>(Clock::now() - started).count());
}
