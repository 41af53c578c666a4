// The real vellumark-service against hostile and slow clients: bodies in every framing,
// idle and trickling connections, uploads from another client at the owner's address,
// readers during a cut upload, uploaded files that would run script, forged log records
// and sign-up floods. Every loop is bounded in count and time.
#include "ServiceFixture.h"
#include "tests/helpers/PostgresCluster.h"
#include "config/GzipBytes.h"
#include "tests/helpers/TempHome.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

namespace fs = std::filesystem;
namespace bodies = service_bodies;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kKey = "00112233445566778899AABBCCDDEEFF";

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

// What arrives on `fd` within `wait` (until the peer closes).
std::string ReadAnswer(int fd, std::chrono::milliseconds wait) {
    std::string answer;
    const auto end = Clock::now() + wait;
    while (Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char buffer[4096];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        answer.append(buffer, static_cast<size_t>(got));
    }
    return answer;
}

// Sends `head`, then up to `body_bytes` of `piece` repeated, as fast as the service takes
// them, for at most 20 s; stops when the service closes or resets. The answer it gave.
std::string FloodBody(int port, const std::string& head, const std::string& piece, size_t body_bytes) {
    const int fd = Connect(port);
    if (fd < 0) return std::string();
    std::string answer;
    size_t sent = 0;
    const auto end = Clock::now() + std::chrono::seconds(20);
    bool open = ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(head.size());
    while (open && sent < body_bytes && Clock::now() < end) {
        pollfd p{fd, POLLOUT | POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        if (p.revents & POLLIN) {
            char buffer[4096];
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0) answer.append(buffer, static_cast<size_t>(got));
        }
        if (p.revents & POLLOUT) {
            const size_t length = std::min(piece.size(), body_bytes - sent);
            const ssize_t put = ::send(fd, piece.data(), length, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) open = false;
            if (put > 0) sent += static_cast<size_t>(put);
        }
        if (p.revents & (POLLHUP | POLLERR)) open = false;
    }
    answer += ReadAnswer(fd, std::chrono::milliseconds(500));
    ::close(fd);
    return answer;
}

// The gzip form of `bytes` zero bytes.
std::string GzipOfZeros(size_t bytes) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    const std::string zeros(1 << 20, '\0');
    std::string out;
    char buffer[1 << 16];
    for (size_t left = bytes; left > 0 || stream.avail_in > 0;) {
        if (stream.avail_in == 0) {
            const size_t take = std::min(left, zeros.size());
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
            stream.avail_in = static_cast<uInt>(take);
            left -= take;
        }
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

class ServiceHostileTest : public ::testing::Test {
protected:
    void Start(const std::vector<std::string>& args = {}) {
        service_ = std::make_unique<ServiceProcess>(Data(), args, std::chrono::seconds(15), Log());
        ASSERT_TRUE(service_->Running()) << service_->FirstLine();
    }
    fs::path Data() const { return home_.Root() / "data"; }
    fs::path Log() const { return home_.Root() / "service.log"; }
    fs::path BookFile(const std::string& name) const { return Data() / "books" / kKey / name; }

    // An account, logged in, owning kKey.
    void Publish(const std::string& email) {
        std::string form_email = email;
        form_email.replace(form_email.find('@'), 1, "%40");
        ASSERT_EQ(service_->Post("/createPubAccount.asp", "email=" + form_email + "&password=pw1",
                                 "application/x-www-form-urlencoded").status,
                  200);
        const HttpResult login = service_->Exchange(bodies::Login(email, "pw1"));
        const long long token = std::atoll(login.body.c_str());
        ASSERT_GT(token, 0);
        ASSERT_EQ(service_->Exchange(bodies::Metadata(kKey, token, "Book", "d", "t", "b.pdf")).body, "OK");
    }

    TempHome home_;
    std::unique_ptr<ServiceProcess> service_;
};

}  // namespace

