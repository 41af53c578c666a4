// The web-service half of the publishing session against a scripted loopback peer that
// keeps every request byte for byte.
#include "HttpTestPeer.h"

#include "pipeline/PdfJob.h"
#include "publish/FetchUrlText.h"
#include "publish/HttpReplies.h"
#include "publish/Uploader.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string kKey = "0123456789ABCDEF0123456789ABCDEF";
const std::string kPath = "/vellumark/standalone.ashx";

// A length-prefixed reply as JSON text: its length, NUL bytes up to 16, the text.
std::string LengthPrefixedJson(const std::string& text) {
    std::string json = std::to_string(text.size());
    for (size_t i = json.size(); i < 16; ++i) json += "\\u0000";
    for (char c : text) json += c == '\n' ? std::string("\\n") : std::string(1, c);
    return json;
}

// The fields of an upload body, read back as the service reads them.
struct Upload {
    std::string key, name, subdir, index, kib, data;
};

Upload ParseUpload(const std::string& body) {
    Upload up;
    up.key = body.substr(4, 32);
    const size_t tail_size = std::stoul(body.substr(36, 8).c_str());
    std::vector<std::string> fields;
    for (size_t at = 44; at < 44 + tail_size;) {
        const size_t nul = body.find('\0', at);
        fields.push_back(body.substr(at, nul - at));
        at = nul + 1;
    }
    up.name = fields.at(0);
    up.subdir = fields.at(1);
    if (fields.size() == 4) {
        up.index = fields[2];
        up.kib = fields[3];
    }
    up.data = body.substr(44 + tail_size);
    return up;
}

std::set<std::string> HeaderNames(const std::string& head) {
    std::set<std::string> names;
    size_t at = head.find("\r\n");
    while (at != std::string::npos) {
        const size_t end = head.find("\r\n", at + 2);
        const std::string line = head.substr(at + 2, end == std::string::npos ? end : end - at - 2);
        names.insert(line.substr(0, line.find(':')));
        at = end;
    }
    return names;
}

// The value of header `name` in a request head, or empty.
std::string HeaderValue(const std::string& head, const std::string& name) {
    const std::string key = "\r\n" + name + ": ";
    const size_t at = head.find(key);
    if (at == std::string::npos) return {};
    const size_t end = head.find("\r\n", at + key.size());
    return head.substr(at + key.size(), end == std::string::npos ? end : end - at - key.size());
}

// A certificate authority of the test's own and a certificate it signed for 127.0.0.1,
// as PEM files in `dir`: ca.pem, server.pem, server.key.
bool MakeAuthority(const fs::path& dir) {
    fs::create_directories(dir);
    const std::string d = "'" + dir.string() + "'";
    WriteFileBytes(dir / "san.ext", "subjectAltName=IP:127.0.0.1\n");
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    const std::string commands =
        "cd " + d + " && openssl req -x509" + key + "-keyout ca.key -out ca.pem -days 2 -subj '/CN=Test authority'" +
        " && openssl req" + key + "-keyout server.key -out server.csr -subj '/CN=127.0.0.1'" +
        " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san.ext" +
        " -out server.pem";
    return std::system(("(" + commands + ") >/dev/null 2>&1").c_str()) == 0;
}

std::string SampleBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + 7) % 256);
    return bytes;
}

class UploaderHttpTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Loopback requests never go through a proxy of the machine.
        setenv("NO_PROXY", "*", 1);
        settings_.net_timeout_ms = 5000;
        settings_.http_wait_after_upld_chunk = 1;
        settings_.http_upld_try_times = 2;
    }

    void StartPeer(const std::string& script) {
        peer_ = std::make_unique<HttpTestPeer>(home_.Root() / ("peer" + std::to_string(++peers_)), script);
        ASSERT_TRUE(peer_->Running());
    }

    std::unique_ptr<Uploader> Connected() {
        auto up = std::make_unique<Uploader>(&progress_, &state_, settings_);
        up->SetHttpTarget(peer_->Host(), 80, kPath);
        EXPECT_TRUE(up->ConnectHttp());
        return up;
    }

    std::string WriteSample(const std::string& name, size_t size) {
        const fs::path path = home_.Root() / "book" / name;
        WriteFileBytes(path, SampleBytes(size));
        return path.string();
    }

    // The upload requests after the probe, checked to carry `name`, the job key and the
    // sub-folder.
    std::vector<Upload> Uploads(const std::string& name, const std::string& subdir = "HighRes") {
        std::vector<Upload> uploads;
        for (const PeerRequest& request : peer_->Requests()) {
            if (request.Code() != "upld" || request.dropped) continue;
            Upload up = ParseUpload(request.body);
            EXPECT_EQ(up.key, kKey);
            EXPECT_EQ(up.subdir, subdir);
            if (up.name == name) uploads.push_back(up);
        }
        return uploads;
    }

    TempHome home_;
    int peers_ = 0;
    std::unique_ptr<HttpTestPeer> peer_;
    PublishSettings settings_;
    std::atomic<int32_t> progress_{0};
    std::atomic<int32_t> state_{JOB_STATE_UPLOADING};
};

TEST_F(UploaderHttpTest, EveryMessageIsAnEmptyProbeThenTheExactBodyOnOneConnection) {
    StartPeer(R"({"replies": {"logi": "42", "meta": "OK\u00005\u0000", "upgr": "201402010000"}})");
    auto up = Connected();
    EXPECT_EQ(up->LoginHttp("alice@example.com", "secret"), 42);
    up->SetJobValues({1, 3, 301, 840, 840001, 840001000});
    up->SetCoverSize(128, 180);
    EXPECT_TRUE(up->handle_pdf_metadata_http("/docs/a b.pdf", kKey, 3, 600, 800, "Title", "Desc", "tags", 0, 5000));
    EXPECT_EQ(up->StatusValue(), 5) << "status 5: the service changed the title";
    EXPECT_TRUE(up->CheckNewVersion());

    const auto requests = peer_->Requests();
    ASSERT_EQ(requests.size(), 6u);
    std::string login;
    ASSERT_TRUE(http_body::LoginBody("alice@example.com", "secret", login));
    const std::string bodies[] = {"logi" + login,
                                  "meta" + kKey + "3,600,800,42,0,1,3,301,840,840001,840001000,5,4,4,7,5000,128,180:" +
                                      "TitleDesctagsa b.pdf",
                                  "upgr" + http_body::VersionBody()};
    for (size_t i = 0; i < requests.size(); ++i) {
        const PeerRequest& request = requests[i];
        EXPECT_EQ(request.head.substr(0, request.head.find("\r\n")), "POST " + kPath + " HTTP/1.1");
        EXPECT_EQ(HeaderNames(request.head), (std::set<std::string>{"Host", "User-Agent", "Content-Length"}))
            << request.head;
        EXPECT_NE(request.head.find("User-Agent: corvane rastrixGUI"), std::string::npos);
        EXPECT_EQ(request.connection, requests[0].connection) << "the connection is kept open";
        if (i % 2 == 0) {
            EXPECT_EQ(request.body, "") << "request " << i << " is the probe";
            EXPECT_NE(request.head.find("Content-Length: 0"), std::string::npos);
        } else {
            EXPECT_EQ(request.body, bodies[i / 2]);
            EXPECT_NE(request.head.find("Content-Length: " + std::to_string(bodies[i / 2].size())), std::string::npos);
        }
    }
}

TEST_F(UploaderHttpTest, LoginFailuresNeverShowThePassword) {
    StartPeer(R"({"replies": {"logi": "0"}})");
    auto up = Connected();
    testing::internal::CaptureStderr();
    EXPECT_EQ(up->LoginHttp("alice@example.com", "hunter2-secret"), 0);
    EXPECT_EQ(up->LoginHttp("alice@example.com", "hunter2-secret-that-is-far-too-long"), 0);
    up->ReportLoginFailure("alice@example.com");
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find("hunter2"), std::string::npos) << log;
    EXPECT_NE(log.find("login failed,u:alice@example.com p:********"), std::string::npos) << log;
    EXPECT_EQ(peer_->Requests().size(), 2u) << "a password that does not fit is not sent at all";
}

