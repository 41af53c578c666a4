// The real vellumark-service program driven over HTTP on 127.0.0.1 as the desktop
// program drives it: accounts, login, version check, reference update, metadata,
// uploads, the published book's pages, and every refused input.
#include "ServiceFixture.h"
#include "tests/helpers/PostgresCluster.h"
#include "service/RequestParsers.h"
#include "tests/helpers/TempHome.h"

#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sqlite3.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
namespace bodies = service_bodies;

namespace {

const std::string kKey = "00112233445566778899AABBCCDDEEFF";
const std::string kOtherKey = "FFEEDDCCBBAA99887766554433221100";
const std::string kTitleChanged("OK\0" "5\0", 5);

std::string FormBody(const std::string& email, const std::string& password) {
    return "email=" + email + "&password=" + password;
}

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFileBytes(home_.Root() / "notice.txt", "show=1\nurl=http://example.invalid/news\n");
        service_ = std::make_unique<ServiceProcess>(
            Data(), std::vector<std::string>{"--latest-build", "201402020000", "--notice",
                                             (home_.Root() / "notice.txt").string()});
        ASSERT_TRUE(service_->Running()) << service_->FirstLine();
    }

    fs::path Root() const { return home_.Root() / "svc"; }
    fs::path Data() const { return Root() / "data"; }

    long CreateAccount(const std::string& email, const std::string& password) {
        return service_->Post("/createPubAccount.asp", FormBody(email, password), "application/x-www-form-urlencoded")
            .status;
    }
    long long Login(const std::string& email, const std::string& password) {
        const HttpResult reply = service_->Exchange(bodies::Login(email, password));
        EXPECT_EQ(reply.status, 200);
        return std::atoll(reply.body.c_str());
    }
    // An account, logged in, owning `key` with the given title.
    long long Publisher(const std::string& email, const std::string& key, const std::string& title = "Book") {
        EXPECT_EQ(CreateAccount(email, "secret1"), 200);
        const long long token = Login(email, "secret1");
        EXPECT_GT(token, 0);
        EXPECT_EQ(service_->Exchange(bodies::Metadata(key, token, title, "d", "t", "file.pdf")).body, "OK");
        return token;
    }

    TempHome home_;
    std::unique_ptr<ServiceProcess> service_;
};

// Every path below `folder`, relative to it.
std::vector<std::string> Tree(const fs::path& folder) {
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        paths.push_back(fs::relative(entry.path(), folder).string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Sends a request by hand: `head` with a Content-Length announcing more bytes than
// `body` has, then closes the sending side. What the service answered, if anything.
std::string SendShortBody(int port, const std::string& head, const std::string& body) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = head + body;
        (void)!::write(fd, request.data(), request.size());
        ::shutdown(fd, SHUT_WR);
        for (int round = 0; round < 100; ++round) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buffer[1024];
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0) break;
            reply.append(buffer, static_cast<size_t>(got));
        }
    }
    ::close(fd);
    return reply;
}

}  // namespace

TEST_F(ServiceTest, AccountPageCreatesAccountsAndRefusesBadForms) {
    const HttpResult form = service_->Get("/createPubAccount.asp");
    EXPECT_EQ(form.status, 200);
    EXPECT_NE(form.body.find("name=\"email\""), std::string::npos);

    const HttpResult created = service_->Post("/createPubAccount.asp", FormBody("%3Cb%3E%40x.org", "pw"),
                                              "application/x-www-form-urlencoded");
    EXPECT_EQ(created.status, 200);
    EXPECT_NE(created.body.find("&lt;b&gt;@x.org"), std::string::npos) << "the e-mail is escaped";
    EXPECT_EQ(created.body.find("<b>@"), std::string::npos);
    EXPECT_EQ(CreateAccount("%3Cb%3E%40x.org", "other"), 409);
    EXPECT_EQ(CreateAccount("%3CB%3E%40X.org", "other"), 409) << "e-mail addresses ignore case";

    EXPECT_EQ(service_->Post("/createPubAccount.asp", "email=a%40b.c", "application/x-www-form-urlencoded").status,
              400);
    EXPECT_EQ(CreateAccount("", "pw"), 400);
    EXPECT_EQ(CreateAccount("a%40b.c", ""), 400);
    EXPECT_EQ(CreateAccount(std::string(28, 'a') + "%40b.c", "pw"), 400) << "32 bytes do not fit a login field";
    EXPECT_EQ(CreateAccount(std::string(27, 'a') + "%40b.c", std::string(32, 'p')), 400);
    EXPECT_EQ(CreateAccount(std::string(27, 'a') + "%40b.c", std::string(31, 'p')), 200) << "31 bytes fit";
    EXPECT_EQ(CreateAccount("no-at-sign", "pw"), 400);
}

