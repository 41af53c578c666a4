// End to end: nginx from the shipped site in front of two vellumark-service processes on
// one PostgreSQL database and one data folder. Fifty publishers at once publish a book
// and then update it, each with one login; in the middle one service process is killed
// outright and started again. Afterwards every book is served as its publisher has it,
// byte for byte; readers polling the books meanwhile never got a mix of two editions;
// no publisher had to log in again.
#include "tests/helpers/PostgresCluster.h"
#include "tests/helpers/TempHome.h"
#include "tests/publish/FrontPublisher.h"
#include "tests/service/ServiceFixture.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPublishers = 50;

std::string Key(int book) {
    char key[33];
    std::snprintf(key, sizeof key, "5EED%028X", static_cast<unsigned>(book));
    return key;
}

std::string Title(int book, int edition) {
    return "Book " + std::to_string(book) + " edition " + std::to_string(edition) + ".";
}

std::string Text(int book, int edition) {
    return "window.VELLUMARK_BOOK_TEXT = {\"book\": " + std::to_string(book) + ", \"edition\": " +
           std::to_string(edition) + "};\n";
}

// Edition 2 changes page 2 (larger than a chunk, so it goes in two) and the text.
BookFiles Edition(int book, int edition) {
    const auto seed = static_cast<unsigned>(book * 10 + edition);
    return {{"HighRes/img-1.jpg", FakeJpeg(4000, static_cast<unsigned>(book))},
            {"HighRes/img-2.jpg", FakeJpeg(60000, seed)},
            {"txt.js", Text(book, edition)}};
}

class MultiInstanceE2E : public ::testing::Test {
protected:
    void SetUp() override {
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
    }

    fs::path Data() const { return home_.Root() / "svc"; }

    void StartService(size_t index, int port) {
        services_[index] = std::make_unique<ServiceProcess>(
            Data(),
            std::vector<std::string>{"--database", url_, "--trusted-proxy", "127.0.0.1", "--port",
                                     std::to_string(port)},
            std::chrono::seconds(15), home_.Root() / ("service-" + std::to_string(index) + ".log"));
        ASSERT_TRUE(services_[index]->Running()) << services_[index]->FirstLine();
    }

    std::string Served(int book, const std::string& path, const std::string& source) const {
        FrontRequest request;
        request.path = "/vellumark/books/" + Key(book) + "/" + path;
        request.source_address = source;
        const FrontReply reply = front_->Send(request);
        return reply.status == 200 ? reply.body : "status " + std::to_string(reply.status);
    }

    // Which edition a served answer is: 1, 2, or 0 for anything else (a mix, an error).
    int EditionOf(int book, const std::string& path, const std::string& body) const {
        for (int edition : {1, 2}) {
            if (path.empty() ? body.find(Title(book, edition)) != std::string::npos
                             : body == Edition(book, edition).at(path))
                return edition;
        }
        return 0;
    }

    TempHome home_;
    std::string url_;
    std::array<std::unique_ptr<ServiceProcess>, 2> services_;
    std::vector<int> ports_;
    std::unique_ptr<NginxFront> front_;
};

}  // namespace