TEST_F(ServiceHostileTest, IdleAndTricklingConnectionsDoNotHoldUpAPublisher) {
    // Far more connections than request threads.
    Start({"--request-threads", "4"});
    std::vector<int> idle, slow;
    for (int i = 0; i < 300; ++i) idle.push_back(Connect(service_->Port()));
    for (int i = 0; i < 30; ++i) slow.push_back(Connect(service_->Port()));
    ASSERT_EQ(std::count(idle.begin(), idle.end(), -1) + std::count(slow.begin(), slow.end(), -1), 0);
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        const std::string head = "POST /vellumark/standalone.ashx HTTP/1.1\r\nHost: x\r\nX-Padding: ";
        for (size_t at = 0; !done && at < 200; ++at) {  // one byte per connection every 250 ms
            for (int fd : slow) (void)::send(fd, head.data() + at % head.size(), 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    });

    // A normal client publishes a book meanwhile; every answer comes within a second.
    std::vector<double> seconds;
    auto timed = [&seconds](auto&& exchange) {
        const auto start = Clock::now();
        const HttpResult result = exchange();
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        return result;
    };
    timed([&] {
        return service_->Post("/createPubAccount.asp", "email=a%40x.org&password=pw1",
                              "application/x-www-form-urlencoded");
    });
    const long long token = std::atoll(timed([&] { return service_->Exchange(bodies::Login("a@x.org", "pw1")); }).body.c_str());
    ASSERT_GT(token, 0);
    EXPECT_EQ(timed([&] { return service_->Exchange(bodies::Metadata(kKey, token, "B", "d", "t", "b.pdf")); }).body, "OK");
    std::vector<std::string> files;
    for (int page = 1; page <= 20; ++page) {
        files.push_back(RandomBytes(page % 5 == 0 ? 120000 : 20000, static_cast<unsigned>(page)));
        const std::string name = "img-" + std::to_string(page) + ".jpg";
        EXPECT_EQ(timed([&] { return bodies::UploadFile(*service_, kKey, name, "HighRes", files.back()); }).body, "OK");
    }
    done = true;
    trickle.join();
    for (int page = 1; page <= 20; ++page)
        EXPECT_EQ(ReadFileBytes(Data() / "books" / kKey / "HighRes" / ("img-" + std::to_string(page) + ".jpg")),
                  files[static_cast<size_t>(page - 1)]);
    for (int fd : idle) ::close(fd);
    for (int fd : slow) ::close(fd);

    // A held-up answer waits for a trickling client's deadline (10 s). Sign-up and login
    // cost a password hash, which takes longer on a busy machine: the same two answers
    // without the hostile connections set the machine's own pace, and each answer above
    // may take at most a second more than the slowest of them.
    std::vector<double> own_pace;
    std::swap(seconds, own_pace);
    timed([&] {
        return service_->Post("/createPubAccount.asp", "email=b%40x.org&password=pw2",
                              "application/x-www-form-urlencoded");
    });
    timed([&] { return service_->Exchange(bodies::Login("b@x.org", "pw2")); });
    std::swap(seconds, own_pace);
    const double allowed = 1.0 + *std::max_element(own_pace.begin(), own_pace.end());
    for (size_t i = 0; i < seconds.size(); ++i) EXPECT_LT(seconds[i], allowed) << "answer " << i;
}

TEST_F(ServiceHostileTest, SilentAndSlowClientsAreCutOffAtTheirDeadline) {
    Start({"--client-seconds", "1"});
    const int silent = Connect(service_->Port());
    const int slow_head = Connect(service_->Port());
    const int slow_body = Connect(service_->Port());
    const std::string body_head = "POST /vellumark/standalone.ashx HTTP/1.1\r\nContent-Length: 100\r\n\r\nupgr";
    ASSERT_EQ(::send(slow_body, body_head.data(), body_head.size(), MSG_NOSIGNAL), static_cast<ssize_t>(body_head.size()));
    std::string slow_answer, body_answer, silent_answer;
    const auto start = Clock::now();
    // The slow head sends a byte every 200 ms, each in time, but the whole head never
    // arrives; the body stops after its first bytes.
    for (int i = 0; i < 40 && slow_answer.empty(); ++i) {
        (void)::send(slow_head, "G", 1, MSG_NOSIGNAL);
        slow_answer = ReadAnswer(slow_head, std::chrono::milliseconds(200));
    }
    const double slow_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    body_answer = ReadAnswer(slow_body, std::chrono::seconds(8));
    silent_answer = ReadAnswer(silent, std::chrono::seconds(2));
    EXPECT_EQ(slow_answer.substr(0, 12), "HTTP/1.1 408");
    EXPECT_LT(slow_seconds, 3.0);
    EXPECT_EQ(body_answer.substr(0, 12), "HTTP/1.1 408");
    EXPECT_TRUE(silent_answer.empty()) << "closed without an answer";
    char byte;
    EXPECT_EQ(::recv(silent, &byte, 1, MSG_DONTWAIT), 0) << "the silent connection is closed";
    for (int fd : {silent, slow_head, slow_body}) ::close(fd);
}