TEST_F(ServiceTest, LoginProbeAndVersionCheck) {
    ASSERT_EQ(CreateAccount("reader%40example.org", "right%20one"), 200);
    const HttpResult probe = service_->Post("/vellumark/standalone.ashx", "");
    EXPECT_EQ(probe.status, 200);
    EXPECT_TRUE(probe.body.empty());

    const long long first = Login("reader@example.org", "right one");
    const long long second = Login("READER@example.org", "right one");
    EXPECT_GT(first, 0);
    EXPECT_GT(second, 0);
    EXPECT_NE(first, second) << "each login opens a session of its own";
    EXPECT_EQ(Login("reader@example.org", "wrong"), 0);
    EXPECT_EQ(Login("nobody@example.org", "right one"), 0);
    EXPECT_EQ(service_->Exchange(bodies::Login("reader@example.org", "right one").substr(0, 60)).body, "0");

    EXPECT_EQ(service_->Exchange(bodies::VersionCheck("201302010343")).body, "201402020000");

    // The password is kept only as a salted hash.
    const std::string database = ReadFileBytes(Data() / "service.db") + ReadFileBytes(Data() / "service.db-wal");
    EXPECT_EQ(database.find("right one"), std::string::npos);
}

TEST_F(ServiceTest, ReferenceUpdateMakesAClientDatabaseEqual) {
    const fs::path reference = ProgramDir() / "DefaultCfg" / "data.db3";
    const fs::path client = home_.Root() / "client.db3";
    fs::copy_file(reference, client);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(client.c_str(), &db), SQLITE_OK);
    // An older client: rows missing, a row the service no longer has, a changed title.
    ASSERT_EQ(sqlite3_exec(db,
                           "DELETE FROM subcategory WHERE categoryID = 2; DELETE FROM category WHERE ID = 25;"
                           "INSERT INTO category VALUES (99, 'Gone', 2); INSERT INTO subcategory VALUES (9901, 'Gone', 99, 2);"
                           "UPDATE category SET title = 'Old ''name''' WHERE ID = 1;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    auto ids = [](sqlite3* handle, const char* sql) {
        std::vector<long long> list;
        sqlite3_stmt* row = nullptr;
        sqlite3_prepare_v2(handle, sql, -1, &row, nullptr);
        while (sqlite3_step(row) == SQLITE_ROW) list.push_back(sqlite3_column_int64(row, 0));
        sqlite3_finalize(row);
        return list;
    };
    const HttpResult reply = service_->Exchange(bodies::ReferenceIds(
        ids(db, "select ID from subcategory order by ID"), ids(db, "select ID from Category order by ID")));
    ASSERT_EQ(reply.status, 200);
    ASSERT_GT(reply.body.size(), 16u);
    ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(reply.body[0])));
    const size_t length = std::stoul(reply.body.substr(0, 16));
    ASSERT_EQ(reply.body.size(), 16 + length);

    // The client runs the text under an authorizer that allows changes of rows only.
    sqlite3_set_authorizer(
        db,
        [](void*, int action, const char* table, const char*, const char*, const char*) {
            const bool reference_table = table && (std::string(table) == "category" || std::string(table) == "subcategory");
            const bool allowed = action == SQLITE_INSERT || action == SQLITE_UPDATE || action == SQLITE_DELETE ||
                                 action == SQLITE_READ;
            return allowed && reference_table ? SQLITE_OK : SQLITE_DENY;
        },
        nullptr);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, reply.body.substr(16).c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_set_authorizer(db, nullptr, nullptr);

    sqlite3* service_db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(reference.c_str(), &service_db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    auto rows = [](sqlite3* handle, const char* sql) {
        std::vector<std::string> list;
        sqlite3_stmt* row = nullptr;
        sqlite3_prepare_v2(handle, sql, -1, &row, nullptr);
        while (sqlite3_step(row) == SQLITE_ROW) {
            std::string line;
            for (int i = 0; i < sqlite3_column_count(row); ++i)
                line += reinterpret_cast<const char*>(sqlite3_column_text(row, i)) + std::string("|");
            list.push_back(line);
        }
        sqlite3_finalize(row);
        return list;
    };
    for (const char* sql : {"select ID, title, status from category order by ID",
                            "select ID, Title, categoryID, status from subcategory order by ID"}) {
        const auto expected = rows(service_db, sql);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(rows(db, sql), expected) << sql;
    }
    sqlite3_close(service_db);
    sqlite3_close(db);

    EXPECT_NE(service_->Exchange("updt" + std::string("garbage\n") + std::string(8, '\0')).body.substr(0, 3), "OK");
}

