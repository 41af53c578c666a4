// Two sessions of one owner update the same book on the real vellumark-service at random
// moments while a reader polls the book's page, its text and a changed page image: every
// reader round gets one edition, no file of an uncommitted update or of a refused request
// is ever served, and the race ends in one whole edition.
#include "ServiceFixture.h"
#include "config/BookManifest.h"
#include "tests/helpers/TempHome.h"

#include <array>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <random>
#include <thread>

namespace fs = std::filesystem;
namespace bodies = service_bodies;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kKey = "13579BDF02468ACE13579BDF02468ACE";
constexpr int kUpdatesPerSession = 4;
constexpr int kEditions = 64;  // edition numbers handed out, with room for the refused ones

std::string Text(int edition) { return "window.VELLUMARK_BOOK_TEXT = {\"edition\": " + std::to_string(edition) + "};\n"; }
// Larger than a 48 KiB chunk, so that it arrives in two requests.
std::string Page(int edition) { return FakeJpeg(60000, 1000 + static_cast<unsigned>(edition)); }
std::string Title(int edition) { return "Edition " + std::to_string(edition) + "."; }

class ServiceUpdateRaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        service_ = std::make_unique<ServiceProcess>(home_.Root() / "data");
        ASSERT_TRUE(service_->Running()) << service_->FirstLine();
        ASSERT_EQ(service_->Post("/createPubAccount.asp", "email=owner%40x.org&password=pw1",
                                 "application/x-www-form-urlencoded")
                      .status,
                  200);
        for (int e = 0; e < kEditions; ++e) pages_.push_back(Page(e));
    }

    // One login of the owner: its session key and number.
    std::pair<std::string, long long> Login() const {
        const HttpResult reply = service_->Post(kPath, bodies::Login("owner@x.org", "pw1"));
        return {reply.session_key, std::atoll(reply.body.c_str())};
    }
    // One message of a session, as the client sends it: the empty probe, then the body.
    HttpResult Say(const std::string& session, const std::string& update, const std::string& body,
                   std::vector<std::string> headers = {}) const {
        headers.push_back("X-Vellumark-Session: " + session);
        if (!update.empty()) headers.push_back("X-Vellumark-Update: " + update);
        service_->Post(kPath, "", "application/octet-stream", headers);
        return service_->Post(kPath, body, "application/octet-stream", headers);
    }
    std::string SendFile(const std::string& session, const std::string& update, const std::string& folder,
                         const std::string& name, const std::string& data) const {
        HttpResult last;
        for (size_t at = 0, k = 0; at < data.size(); at += 48 * 1024, ++k) {
            const std::string body = data.size() <= 48 * 1024
                                         ? bodies::Upload(kKey, name, folder, data)
                                         : bodies::Upload(kKey, name, folder, data.substr(at, 48 * 1024),
                                                          static_cast<int>(k), 48);
            last = Say(session, update, body, {bodies::FileSizeHeader(data.size())});
        }
        return last.body;
    }
    std::string ManifestOf(int edition) const {
        const fs::path folder = home_.Root() / ("local-" + std::to_string(edition));
        WriteFileBytes(folder / "txt.js", Text(edition));
        WriteFileBytes(folder / "HighRes" / "img-2.jpg", pages_[static_cast<size_t>(edition)]);
        BookManifest manifest;
        manifest.book_key = kKey;
        for (const char* path : {"HighRes/img-2.jpg", "txt.js"})
            manifest.entries.push_back({path, static_cast<int64_t>(fs::file_size(folder / path)), FileSha256(folder / path)});
        return manifest.Text();
    }
    std::string Served(const std::string& path) const {
        const HttpResult reply = service_->Get("/vellumark/books/" + kKey + "/" + path);
        return reply.status == 200 ? reply.body : std::string();
    }
    // The edition a served text, page image or book page is of; -1 for anything else.
    int EditionOfText(const std::string& body) const {
        for (int e = 0; e < kEditions; ++e)
            if (body == Text(e)) return e;
        return -1;
    }
    int EditionOfPage(const std::string& body) const {
        for (int e = 0; e < kEditions; ++e)
            if (body == pages_[static_cast<size_t>(e)]) return e;
        return -1;
    }
    static int EditionOfBookPage(const std::string& html) {
        const size_t at = html.find("Edition ");
        return at == std::string::npos ? -1 : std::atoi(html.c_str() + at + 8);
    }

    static constexpr const char* kPath = "/vellumark/standalone.ashx";
    TempHome home_;
    std::unique_ptr<ServiceProcess> service_;
    std::vector<std::string> pages_;
};

