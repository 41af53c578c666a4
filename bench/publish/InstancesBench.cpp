// Publishing benchmark of the service's set-ups: PUBLISHERS publishers at once (default
// 50) publish a book each through nginx (the shipped site) to
//   1. one service process on its SQLite file,
//   2. one service process on PostgreSQL,
//   3. two service processes on one PostgreSQL database,
// all on this machine, each set-up with a fresh data folder and database (PostgreSQL
// flushing to the disk as it does by default, SQLite as the service has it). Prints, side by
// side, the files stored per second (all publishers together, from the first upload to
// the last commit) and the answer times of the exchanges (p50, p95, measured in the
// clients), and checks each published book byte for byte. Used by instances.sh.
// The set-ups take turns, REPS rounds of them (default 3), and each figure is the median
// of its rounds: the machine's other load then weighs on every set-up alike.
//   instances_bench [PUBLISHERS] [FILES] [REPS]
// Needs root (PostgreSQL runs as the postgres user), nginx and postgresql-15.
#include "tests/helpers/PostgresCluster.h"
#include "tests/helpers/TempHome.h"
#include "tests/publish/FrontPublisher.h"
#include "tests/service/ServiceFixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Setup {
    const char* name;
    bool postgres;
    int processes;
};

struct Outcome {
    double files_per_second = 0;
    double p50_ms = 0;
    double p95_ms = 0;
    int failures = 0;
};

std::string Key(int book) {
    char key[33];
    std::snprintf(key, sizeof key, "BE0C%028X", static_cast<unsigned>(book));
    return key;
}

// A book of `files` page images of 20 to 60 KB (every fifth larger than a chunk) and its text.
BookFiles Book(int book, int files) {
    BookFiles out;
    for (int page = 1; page < files; ++page) {
        const size_t size = page % 5 == 0 ? 70000 : 20000 + static_cast<size_t>(page % 4) * 10000;
        out["HighRes/img-" + std::to_string(page) + ".jpg"] = FakeJpeg(size, static_cast<unsigned>(book * 1000 + page));
    }
    out["txt.js"] = "window.VELLUMARK_BOOK_TEXT = {\"book\": " + std::to_string(book) + "};\n";
    return out;
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(share * static_cast<double>(values.size())))];
}

Outcome Run(const Setup& setup, int publishers, int files) {
    Outcome outcome;
    TempHome home;
    const fs::path data = home.Root() / "svc";
    std::vector<std::string> args = {"--trusted-proxy", "127.0.0.1"};
    if (setup.postgres) {
        std::string why;
        const std::string url = NewPostgresDatabase(why);
        if (url.empty()) {
            std::fprintf(stderr, "%s\n", why.c_str());
            outcome.failures = publishers;
            return outcome;
        }
        args.insert(args.end(), {"--database", url});
    }
    std::vector<std::unique_ptr<ServiceProcess>> services;
    std::vector<int> ports;
    for (int i = 0; i < setup.processes; ++i) {
        services.push_back(std::make_unique<ServiceProcess>(data, args, std::chrono::seconds(15),
                                                            home.Root() / ("service-" + std::to_string(i) + ".log")));
        ports.push_back(services.back()->Port());
    }
    NginxFront front(home.Root() / "nginx", ports, data);
    if (!front.Running()) {
        std::fprintf(stderr, "nginx: %s\n", front.Failure().c_str());
        outcome.failures = publishers;
        return outcome;
    }
    std::vector<std::unique_ptr<FrontPublisher>> clients;
    for (int i = 0; i < publishers; ++i)
        clients.push_back(std::make_unique<FrontPublisher>(front, "127.0.0." + std::to_string(10 + i / 2)));
    // Accounts and logins first (each a deliberately slow password hash), not timed.
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < publishers; ++i)
        threads.emplace_back([&, i] {
            FrontPublisher& client = *clients[static_cast<size_t>(i)];
            if (!client.SignUpAndLogIn("bench" + std::to_string(i) + "@example.org", "secret1")) {
                std::fprintf(stderr, "publisher %d: %s\n", i, client.Failure().c_str());
                ++failures;
            }
        });
    for (auto& thread : threads) thread.join();
    threads.clear();
    std::vector<size_t> login_answers;
    for (const auto& client : clients) login_answers.push_back(client->AnswerSeconds().size());

    const auto start = Clock::now();
    for (int i = 0; i < publishers; ++i)
        threads.emplace_back([&, i] {
            const BookFiles book = Book(i, files);
            FrontPublisher& client = *clients[static_cast<size_t>(i)];
            if (!client.Publish(Key(i), "Book " + std::to_string(i), book, {}, home.Root() / "local" / Key(i))) {
                std::fprintf(stderr, "publisher %d: %s\n", i, client.Failure().c_str());
                ++failures;
            }
        });
    for (auto& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    int sent = 0;
    std::vector<double> answers;
    for (size_t i = 0; i < clients.size(); ++i) {
        sent += clients[i]->FilesSent();
        const auto& all = clients[i]->AnswerSeconds();
        answers.insert(answers.end(), all.begin() + static_cast<long>(login_answers[i]), all.end());
    }
    // Every book as published, byte for byte (nginx serves the files from the disk).
    for (int i = 0; i < publishers; ++i) {
        for (const auto& [path, bytes] : Book(i, files)) {
            FrontRequest request;
            request.path = "/vellumark/books/" + Key(i) + "/" + path;
            request.source_address = "127.0.2." + std::to_string(1 + i);
            const FrontReply served = front.Send(request);
            if (served.body != bytes) {
                std::fprintf(stderr, "book %d: %s is served otherwise (status %ld)\n", i, path.c_str(), served.status);
                ++failures;
                break;
            }
        }
    }
    outcome.files_per_second = sent / seconds;
    outcome.p50_ms = 1000 * Percentile(answers, 0.50);
    outcome.p95_ms = 1000 * Percentile(answers, 0.95);
    outcome.failures = failures;
    return outcome;
}

}  // namespace