TEST_F(ServiceHostileTest, BodiesOfEveryFramingAreBoundedBeforeTheyAreRead) {
    Start();
    const size_t huge = 120u << 20;
    const std::string piece(64 * 1024, 'x');
    const std::string path = "POST /vellumark/standalone.ashx HTTP/1.1\r\nHost: x\r\n";

    std::string chunk_piece;
    for (int i = 0; i < 16; ++i) chunk_piece += "1000\r\n" + std::string(4096, 'x') + "\r\n";
    const std::string chunked = FloodBody(service_->Port(), path + "Transfer-Encoding: chunked\r\n\r\n", chunk_piece, huge);
    EXPECT_EQ(chunked.substr(0, 12), "HTTP/1.1 411") << chunked.substr(0, 80);

    const std::string gzip = GzipOfZeros(100u << 20);  // about 100 KB that inflate to 100 MB
    EXPECT_LT(gzip.size(), 200000u);
    const std::string compressed = FloodBody(
        service_->Port(), path + "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(gzip.size()) + "\r\n\r\n",
        gzip, gzip.size());
    EXPECT_EQ(compressed.substr(0, 12), "HTTP/1.1 415") << compressed.substr(0, 80);

    const std::string lengthless = FloodBody(service_->Port(), path + "\r\n", piece, huge);
    EXPECT_EQ(lengthless.substr(0, 12), "HTTP/1.1 411") << lengthless.substr(0, 80);
    const std::string announced =
        FloodBody(service_->Port(), path + "Content-Length: " + std::to_string(huge) + "\r\n\r\n", piece, huge);
    EXPECT_EQ(announced.substr(0, 12), "HTTP/1.1 413") << announced.substr(0, 80);
    // A head without end is cut off too.
    const std::string endless_head = FloodBody(service_->Port(), path + "X-Long: ", piece, 4u << 20);
    EXPECT_EQ(endless_head.substr(0, 12), "HTTP/1.1 431") << endless_head.substr(0, 80);

    const long peak = PeakMemoryMb(service_->Pid());
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 100) << "MB held by the service";
    EXPECT_EQ(service_->Exchange(bodies::VersionCheck("1")).status, 200) << "still answering";
}