TEST_F(UploaderHttpTest, ServiceAskingForCredentialsFailsTheProbe) {
    StartPeer(R"({"probe_status": 401, "replies": {"logi": "42", "upld": "OK"}})");
    auto up = Connected();
    EXPECT_EQ(up->LoginHttp("alice", "secret"), 0);
    EXPECT_FALSE(up->upload_one_file_http(WriteSample("img-1.jpg", 10), kKey, "HighRes"));
    const auto requests = peer_->Requests();
    ASSERT_EQ(requests.size(), 2u) << "nothing follows a refused probe";
    EXPECT_EQ(requests[0].body, "");
    EXPECT_EQ(requests[1].body, "");
}

TEST_F(UploaderHttpTest, FilesUpToOneChunkGoWholeLargerOnesInChunks) {
    StartPeer(R"({"replies": {"upld": "OK"}})");
    auto up = Connected();
    const std::string exact = WriteSample("exact.jpg", 49152);
    const std::string plus_one = WriteSample("plus1.jpg", 49153);
    const std::string large = WriteSample("large.jpg", 100000);
    ASSERT_TRUE(up->upload_one_file_http(exact, kKey, "HighRes"));
    ASSERT_TRUE(up->upload_one_file_http(plus_one, kKey, "HighRes"));
    ASSERT_TRUE(up->upload_one_file_http(large, kKey, "HighRes"));

    const auto whole = Uploads("exact.jpg");
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].index, "") << "no chunk fields";
    EXPECT_EQ(whole[0].data, ReadFileBytes(exact));

    const auto two = Uploads("plus1.jpg");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1].index, "1");
    EXPECT_EQ(two[1].data.size(), 1u);

    const auto three = Uploads("large.jpg");
    ASSERT_EQ(three.size(), 3u);
    const size_t sizes[] = {49152, 49152, 1696};
    std::string joined;
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(three[k].index, std::to_string(k));
        EXPECT_EQ(three[k].kib, "48");
        EXPECT_EQ(three[k].data.size(), sizes[k]);
        joined += three[k].data;
    }
    EXPECT_EQ(joined, ReadFileBytes(large));
    EXPECT_EQ(peer_->Requests().size(), 1u + 1 + 1 + 2 + 1 + 3) << "one probe per file";
}

TEST_F(UploaderHttpTest, ChunkCutOffMidwayIsSentAgainAndTheFileArrivesWhole) {
    // Request 0 is the probe, 1 the first chunk, 2 the second: cut off half-way, and so
    // is the library's own immediate resend on a fresh connection (3), so the second
    // attempt after the retry wait has to deliver it.
    StartPeer(R"({"drop_requests": [2, 3], "replies": {"upld": "OK"}})");
    auto up = Connected();
    const std::string large = WriteSample("large.jpg", 100000);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(up->upload_one_file_http(large, kKey, "HighRes"));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("ERR:SendByHttpOnce failed"), std::string::npos) << log;
    const auto requests = peer_->Requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_TRUE(requests[2].dropped);
    EXPECT_TRUE(requests[3].dropped);
    std::string joined;
    for (const Upload& chunk : Uploads("large.jpg")) joined += chunk.data;
    EXPECT_EQ(joined, ReadFileBytes(large));
}

TEST_F(UploaderHttpTest, RefusalsAndMissingFilesFailTheFile) {
    StartPeer(R"({"replies": {"upld": "disk full\r\nINF:forged"}, "status": {"upld": 200}})");
    auto up = Connected();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(up->upload_one_file_http(WriteSample("img-1.jpg", 10), kKey, "HighRes"));
    EXPECT_FALSE(up->upload_one_file_http((home_.Root() / "missing.jpg").string(), kKey, "HighRes"));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("ERR:http response disk full??INF:forged"), std::string::npos) << log;
    EXPECT_NE(log.find("ERR:CreateFile failed on"), std::string::npos) << log;

    StartPeer(R"({"replies": {"upld": "can not create file"}})");
    auto again = Connected();
    EXPECT_TRUE(again->upload_one_file_http(WriteSample("img-2.jpg", 10), kKey, ""))
        << "the service already holds the file";

    StartPeer(R"({"replies": {"upld": "OK"}, "status": {"upld": 500}})");
    auto broken = Connected();
    EXPECT_FALSE(broken->upload_one_file_http(WriteSample("img-3.jpg", 10), kKey, ""))
        << "a refused request did not store the file, whatever its reply says";
    EXPECT_EQ(peer_->Requests().size(), 3u) << "probe, then both attempts";
}