TEST_F(MultiInstanceE2E, FiftyPublishersThroughNginxLoseNothingWhenAServiceProcessIsKilled) {
    const auto started = Clock::now();
    std::atomic<int> published{0};       // books whose edition 1 is live
    std::array<std::atomic<bool>, kPublishers> live{};
    std::atomic<int> publishers_done{0};
    std::vector<std::unique_ptr<FrontPublisher>> publishers;
    // Two publishers per source address, so that nginx's limits per address hold.
    for (int i = 0; i < kPublishers; ++i)
        publishers.push_back(std::make_unique<FrontPublisher>(*front_, "127.0.0." + std::to_string(10 + i / 2)));
    std::vector<std::string> failures(kPublishers);

    const auto publish = [&](int book) {
        FrontPublisher& publisher = *publishers[static_cast<size_t>(book)];
        const fs::path local = home_.Root() / "local" / Key(book);
        const bool ok =
            publisher.SignUpAndLogIn("publisher" + std::to_string(book) + "@example.org", "secret1") &&
            publisher.Publish(Key(book), Title(book, 1), Edition(book, 1), {}, local) &&
            (live[static_cast<size_t>(book)] = true, ++published, true) &&
            publisher.Publish(Key(book), Title(book, 2), Edition(book, 2), {"HighRes/img-2.jpg", "txt.js"}, local);
        if (!ok) failures[static_cast<size_t>(book)] = publisher.Failure();
        ++publishers_done;
    };

    // Rounds of the readers over the published books: the book's page, its text, the
    // changed page and the page again.
    std::mutex rounds_mutex;
    std::vector<std::array<int, 4>> rounds;
    std::vector<std::string> unserved;
    const auto read = [&](int reader) {
        std::mt19937 random(static_cast<unsigned>(reader));
        const auto end = Clock::now() + std::chrono::seconds(90);
        for (int round = 0; publishers_done < kPublishers && Clock::now() < end; ++round) {
            if (published == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            int book = static_cast<int>(random() % static_cast<unsigned>(kPublishers));
            while (!live[static_cast<size_t>(book)]) book = (book + 1) % kPublishers;
            const std::string source = "127.0." + std::to_string(1 + reader) + "." + std::to_string(1 + round % 200);
            const std::string page = Served(book, "", source);
            std::array<int, 4> editions{};
            editions[0] = EditionOf(book, "", page);
            editions[1] = EditionOf(book, "txt.js", Served(book, "txt.js", source));
            editions[2] = EditionOf(book, "HighRes/img-2.jpg", Served(book, "HighRes/img-2.jpg", source));
            editions[3] = EditionOf(book, "", Served(book, "", source));
            std::lock_guard<std::mutex> lock(rounds_mutex);
            if (std::find(editions.begin(), editions.end(), 0) != editions.end())
                unserved.push_back(Key(book) + " round " + std::to_string(round));
            rounds.push_back(editions);
        }
    };
    std::vector<std::thread> readers;
    for (int reader = 1; reader <= 3; ++reader) readers.emplace_back(read, reader);

    std::vector<std::thread> threads;
    for (int i = 0; i < kPublishers; ++i) threads.emplace_back(publish, i);

    // A fifth of the books are live: the first service process dies without a word and
    // comes back on its port a moment later.
    const auto kill_deadline = Clock::now() + std::chrono::seconds(60);
    while (published < kPublishers / 5 && publishers_done < kPublishers && Clock::now() < kill_deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int done_at_kill = publishers_done;
    EXPECT_EQ(services_[0]->Stop(SIGKILL), 128 + SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_NO_FATAL_FAILURE(StartService(0, ports_[0]));

    for (std::thread& thread : threads) thread.join();
    for (std::thread& reader : readers) reader.join();
    EXPECT_LT(done_at_kill, kPublishers) << "the kill came after every publisher was done";

    int retries = 0;
    for (int i = 0; i < kPublishers; ++i) {
        EXPECT_EQ(failures[static_cast<size_t>(i)], "") << "publisher " << i;
        EXPECT_EQ(publishers[static_cast<size_t>(i)]->Logins(), 1) << "publisher " << i << " logged in again";
        EXPECT_EQ(publishers[static_cast<size_t>(i)]->LostSessions(), 0) << "publisher " << i;
        retries += publishers[static_cast<size_t>(i)]->Retries();
    }
    // Every book as its publisher has it, byte for byte, and its page names edition 2.
    for (int book = 0; book < kPublishers; ++book) {
        const fs::path local = home_.Root() / "local" / Key(book);
        ASSERT_TRUE(fs::is_directory(local)) << Key(book) << " was never published";
        for (const auto& entry : fs::recursive_directory_iterator(local)) {
            if (!entry.is_regular_file()) continue;
            const std::string path = fs::relative(entry.path(), local).string();
            EXPECT_TRUE(Served(book, path, "127.0.9.1") == ReadFileBytes(entry.path())) << Key(book) << "/" << path;
        }
        EXPECT_EQ(EditionOf(book, "", Served(book, "", "127.0.9." + std::to_string(2 + book))), 2) << Key(book);
    }
    // No reader round saw a mix: a round whose page was one edition at its start and end
    // got that edition's files in between, and no answer was anything else.
    EXPECT_TRUE(unserved.empty()) << unserved.size() << " rounds got an error or a mix, the first " << unserved[0];
    int whole = 0;
    for (const auto& round : rounds) {
        if (round[0] != round[3] || round[0] == 0) continue;
        EXPECT_TRUE(round[1] == round[0] && round[2] == round[0]);
        ++whole;
    }
    EXPECT_GT(whole, 10);
    std::printf("%d publishers, %zu reader rounds, %d retries, %.1f s\n", kPublishers, rounds.size(), retries,
                std::chrono::duration<double>(Clock::now() - started).count());
}