TEST_F(ServiceTest, MetadataAndUploadsAreTiedToTheLoginOfTheOwner) {
    const long long token = Publisher("owner@x.org", kKey, "First title");
    const std::string first_key = service_->SessionKey();
    EXPECT_EQ(first_key.size(), 64u);
    // A blank title gets the PDF's name and the client hears so (status 5).
    EXPECT_EQ(service_->Exchange(bodies::Metadata(kOtherKey, token, "", "d", "t", "Annual Report.pdf")).body,
              kTitleChanged);
    EXPECT_NE(service_->Get("/vellumark/booklet.asp?guid=" + kOtherKey).body.find("Annual Report"), std::string::npos);

    // A forged session number, and another account's book, are refused.
    EXPECT_EQ(service_->Exchange(bodies::Metadata(kKey, token ^ 1, "Forged", "d", "t", "f.pdf")).body.substr(0, 4),
              "ERR:");
    ASSERT_EQ(CreateAccount("intruder%40x.org", "pw"), 200);
    const long long intruder = Login("intruder@x.org", "pw");
    const std::string intruder_key = service_->SessionKey();
    EXPECT_EQ(service_->Exchange(bodies::Metadata(kKey, intruder, "Taken", "d", "t", "f.pdf")).body.substr(0, 4),
              "ERR:");
    EXPECT_EQ(service_->Exchange(bodies::Metadata(kKey, token, "Taken", "d", "t", "f.pdf")).body.substr(0, 4), "ERR:")
        << "the owner's session number with another login's key";
    EXPECT_NE(service_->Get("/vellumark/booklet.asp?guid=" + kKey).body.find("First title"), std::string::npos);

    // The owner logs in again from the same address; another client there (a second
    // user behind the same router or proxy) with its own login, or with none, still
    // cannot put a file into the owner's book.
    const long long again = Login("owner@x.org", "secret1");
    EXPECT_GT(again, 0);
    for (const std::string& key : {intruder_key, std::string(), std::string(64, '0'), std::string("x\r\nX: y")}) {
        service_->SetSessionKey(key);
        EXPECT_EQ(service_->Exchange(bodies::Upload(kKey, "index.js", "", "x")).body.substr(0, 4), "ERR:") << key;
        EXPECT_EQ(service_->Exchange(bodies::Upload(kKey, "img-1.jpg", "thumb", "x")).body.substr(0, 4), "ERR:") << key;
    }
    EXPECT_FALSE(fs::exists(Data() / "books" / kKey / "thumb"));
    EXPECT_FALSE(fs::exists(Data() / "books" / kKey / "index.js"));

    // Each of the owner's live logins works with its own key.
    service_->SetSessionKey(first_key);
    EXPECT_EQ(service_->Exchange(bodies::Upload(kKey, "img-1.jpg", "thumb", "x")).body, "OK");
    EXPECT_EQ(service_->Exchange(bodies::Metadata(kKey, token, "Second title", "d", "t", "f.pdf")).body, "OK")
        << "an earlier session of the owner still sends metadata";
    // The owner may change the book's metadata.
    EXPECT_EQ(service_->Exchange(bodies::Metadata(kKey, token, "Second title", "d", "t", "f.pdf")).body, "OK");
    EXPECT_NE(service_->Get("/vellumark/booklet.asp?guid=" + kKey).body.find("Second title"), std::string::npos);
    // A key that is not 32 upper-case hexadecimal digits.
    EXPECT_NE(service_->Exchange(bodies::Metadata("00112233445566778899aabbccddeeff", token, "x", "", "", "f.pdf")).body,
              "OK");
}