TEST_F(UploaderHttpTest, StopRequestEndsAChunkedUploadBetweenChunks) {
    StartPeer(R"({"replies": {"upld": "OK"}})");
    settings_.http_chunk_size = 1;
    settings_.http_wait_after_upld_chunk = 300;
    auto up = Connected();
    const std::string file = WriteSample("many.jpg", 10 * 1024);
    bool result = true;
    std::thread worker([&] { result = up->upload_one_file_http(file, kKey, "HighRes"); });
    const bool first_chunk_arrived = peer_->WaitForRequests(2);
    state_ = JOB_STATE_STOPPING;
    worker.join();
    ASSERT_TRUE(first_chunk_arrived);
    EXPECT_FALSE(result);
    EXPECT_LE(Uploads("many.jpg").size(), 2u) << "no chunk is begun after the stop request";
}

TEST_F(UploaderHttpTest, HostWithHttpsSchemeSpeaksTls) {
    StartPeer(R"({"replies": {"logi": "42"}})");
    settings_.net_timeout_ms = 1000;
    Uploader up(&progress_, &state_, settings_);
    up.SetHttpTarget("https://" + peer_->Host(), 80, kPath);
    ASSERT_TRUE(up.ConnectHttp());
    EXPECT_EQ(up.LoginHttp("alice", "secret"), 0) << "a plain peer cannot complete a TLS handshake";
    for (const PeerRequest& request : peer_->Requests()) EXPECT_EQ(request.body.find("secret"), std::string::npos);

    Uploader bad(&progress_, &state_, settings_);
    bad.SetHttpTarget("evil@host", 80, kPath);
    EXPECT_FALSE(bad.ConnectHttp());
    Uploader off(&progress_, &state_, settings_);
    EXPECT_TRUE(off.ConnectHttp()) << "with the web service off there is nothing to connect";
}

TEST_F(UploaderHttpTest, TheLoginsSessionKeyAndTheFileSizeGoWithEveryLaterRequest) {
    const std::string key = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    StartPeer(R"({"replies": {"logi": "42", "meta": "OK", "upld": "OK"},
                  "reply_headers": {"logi": {"X-Vellumark-Session": ")" + key + R"("}}})");
    auto up = Connected();
    testing::internal::CaptureStderr();
    ASSERT_EQ(up->LoginHttp("alice", "secret"), 42);
    up->SetJobValues({1, 3, 301, 840, 840001, 840001000});
    ASSERT_TRUE(up->handle_pdf_metadata_http("/docs/a.pdf", kKey, 3, 600, 800, "Title", "", "", 0, 5000));
    ASSERT_TRUE(up->upload_one_file_http(WriteSample("large.jpg", 100000), kKey, "HighRes"));
    ASSERT_TRUE(up->upload_one_file_http(WriteSample("small.jpg", 10), kKey, "HighRes"));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find(key), std::string::npos) << "the key is a secret";

    const auto requests = peer_->Requests();
    ASSERT_EQ(requests.size(), 2u + 2 + (1 + 3) + (1 + 1));
    for (size_t i = 0; i < requests.size(); ++i) {
        const PeerRequest& request = requests[i];
        EXPECT_EQ(HeaderValue(request.head, "X-Vellumark-Session"), i < 2 ? "" : key)
            << "request " << i << ": only the login and its probe go without the key";
        if (request.Code() != "upld") continue;
        const std::string name = ParseUpload(request.body).name;
        EXPECT_EQ(HeaderValue(request.head, "X-Vellumark-File-Size"), name == "large.jpg" ? "100000" : "10")
            << "request " << i << ": every chunk names the whole file's size";
    }
}