TEST_F(ServiceUpdateRaceTest, TwoSessionsOfOneOwnerUpdatingAtOnceGiveReadersOneWholeEdition) {
    // Edition 0 published directly, as the first publication of a client that does not stage.
    const auto [first_key, first_token] = Login();
    ASSERT_EQ(Say(first_key, "", bodies::Metadata(kKey, first_token, Title(0), "d", "t", "b.pdf")).body, "OK");
    ASSERT_EQ(SendFile(first_key, "", "", "txt.js", Text(0)), "OK");
    ASSERT_EQ(SendFile(first_key, "", "HighRes", "img-2.jpg", pages_[0]), "OK");
    ASSERT_EQ(SendFile(first_key, "", "", BookManifest::kFileName, ManifestOf(0)), "OK");

    std::atomic<int> next_edition{1};
    std::mutex commits_mutex;
    std::vector<int> commit_order = {0};  // the editions in the order they went live
    std::atomic<int> sessions_done{0};
    std::atomic<int> refused_stages{0}, refused_intrusions{0}, accepted_intrusions{0};
    std::atomic<int> logged_in{0};
    // Waits (bounded) until `ready` holds: a login costs a password hash, and on a busy
    // machine one session could otherwise finish before the other has begun.
    const auto wait_until = [](const auto& ready) {
        for (const auto end = Clock::now() + std::chrono::seconds(20); !ready() && Clock::now() < end;)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };

    const auto session = [&](unsigned seed) {
        const auto [key, token] = Login();
        ++logged_in;
        wait_until([&] { return logged_in == 2; });
        std::mt19937 random(seed);
        const auto pause = [&] { std::this_thread::sleep_for(std::chrono::milliseconds(random() % 15)); };
        for (int done = 0; done < kUpdatesPerSession;) {
            const HttpResult begun = Say(key, "", "stag" + kKey);
            if (begun.body != "OK") {
                // The other session's update is open: this one asks again later.
                EXPECT_EQ(begun.body.rfind("ERR:busy:", 0), 0u) << begun.body;
                ++refused_stages;
                pause();
                continue;
            }
            const std::string id = begun.Header("X-Vellumark-Update");
            // The first session's first update stays open until the other session has been
            // turned away at least once, so the two always meet.
            if (seed == 1 && done == 0) wait_until([&] { return refused_stages > 0; });
            const int edition = next_edition++;
            pause();
            EXPECT_EQ(Say(key, id, bodies::Metadata(kKey, token, Title(edition), "d", "t", "b.pdf")).body, "OK");
            EXPECT_EQ(SendFile(key, id, "HighRes", "img-2.jpg", pages_[static_cast<size_t>(edition)]), "OK");
            pause();
            EXPECT_EQ(SendFile(key, id, "", "txt.js", Text(edition)), "OK");
            // A refused commit (a file missing) leaves the staged files unseen; the right
            // one shows them.
            const std::string manifest = ManifestOf(edition);
            BookManifest missing;
            std::string why;
            ASSERT_TRUE(BookManifest::Parse(manifest, missing, why));
            missing.entries.push_back({"HighRes/img-9.jpg", 5, std::string(64, 'a')});
            EXPECT_NE(Say(key, id, "comm" + kKey + missing.Text()).body, "OK");
            pause();
            {
                std::lock_guard<std::mutex> lock(commits_mutex);
                const std::string answer = Say(key, id, "comm" + kKey + manifest).body;
                EXPECT_EQ(answer, "OK");
                if (answer == "OK") commit_order.push_back(edition);
            }
            // The update is over: its id no longer reaches the book.
            const int stale = next_edition++;
            if (SendFile(key, id, "", "txt.js", Text(stale)) == "OK") ++accepted_intrusions;
            else ++refused_intrusions;
            ++done;
        }
        ++sessions_done;
    };

    // Rounds of the reader: the book's page, its text, the changed page image, the page again.
    std::vector<std::array<int, 4>> rounds;
    std::thread reader([&] {
        const auto end = Clock::now() + std::chrono::seconds(30);
        while (sessions_done < 2 && Clock::now() < end) {
            std::array<int, 4> round{};
            round[0] = EditionOfBookPage(Served(""));
            round[1] = EditionOfText(Served("txt.js"));
            round[2] = EditionOfPage(Served("HighRes/img-2.jpg"));
            round[3] = EditionOfBookPage(Served(""));
            rounds.push_back(round);
        }
    });
    std::thread one(session, 1u), two(session, 2u);
    one.join();
    two.join();
    reader.join();

    ASSERT_EQ(commit_order.size(), 1u + 2 * kUpdatesPerSession);
    EXPECT_EQ(accepted_intrusions, 0);
    EXPECT_EQ(refused_intrusions, 2 * kUpdatesPerSession);
    EXPECT_GT(refused_stages, 0);
    // Each served edition is a committed one, and editions only go forward: a round that
    // begins and ends on one edition saw only that edition.
    std::vector<int> rank(kEditions, -1);
    for (size_t i = 0; i < commit_order.size(); ++i) rank[static_cast<size_t>(commit_order[i])] = static_cast<int>(i);
    ASSERT_GT(rounds.size(), 10u);
    int last_rank = 0;
    int whole_rounds = 0;
    for (const auto& round : rounds) {
        for (int edition : round) {
            ASSERT_GE(edition, 0) << "a mix, a gap or an error was served";
            const int r = rank[static_cast<size_t>(edition)];
            ASSERT_GE(r, 0) << "edition " << edition << " was never committed";
            ASSERT_GE(r, last_rank) << "an older edition came back";
            last_rank = r;
        }
        if (round[0] == round[3]) {
            EXPECT_TRUE(round[1] == round[0] && round[2] == round[0]);
            ++whole_rounds;
        }
    }
    EXPECT_GT(whole_rounds, 0);

    // The race ends in the last committed edition, whole, with its manifest.
    const int last = commit_order.back();
    EXPECT_EQ(EditionOfBookPage(Served("")), last);
    EXPECT_EQ(EditionOfText(Served("txt.js")), last);
    EXPECT_EQ(EditionOfPage(Served("HighRes/img-2.jpg")), last);
    const HttpResult manifest = Say(first_key, "", "mani" + kKey);
    EXPECT_NE(manifest.body.find(ManifestOf(last)), std::string::npos);
    EXPECT_FALSE(fs::exists(home_.Root() / "data" / "books" / (".stage-" + kKey)));
}

}  // namespace