TEST_F(ServiceTest, ChunkedUploadIsReassembledByteForByte) {
    Publisher("owner@x.org", kKey);
    const std::string pdf = RandomBytes(100000, 1);  // 49152 + 49152 + 1696
    EXPECT_EQ(bodies::UploadFile(*service_, kKey, "file.pdf", "", pdf).body, "OK");
    EXPECT_EQ(ReadFileBytes(Data() / "books" / kKey / "file.pdf"), pdf);

    const std::string exact = RandomBytes(49152, 2);  // one request, no chunk fields
    EXPECT_EQ(bodies::UploadFile(*service_, kKey, "img-1.jpg", "100", exact).body, "OK");
    EXPECT_EQ(ReadFileBytes(Data() / "books" / kKey / "100" / "img-1.jpg"), exact);

    const std::string multiple = RandomBytes(3 * 1024, 3);  // a last chunk that is full
    EXPECT_EQ(bodies::UploadFile(*service_, kKey, "img-2.png", "", multiple, 1).body, "OK");
    EXPECT_EQ(ReadFileBytes(Data() / "books" / kKey / "img-2.png"), multiple);

    // The last chunk sent again (its answer was lost) is taken; a chunk of a finished
    // file is not written into it; a new upload of the file replaces it.
    const std::vector<std::string> size = {bodies::FileSizeHeader(multiple.size())};
    EXPECT_EQ(service_->Exchange(bodies::Upload(kKey, "img-2.png", "", multiple.substr(2048), 2, 1), size).body, "OK");
    EXPECT_NE(service_->Exchange(bodies::Upload(kKey, "img-2.png", "", multiple.substr(1024, 1024), 1, 1), size).body,
              "OK");
    EXPECT_EQ(ReadFileBytes(Data() / "books" / kKey / "img-2.png"), multiple);
    EXPECT_EQ(bodies::UploadFile(*service_, kKey, "img-2.png", "", "short").body, "OK");
    EXPECT_EQ(ReadFileBytes(Data() / "books" / kKey / "img-2.png"), "short");

    // Chunks must say how large the whole file is, and not pass it.
    EXPECT_NE(service_->Exchange(bodies::Upload(kKey, "nosize.pdf", "", "x", 0, 1)).body, "OK");
    EXPECT_NE(service_->Exchange(bodies::Upload(kKey, "over.pdf", "", "xy", 0, 1), {bodies::FileSizeHeader(1)}).body,
              "OK");

    // A chunk whose predecessors never arrived is refused.
    EXPECT_NE(service_->Exchange(bodies::Upload(kKey, "late.pdf", "", "x", 3, 48)).body, "OK");
    EXPECT_FALSE(fs::exists(Data() / "books" / kKey / "late.pdf"));
}