TEST_F(UploaderHttpTest, AServiceThatTakesLargerChunksGetsThemUnlessTheUserChoseSmallerOnes) {
    // Chunk sizes (KiB) of the upload requests of one 300000-byte file after a login whose
    // reply announced `announced` (nothing when empty), with `configured` KiB configured.
    const auto chunks_after = [&](const std::string& announced, int32_t configured) {
        const std::string headers =
            announced.empty() ? "{}" : R"({"logi": {"X-Vellumark-Chunk-KiB": ")" + announced + R"("}})";
        StartPeer(R"({"replies": {"logi": "42", "upld": "OK"}, "reply_headers": )" + headers + "}");
        settings_.http_chunk_size = configured;
        auto up = Connected();
        EXPECT_EQ(up->LoginHttp("alice", "secret"), 42);
        EXPECT_TRUE(up->upload_one_file_http(WriteSample("large.jpg", 300000), kKey, "HighRes"));
        std::vector<std::string> kib;
        std::string data;
        for (const PeerRequest& request : peer_->Requests()) {
            if (request.Code() != "upld") continue;
            const Upload upload = ParseUpload(request.body);
            kib.push_back(upload.kib.empty() ? "whole" : upload.kib);
            data += upload.data;
        }
        EXPECT_EQ(data.size(), 300000u) << "every byte sent once";
        return kib;
    };
    using Sizes = std::vector<std::string>;
    EXPECT_EQ(chunks_after("200", 48), (Sizes{"200", "200"}));
    EXPECT_EQ(chunks_after("1000", 48), (Sizes{"whole"}));
    EXPECT_EQ(chunks_after("", 48), Sizes(7, "48")) << "a service that says nothing gets 48 KiB chunks";
    EXPECT_EQ(chunks_after("200", 32), Sizes(10, "32")) << "the user's smaller chunks stay";
    for (const char* bad : {"1001", "-5", "12abc"})
        EXPECT_EQ(chunks_after(bad, 48), Sizes(7, "48")) << bad;
}

TEST_F(UploaderHttpTest, ASheddingServiceIsTreatedAsADroppedConnection) {
    // Request 0 is a login's probe; 1 to 5 an upload of three chunks whose second one is
    // shed first.
    StartPeer(R"({"shed_requests": [0, 3], "replies": {"logi": "42", "upld": "OK"}})");
    auto up = Connected();
    EXPECT_EQ(up->LoginHttp("alice", "secret"), 0) << "a shed probe sends no message after it";
    ASSERT_EQ(peer_->Requests().size(), 1u);
    ASSERT_TRUE(up->upload_one_file_http(WriteSample("large.jpg", 100000), kKey, "HighRes"));
    const auto requests = peer_->Requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[3].Code(), "upld");
    EXPECT_TRUE(requests[4].body == requests[3].body) << "the shed chunk is sent again";
}

TEST_F(UploaderHttpTest, TricklingRepliesAreGivenUpAfterTheTimeOut) {
    // Two bytes a second pass any "no byte for the whole time-out" rule for ever.
    settings_.net_timeout_ms = 1000;
    StartPeer(R"({"trickle": ["logi", "GET"], "replies": {"logi": "42"}})");
    auto up = Connected();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(up->LoginHttp("alice", "secret"), 0);
    EXPECT_EQ(FetchUrlText("http://" + peer_->Host() + "/notice", settings_.net_timeout_ms), "");
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(took.count(), 15000) << "a 1 s time-out ends each exchange within a few seconds";
    EXPECT_EQ(peer_->Requests().size(), 3u);
}