TEST_F(ServiceHostileTest, AReaderNeverGetsAHalfFileAndACrashLeavesNoneBehind) {
    Start();
    Publish("owner@x.org");
    const std::string path = "/vellumark/books/" + kKey + "/file.pdf";
    const std::string old_version = RandomBytes(150000, 1);
    ASSERT_EQ(bodies::UploadFile(*service_, kKey, "file.pdf", "", old_version).body, "OK");

    // A new version goes up chunk by chunk while a reader polls the file; the upload is
    // cut by a crash after two of its four chunks.
    const std::string new_version = RandomBytes(4 * 49152 - 100, 2);
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, wrong{0};
    std::thread reader([&] {
        for (int i = 0; !done && i < 2000; ++i) {
            const HttpResult got = service_->Get(path);
            if (got.status == 0) break;
            ++reads;
            if (got.status != 200 || got.body != old_version) ++wrong;
        }
    });
    const std::vector<std::string> size = {bodies::FileSizeHeader(new_version.size())};
    for (int k = 0; k < 2; ++k)
        EXPECT_EQ(service_->Exchange(bodies::Upload(kKey, "file.pdf", "", new_version.substr(k * 49152, 49152), k, 48), size).body,
                  "OK");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(wrong.load(), 0) << "the reader got a part of the new version";
    EXPECT_TRUE(fs::exists(BookFile(".partial-file.pdf")));

    service_->Stop(SIGKILL);
    Start();
    // Service processes sharing the data folder (on PostgreSQL) keep recent leftovers at
    // start: another process may be writing them.
    const bool shared_folder = TestsUsePostgres();
    if (!shared_folder) {
        EXPECT_FALSE(fs::exists(BookFile(".partial-file.pdf"))) << "the cut upload's leftover is removed at start";
    }
    EXPECT_EQ(service_->Get(path).body, old_version);
    // The cut upload cannot be continued where it stopped; sent again from its start it lands whole.
    service_->Exchange(bodies::Login("owner@x.org", "pw1"));
    if (!shared_folder) {
        EXPECT_NE(
            service_->Exchange(bodies::Upload(kKey, "file.pdf", "", new_version.substr(2 * 49152, 49152), 2, 48), size).body,
            "OK");
    }
    EXPECT_EQ(bodies::UploadFile(*service_, kKey, "file.pdf", "", new_version).body, "OK");
    EXPECT_EQ(service_->Get(path).body, new_version);
    for (const auto& entry : fs::recursive_directory_iterator(Data() / "books"))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST_F(ServiceHostileTest, UploadedFilesCannotRunScriptInTheServiceOrigin) {
    Start();
    Publish("owner@x.org");
    const std::string base = "/vellumark/books/" + kKey + "/";
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\"><script>alert(1)</script></svg>";
    const std::string html = "<!DOCTYPE html><p>Text</p><script>alert(1)</script>";
    const std::string data = "window.VELLUMARK_BOOK_TEXT = {\"title\":\"T\",\"pages\":[\"a </script>\"]};\n";
    ASSERT_EQ(bodies::UploadFile(*service_, kKey, "evil.svg", "", svg).body, "OK");
    ASSERT_EQ(bodies::UploadFile(*service_, kKey, "text.html", "", html).body, "OK");
    ASSERT_EQ(bodies::UploadFile(*service_, kKey, "txt.js", "", data).body, "OK");
    // A script is taken only as book data: an assignment of one JSON object.
    for (const std::string& script :
         {std::string("alert(document.cookie)"), std::string("window.VELLUMARK_BOOK_TEXT = {};alert(1);"),
          std::string("window.VELLUMARK_BOOK_TEXT = {\"a\":alert(1)};"), std::string("window.X = {};")}) {
        EXPECT_NE(bodies::UploadFile(*service_, kKey, "layout.js", "", script).body, "OK") << script;
    }
    const std::string long_script = "window.VELLUMARK_BOOK_LAYOUT = {\"v\":\"" + std::string(100000, 'a') + "\"};alert(1)";
    EXPECT_NE(bodies::UploadFile(*service_, kKey, "layout.js", "", long_script).body, "OK") << "checked when whole";
    EXPECT_FALSE(fs::exists(BookFile("layout.js")));
    // The tile index in the tiles folder is book data too.
    const std::string tiles = "window.VELLUMARK_BOOK_TILES = {\"version\":1,\"size\":256,\"pages\":[null]};\n";
    ASSERT_EQ(bodies::UploadFile(*service_, kKey, "tiles.js", "tiles", tiles).body, "OK");
    EXPECT_NE(bodies::UploadFile(*service_, kKey, "tiles.js", "tiles", "window.VELLUMARK_BOOK_TILES = {};alert(1);").body,
              "OK");
    EXPECT_EQ(service_->Get(base + "tiles/tiles.js").body, tiles);

    const HttpResult image = service_->Get(base + "evil.svg");
    EXPECT_EQ(image.content_type, "application/octet-stream");
    EXPECT_EQ(image.Header("Content-Disposition"), "attachment");
    EXPECT_NE(image.Header("Content-Security-Policy").find("sandbox"), std::string::npos);
    const HttpResult text = service_->Get(base + "text.html");
    EXPECT_EQ(text.content_type, "text/html; charset=utf-8");
    EXPECT_EQ(text.Header("Content-Security-Policy").rfind("sandbox", 0), 0u);
    const HttpResult script = service_->Get(base + "txt.js");
    EXPECT_EQ(script.body, data);
    EXPECT_EQ(script.Header("X-Content-Type-Options"), "nosniff");
    const HttpResult page = service_->Get(base);
    EXPECT_NE(page.Header("Content-Security-Policy").find("script-src 'self'"), std::string::npos);
    EXPECT_NE(page.body.find("src=\"../index.js\""), std::string::npos) << "the viewer comes from the shipped files";
}

TEST_F(ServiceHostileTest, PackedUploadsUnpackToTheirAnnouncedSizeOrAreRefused) {
    Start();
    Publish("owner@x.org");
    const std::string text = "<!DOCTYPE html><p>" + std::string(200000, 'a') + "</p>";
    const std::string packed = GzipBytes(text);
    const auto send = [&](const std::string& name, const std::string& data, int64_t size,
                          const std::string& encoding = "gzip") {
        return service_->Exchange(bodies::Upload(kKey, name, "", data),
                                  {bodies::FileSizeHeader(static_cast<size_t>(size)), "X-Vellumark-File-Encoding: " + encoding})
            .body;
    };
    EXPECT_EQ(send("text.html", packed, static_cast<int64_t>(text.size())), "OK");
    EXPECT_EQ(service_->Get("/vellumark/books/" + kKey + "/text.html").body, text);

    // A stream that unpacks beyond its announced size (a small "bomb"), short of it, a
    // damaged stream and an unknown packing are refused and store nothing.
    const std::string bomb = GzipBytes(std::string(50 * 1024 * 1024, '\0'));
    EXPECT_LT(bomb.size(), 100000u);
    EXPECT_NE(send("bomb.html", bomb, 1000), "OK");
    EXPECT_NE(send("short.html", packed, static_cast<int64_t>(text.size()) + 1), "OK");
    EXPECT_NE(send("damaged.html", packed.substr(0, packed.size() / 2), static_cast<int64_t>(text.size())), "OK");
    EXPECT_NE(send("other.html", packed, static_cast<int64_t>(text.size()), "br"), "OK");
    for (const char* name : {"bomb.html", "short.html", "damaged.html", "other.html"})
        EXPECT_FALSE(fs::exists(BookFile(name))) << name;

    // A packed script is checked as book data once unpacked, however long it is.
    std::string words;
    for (int i = 0; i < 20000; ++i) words += "\"w" + std::to_string(i) + "\", ";
    const std::string script = "window.VELLUMARK_BOOK_TEXT = {\"words\": [" + words + "\"end\"]};\n";
    EXPECT_EQ(send("txt.js", GzipBytes(script), static_cast<int64_t>(script.size())), "OK");
    EXPECT_EQ(service_->Get("/vellumark/books/" + kKey + "/txt.js").body, script);
    const std::string code = "window.VELLUMARK_BOOK_TEXT = {\"a\": \"" + std::string(100000, 'x') + "\"}; alert(1);\n";
    EXPECT_EQ(send("layout.js", GzipBytes(code), static_cast<int64_t>(code.size())),
              "ERR:a script of a book folder must be book data");
    EXPECT_FALSE(fs::exists(BookFile("layout.js")));
}

TEST_F(ServiceHostileTest, RefusedClientInputCannotForgeALogRecord) {
    Start();
    service_->Exchange(bodies::Login("x\nINF:account admin created", "pw"));
    service_->Post("/vellumark/standalone.ashx", "", "application/octet-stream", {"X-Vellumark-Session: a\rb"});
    service_->Stop(SIGTERM);
    std::ifstream log(Log());
    std::string line;
    int lines = 0;
    while (std::getline(log, line)) {
        ++lines;
        EXPECT_NE(line.rfind("INF:account admin", 0), 0u) << line;
        EXPECT_EQ(line.find('\r'), std::string::npos) << line;
    }
    EXPECT_GT(lines, 0);
}

TEST_F(ServiceHostileTest, SignUpsFromOneAddressAreLimited) {
    Start({"--signups-per-hour", "3"});
    std::vector<long> statuses;
    for (int i = 0; i < 4; ++i)
        statuses.push_back(service_->Post("/createPubAccount.asp",
                                          "email=u" + std::to_string(i) + "%40x.org&password=pw",
                                          "application/x-www-form-urlencoded")
                               .status);
    EXPECT_EQ(statuses, (std::vector<long>{200, 200, 200, 429}));
}

TEST_F(ServiceHostileTest, PackedUploadsAnnouncingTheLargestSizeKeepTheServiceSmall) {
    Start();
    Publish("owner@x.org");
    // The service's own peak so far: the login's password hash, and under the sanitizers
    // their allocator's overhead.
    const long before = PeakMemoryMb(service_->Pid());
    // Sixteen at once, each announcing 64 MiB: most are a short stream, some a stream that
    // unpacks beyond its announced size. Every one is refused, and the service never holds
    // the announced sizes in memory: not even one of them (64 MiB) adds to its peak.
    constexpr int64_t kAnnounced = 64 * 1024 * 1024;
    const std::string shortish = GzipBytes(std::string(200, 'a'));
    const std::string bomb = GzipOfZeros(static_cast<size_t>(kAnnounced) + (8u << 20));
    std::vector<std::string> answers(16);
    std::vector<std::thread> senders;
    for (size_t i = 0; i < answers.size(); ++i) {
        senders.emplace_back([&, i] {
            const std::string& data = i % 4 == 0 ? bomb : shortish;
            answers[i] = service_->Exchange(bodies::Upload(kKey, "big" + std::to_string(i) + ".html", "", data),
                                            {bodies::FileSizeHeader(static_cast<size_t>(kAnnounced)),
                                             "X-Vellumark-File-Encoding: gzip"})
                             .body;
        });
    }
    for (std::thread& sender : senders) sender.join();
    for (size_t i = 0; i < answers.size(); ++i) {
        EXPECT_EQ(answers[i].rfind("ERR:", 0), 0u) << i << ": " << answers[i];
        EXPECT_FALSE(fs::exists(BookFile("big" + std::to_string(i) + ".html"))) << i;
    }
    const long peak = PeakMemoryMb(service_->Pid());
    std::printf("peak memory of the service: %ld MB before, %ld MB after\n", before, peak);
    EXPECT_GT(before, 0);
    EXPECT_LT(peak, before + 32);
}