TEST_F(ServiceTest, BadInputsAreRefusedAndNothingLandsOutsideTheBook) {
    Publisher("owner@x.org", kKey);
    const fs::path outside = Root() / "escape.txt";
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"name ..", bodies::Upload(kKey, "..", "", "x")},
        {"name ../", bodies::Upload(kKey, "../../escape.txt", "", "x")},
        {"absolute name", bodies::Upload(kKey, outside.string(), "", "x")},
        {"backslash", bodies::Upload(kKey, "..\\..\\escape.txt", "", "x")},
        {"empty name", bodies::Upload(kKey, "", "", "x")},
        {"NUL in name", bodies::Upload(kKey, std::string("a\0b", 3), "", "x")},
        {"hidden name", bodies::Upload(kKey, ".tmp-1", "", "x")},
        {"folder ..", bodies::Upload(kKey, "escape.txt", "../..", "x")},
        {"folder path", bodies::Upload(kKey, "escape.txt", "HighRes/../..", "x")},
        {"unknown folder", bodies::Upload(kKey, "escape.txt", "tmp", "x")},
        {"key path", bodies::Upload("../../../../../../../../escape.txt", "x", "", "x").substr(0, 36) +
                         bodies::Upload(kKey, "x", "", "x").substr(36)},
        {"no such book", bodies::Upload(kOtherKey, "x", "", "x")},
        {"length not a number", [] {
             std::string body = bodies::Upload(kKey, "a.jpg", "", "x");
             body.replace(36, 8, std::string("1O\0\0\0\0\0\0", 8));
             return body;
         }()},
        {"header past the body", [] {
             std::string body = bodies::Upload(kKey, "a.jpg", "", "x");
             body.replace(36, 8, std::string("4096\0\0\0\0", 8));
             return body;
         }()},
        {"chunk larger than announced", bodies::Upload(kKey, "a.jpg", "", std::string(2049, 'x'), 0, 2)},
        {"whole file over the largest chunk",
         bodies::Upload(kKey, "a.jpg", "", std::string(service::kMaxChunkKiB * 1024 + 1, 'x'))},
        {"unknown code", "xxxx" + bodies::Upload(kKey, "a.jpg", "", "x").substr(4)},
        {"short code", "up"},
        {"metadata of a bad key", bodies::Metadata("../../escape.txt", 1, "t", "", "", "f.pdf")},
    };
    for (const auto& [what, body] : bad) {
        const HttpResult reply = service_->Exchange(body);
        EXPECT_EQ(reply.status, 200) << what;
        EXPECT_NE(reply.body.substr(0, 2), "OK") << what;
    }

    // A body over the size limit, and one shorter than its announced length.
    const HttpResult huge = service_->Exchange(bodies::Upload(kKey, "big.pdf", "", std::string(2 << 20, 'x')));
    EXPECT_EQ(huge.status, 413);
    EXPECT_NE(huge.body.substr(0, 2), "OK");
    const std::string upload = bodies::Upload(kKey, "short.pdf", "", "abc");
    const std::string cut = SendShortBody(service_->Port(),
                                          "POST /vellumark/standalone.ashx HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                                              std::to_string(upload.size() + 500) + "\r\n\r\n",
                                          upload);
    EXPECT_EQ(cut.find("\r\n\r\nOK"), std::string::npos) << cut;

    // The service still answers, and only the book's own files exist.
    EXPECT_EQ(service_->Exchange(bodies::VersionCheck("1")).body, "201402020000");
    EXPECT_FALSE(fs::exists(outside));
    // On a shared database the folder holds no database, and each service process
    // makes its pages in a folder of its own.
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::vector<std::string> expected =
        TestsUsePostgres()
            ? std::vector<std::string>{"data", "data/books", "data/books/" + kKey, "data/tmp",
                                       "data/tmp/" + std::string(host) + "-" + std::to_string(service_->Pid())}
            : std::vector<std::string>{"data",         "data/books",         "data/books/" + kKey,
                                       "data/service.db",    "data/service.db-shm", "data/service.db-wal",
                                       "data/service.lock", "data/tmp"};
    EXPECT_EQ(Tree(Root()), expected);
}

TEST_F(ServiceTest, ConcurrentUploadsOfTwoBooksStayIntact) {
    const long long token = Publisher("owner@x.org", kKey);
    ASSERT_EQ(service_->Exchange(bodies::Metadata(kOtherKey, token, "Other", "d", "t", "o.pdf")).body, "OK");
    const std::string first = RandomBytes(400000, 4);
    const std::string second = RandomBytes(300000, 5);
    HttpResult first_reply, second_reply;
    std::thread a([&] { first_reply = bodies::UploadFile(*service_, kKey, "file.pdf", "", first, 16); });
    std::thread b([&] { second_reply = bodies::UploadFile(*service_, kOtherKey, "file.pdf", "", second, 16); });
    a.join();
    b.join();
    EXPECT_EQ(first_reply.body, "OK");
    EXPECT_EQ(second_reply.body, "OK");
    EXPECT_EQ(ReadFileBytes(Data() / "books" / kKey / "file.pdf"), first);
    EXPECT_EQ(ReadFileBytes(Data() / "books" / kOtherKey / "file.pdf"), second);
}