TEST_F(UploaderHttpTest, AChunkOnASlowLineStillArrives) {
    // The peer takes 48 KiB in about three seconds, while the time-out is one second:
    // the bytes sit in the system's buffers and nothing seems to move meanwhile.
    settings_.net_timeout_ms = 1000;
    StartPeer(R"({"read_rate": 16384, "replies": {"upld": "OK"}})");
    auto up = Connected();
    const std::string file = WriteSample("slow.jpg", 49152);
    ASSERT_TRUE(up->upload_one_file_http(file, kKey, "HighRes"));
    const auto uploads = Uploads("slow.jpg");
    ASSERT_EQ(uploads.size(), 1u) << "sent once, no retry";
    EXPECT_EQ(uploads[0].data, ReadFileBytes(file));
}

TEST_F(UploaderHttpTest, HttpsTrustsTheAuthorityThatSslCertFileNames) {
    const fs::path pki = home_.Root() / "pki";
    ASSERT_TRUE(MakeAuthority(pki));
    StartPeer(R"({"tls": {"cert": ")" + (pki / "server.pem").string() + R"(", "key": ")" +
              (pki / "server.key").string() + R"("}, "replies": {"logi": "42"}, "get_reply": "news"})");
    const std::string host = "https://" + peer_->Host();
    unsetenv("SSL_CERT_FILE");
    Uploader strange(&progress_, &state_, settings_);
    strange.SetHttpTarget(host, 80, kPath);
    EXPECT_EQ(strange.LoginHttp("alice", "secret"), 0) << "the certificate is checked";
    EXPECT_EQ(FetchUrlText(host + "/notice"), "");
    EXPECT_TRUE(peer_->Requests().empty());

    setenv("SSL_CERT_FILE", (pki / "ca.pem").c_str(), 1);
    Uploader trusting(&progress_, &state_, settings_);
    trusting.SetHttpTarget(host, 80, kPath);
    EXPECT_EQ(trusting.LoginHttp("alice", "secret"), 42);
    EXPECT_EQ(FetchUrlText(host + "/notice"), "news");
    unsetenv("SSL_CERT_FILE");
}

TEST_F(UploaderHttpTest, FetchUrlTextReturnsThePageOrNothing) {
    StartPeer(R"({"get_reply": "<p>news</p>"})");
    const std::string url = "http://" + peer_->Host() + "/notice.html";
    EXPECT_EQ(FetchUrlText(url), "<p>news</p>");
    const auto requests = peer_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].head.find("GET /notice.html HTTP/1.1"), std::string::npos);
    EXPECT_NE(requests[0].head.find("User-Agent: Vellumark\r\n"), std::string::npos);

    EXPECT_EQ(FetchUrlText("file:///etc/hostname"), "") << "only web addresses are fetched";
    StartPeer(R"({"get_status": 404, "get_reply": "not found"})");
    EXPECT_EQ(FetchUrlText("http://" + peer_->Host() + "/gone"), "");
}

}  // namespace