int main(int argc, char** argv) {
    const int publishers = argc > 1 ? std::atoi(argv[1]) : 50;
    const int files = argc > 2 ? std::atoi(argv[2]) : 20;
    const int reps = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    std::string why;
    if (!NginxFront::Available(why) || !(why = PostgresUnavailable()).empty()) {
        std::fprintf(stderr, "instances_bench: %s\n", why.c_str());
        return 2;
    }
    // Durable like the SQLite file the service flushes: the comparison is fair.
    UseDurablePostgres();
    const Setup setups[] = {
        {"SQLite, 1 process", false, 1},
        {"PostgreSQL, 1 process", true, 1},
        {"PostgreSQL, 2 processes", true, 2},
    };
    std::printf("%d publishers at once through nginx, a book of %d files each, median of %d rounds (%u cores)\n\n",
                publishers, files, reps, std::thread::hardware_concurrency());
    std::vector<std::vector<Outcome>> outcomes(std::size(setups));
    int failed = 0;
    for (int rep = 0; rep < reps; ++rep) {
        for (size_t i = 0; i < std::size(setups); ++i) {
            const Outcome outcome = Run(setups[i], publishers, files);
            std::fprintf(stderr, "round %d, %s: %.0f files/s, p95 %.1f ms, %d failed\n", rep + 1, setups[i].name,
                         outcome.files_per_second, outcome.p95_ms, outcome.failures);
            outcomes[i].push_back(outcome);
            failed += outcome.failures;
        }
    }
    const auto median = [](const std::vector<Outcome>& all, double Outcome::*field) {
        std::vector<double> values;
        for (const Outcome& outcome : all) values.push_back(outcome.*field);
        return Percentile(values, 0.5);
    };
    std::printf("| set-up | files/s | answer p50 ms | answer p95 ms |\n|---|---|---|---|\n");
    for (size_t i = 0; i < std::size(setups); ++i) {
        std::printf("| %s | %.0f | %.1f | %.1f |\n", setups[i].name, median(outcomes[i], &Outcome::files_per_second),
                    median(outcomes[i], &Outcome::p50_ms), median(outcomes[i], &Outcome::p95_ms));
    }
    std::printf("\nbooks not published byte for byte: %d\n", failed);
    return failed == 0 ? 0 : 1;
}