TEST_F(ServiceTest, PublishedBookPageAndItsFiles) {
    const long long token = Publisher("owner@x.org", kKey, "Tom & Jerry <3");
    ASSERT_EQ(service_->Exchange(bodies::Metadata(kKey, token, "Tom & Jerry <3", "Say \"hi\" <b>now</b>",
                                                  "cats, 'mice'", "file.pdf"))
                  .body,
              "OK");
    const std::string image = FakeJpeg(60000, 6);
    const std::string thumb = FakeJpeg(3000, 7);
    const std::string cover = FakeJpeg(4000, 8);
    ASSERT_EQ(bodies::UploadFile(*service_, kKey, "img-1.jpg", "HighRes", image).body, "OK");
    ASSERT_EQ(bodies::UploadFile(*service_, kKey, "img-1-e.jpg", "thumb", thumb).body, "OK");
    ASSERT_EQ(bodies::UploadFile(*service_, kKey, "img-1-e-cover.jpg", "thumb", cover).body, "OK");

    // The desktop program opens booklet.asp?guid=KEY; it leads to the book's own folder.
    const HttpResult redirect = service_->Get("/vellumark/booklet.asp?guid=" + kKey, false);
    EXPECT_EQ(redirect.status, 302);
    EXPECT_EQ(service_->Get("/vellumark/books/" + kKey).status, 200) << "the folder address without its slash";
    const HttpResult page = service_->Get("/vellumark/booklet.asp?guid=" + kKey);
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(page.content_type, "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("Tom &amp; Jerry &lt;3"), std::string::npos);
    EXPECT_EQ(page.body.find("Jerry <3"), std::string::npos);
    EXPECT_NE(page.body.find("data-book=\"" + kKey + "\""), std::string::npos);
    EXPECT_NE(page.body.find("HighRes 300 200"), std::string::npos) << "the stored image's size";

    // Link previews: the owner's description and tags escaped as the title is, the book's
    // address as the reader asked for it, and a cover address that serves the cover.
    const std::string description = "Say &quot;hi&quot; &lt;b&gt;now&lt;/b&gt;";
    const std::string address = service_->BaseUrl() + "/vellumark/books/" + kKey + "/";
    for (const std::string& tag :
         {"<meta name=\"description\" content=\"" + description + "\">",
          "<meta property=\"og:description\" content=\"" + description + "\">",
          std::string("<meta name=\"keywords\" content=\"cats, &#39;mice&#39;\">"),
          "<meta property=\"og:url\" content=\"" + address + "\">", "<link rel=\"canonical\" href=\"" + address + "\">"})
        EXPECT_NE(page.body.find(tag), std::string::npos) << tag << "\n" << page.body.substr(0, 3000);
    EXPECT_EQ(page.body.find("<b>now"), std::string::npos);
    const std::string image_tag = "<meta property=\"og:image\" content=\"";
    const size_t image_at = page.body.find(image_tag);
    ASSERT_NE(image_at, std::string::npos);
    const size_t image_from = image_at + image_tag.size();
    const std::string cover_address = page.body.substr(image_from, page.body.find('"', image_from) - image_from);
    ASSERT_EQ(cover_address.rfind(service_->BaseUrl() + "/", 0), 0u) << cover_address;
    const HttpResult served_cover = service_->Get(cover_address.substr(service_->BaseUrl().size()));
    EXPECT_EQ(served_cover.status, 200);
    EXPECT_EQ(served_cover.content_type, "image/jpeg");
    EXPECT_EQ(served_cover.body, cover);
    // A Host that is no host name names no address; a scheme claimed by a reader (not a
    // trusted proxy) is not believed.
    const std::string get = "GET /vellumark/books/" + kKey + "/ HTTP/1.1\r\nConnection: close\r\n";
    const std::string forged = SendShortBody(service_->Port(), get + "Host: x\"><script>alert(1)</script>\r\n\r\n", "");
    EXPECT_NE(forged.find("og:title"), std::string::npos) << forged.substr(0, 300);
    EXPECT_EQ(forged.find("og:url"), std::string::npos);
    EXPECT_EQ(forged.find("<script>alert"), std::string::npos);
    const std::string named =
        SendShortBody(service_->Port(), get + "Host: Books.Example.org:8080\r\nX-Forwarded-Proto: https\r\n\r\n", "");
    EXPECT_NE(named.find("<link rel=\"canonical\" href=\"http://books.example.org:8080/vellumark/books/" + kKey + "/\">"),
              std::string::npos)
        << named.substr(0, 300);

    // The page's relative addresses: its images beside it, shared files one folder up.
    const std::string base = "/vellumark/books/" + kKey + "/";
    const HttpResult stored = service_->Get(base + "HighRes/img-1.jpg");
    EXPECT_EQ(stored.status, 200);
    EXPECT_EQ(stored.content_type, "image/jpeg");
    EXPECT_EQ(stored.body, image);
    EXPECT_EQ(service_->Get(base + "thumb/img-1-e.jpg").body, thumb);
    const fs::path upload = ProgramDir() / "DefaultCfg" / "Upload";
    EXPECT_EQ(service_->Get("/vellumark/books/index.js").body, ReadFileBytes(upload / "index.js"));
    EXPECT_EQ(service_->Get("/vellumark/books/skins/2/skin.js").status, 200);

    EXPECT_EQ(service_->Get("/vellumark/booklet.asp?guid=" + kOtherKey).status, 404);
    EXPECT_EQ(service_->Get("/vellumark/booklet.asp").status, 404);
    EXPECT_EQ(service_->Get(base + "HighRes/img-9.jpg").status, 404);
    EXPECT_EQ(service_->Get("/vellumark/books/%2e%2e/%2e%2e/data/service.db").status, 404);
    EXPECT_EQ(service_->Get(base + "%2e%2e/%2e%2e/service.db").status, 404);
    EXPECT_EQ(service_->Get("/vellumark/books/booklet.asp").status, 404) << "the template is not content";
    const HttpResult opener = service_->Get("/vellumark/books/service.asp");
    EXPECT_EQ(opener.status, 200);
    EXPECT_EQ(opener.content_type, "text/html; charset=utf-8");

    const HttpResult notice = service_->Get("/vellumark/corvanenotifier.aspx?ver=1.3bld=201302010343");
    EXPECT_EQ(notice.status, 200);
    EXPECT_EQ(notice.body, "show=1\nurl=http://example.invalid/news\n");
}

TEST(ServiceProgram, StartsStopsAndReportsStartFailures) {
    TempHome home;
    ServiceProcess first(home.Root() / "a");
    ASSERT_TRUE(first.Running()) << first.FirstLine();
    EXPECT_EQ(first.FirstLine(), "vellumark-service: listening on http://127.0.0.1:" + std::to_string(first.Port()) + "/");
    // The notifier says nothing without a notice file.
    const HttpResult notice = first.Get("/vellumark/corvanenotifier.aspx");
    EXPECT_EQ(notice.status, 200);
    EXPECT_TRUE(notice.body.empty());

    std::string error;
    EXPECT_NE(RunServiceExpectingFailure({"--data", (home.Root() / "b").string(), "--listen", "127.0.0.1", "--port",
                                          std::to_string(first.Port())},
                                         error),
              0);
    EXPECT_NE(error.find("cannot listen"), std::string::npos) << error;
    // One service on an SQLite file has its data folder to itself (service processes on
    // one PostgreSQL database share theirs).
    if (!TestsUsePostgres()) {
        EXPECT_NE(RunServiceExpectingFailure({"--data", (home.Root() / "a").string(), "--listen", "127.0.0.1", "--port",
                                              "0"},
                                             error),
                  0);
        EXPECT_NE(error.find("in use"), std::string::npos) << error;
    }
    WriteFileBytes(home.Root() / "file", "x");
    EXPECT_NE(RunServiceExpectingFailure({"--data", (home.Root() / "file").string(), "--port", "0"}, error), 0);
    EXPECT_NE(error.find("unusable"), std::string::npos) << error;
    EXPECT_NE(RunServiceExpectingFailure({"--data", (home.Root() / "c").string(), "--port", "0", "--reference",
                                          (home.Root() / "missing.db3").string()},
                                         error),
              0);
    EXPECT_NE(RunServiceExpectingFailure({"--port", "0"}, error), 0);

    EXPECT_EQ(first.Stop(SIGTERM), 0);
    ServiceProcess second(home.Root() / "a");
    ASSERT_TRUE(second.Running());
    EXPECT_EQ(second.Stop(SIGINT), 0);
}