TEST_F(UploaderHttpTest, UpdateStepsCarryTheKeyAndAnOlderServicesErrorFailsThem) {
    const std::string session = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    const std::string manifest = "vellumark-book-manifest 1 " + kKey + "\n" + std::string(64, 'a') + " 5 txt.js\n";
    const std::string session_header = R"("reply_headers": {"logi": {"X-Vellumark-Session": ")" + session +
                                       R"("}, "stag": {"X-Vellumark-Update": "u-17"}})";

    // Our service: the manifest, then "OK" to the stage and the commit.
    StartPeer(R"({"replies": {"logi": "42", "mani": ")" + LengthPrefixedJson(manifest) +
              R"(", "stag": "OK", "comm": "OK"}, )" + session_header + "}");
    auto up = Connected();
    ASSERT_EQ(up->LoginHttp("alice", "secret"), 42);
    std::string text = "stale";
    EXPECT_TRUE(up->FetchManifestHttp(kKey, text));
    EXPECT_EQ(text, manifest);
    EXPECT_TRUE(up->BeginUpdateHttp(kKey));
    EXPECT_TRUE(up->CommitUpdateHttp(kKey, manifest));
    const auto requests = peer_->Requests();
    ASSERT_EQ(requests.size(), 8u);
    const std::string bodies[] = {"mani" + kKey, "stag" + kKey, "comm" + kKey + manifest};
    for (size_t i = 2; i < requests.size(); ++i) {
        EXPECT_EQ(HeaderValue(requests[i].head, "X-Vellumark-Session"), session) << "request " << i;
        EXPECT_EQ(requests[i].body, i % 2 == 0 ? "" : bodies[i / 2 - 1]) << "request " << i;
    }
    // The commit names the update the stage answered; the stage and the manifest none.
    EXPECT_EQ(HeaderValue(requests[7].head, "X-Vellumark-Update"), "u-17");
    EXPECT_EQ(HeaderValue(requests[3].head, "X-Vellumark-Update"), "");
    EXPECT_EQ(up->UpdateId(), "");

    // A book without a manifest: true with an empty text.
    StartPeer(R"({"replies": {"mani": ")" + LengthPrefixedJson("") + R"("}})");
    up = Connected();
    EXPECT_TRUE(up->FetchManifestHttp(kKey, text));
    EXPECT_EQ(text, "");

    // An older service knows none of the codes; a refusal says why. Every step fails.
    for (const char* answer : {"ERR:unknown request", "ERR:the book belongs to another account", ""}) {
        StartPeer(R"({"replies": {"mani": ")" + std::string(answer) + R"(", "stag": ")" + answer +
                  R"(", "comm": ")" + answer + R"("}})");
        up = Connected();
        text = "stale";
        EXPECT_FALSE(up->FetchManifestHttp(kKey, text)) << answer;
        EXPECT_EQ(text, "");
        EXPECT_FALSE(up->BeginUpdateHttp(kKey)) << answer;
        EXPECT_FALSE(up->CommitUpdateHttp(kKey, manifest)) << answer;
    }
}

TEST_F(UploaderHttpTest, MessagesThatGotNoAnswerAreSentAgainAndALostCommitsWorkIsFound) {
    const std::string manifest = "vellumark-book-manifest 1 " + kKey + "\n" + std::string(64, 'a') + " 5 txt.js\n";
    // The login, the stage and the commit each lose their first answer (requests 1, 5
    // and 9; even ones are probes), then the probe of an upload (14). The repeated commit
    // finds the update gone: the first one was done, as the live manifest shows, or it
    // was not, when the manifest is another.
    const auto script = [&](const std::string& live) {
        return R"({"shed_requests": [1, 5, 9, 14], "replies": {"logi": "42", "stag": "OK", "upld": "OK", "mani": ")" +
               LengthPrefixedJson(live) + R"(", "comm": "ERR:the update is no longer open"}})";
    };
    StartPeer(script(manifest));
    auto up = Connected();
    EXPECT_EQ(up->LoginHttpRepeatable("alice", "secret"), 42);
    EXPECT_TRUE(up->BeginUpdateHttp(kKey));
    EXPECT_TRUE(up->CommitUpdateHttp(kKey, manifest));
    const auto requests = peer_->Requests();
    ASSERT_EQ(requests.size(), 14u);
    for (size_t shed : {1u, 5u, 9u}) EXPECT_EQ(requests[shed + 2].body, requests[shed].body) << "request " << shed;
    EXPECT_EQ(requests[13].Code(), "mani");
    EXPECT_TRUE(up->upload_one_file_http(WriteSample("page.jpg", 1000), kKey, "HighRes"));
    ASSERT_EQ(peer_->Requests().size(), 17u);
    EXPECT_EQ(peer_->Requests()[16].Code(), "upld");

    StartPeer(script("vellumark-book-manifest 1 " + kKey + "\n"));
    up = Connected();
    ASSERT_EQ(up->LoginHttpRepeatable("alice", "secret"), 42);
    ASSERT_TRUE(up->BeginUpdateHttp(kKey));
    EXPECT_FALSE(up->CommitUpdateHttp(kKey, manifest)) << "another book is live: this commit was not done";

    // A refused login is answered, and not tried again.
    StartPeer(R"({"replies": {"logi": "0"}})");
    up = Connected();
    EXPECT_EQ(up->LoginHttpRepeatable("alice", "wrong"), 0);
    EXPECT_EQ(peer_->Requests().size(), 2u);
}
