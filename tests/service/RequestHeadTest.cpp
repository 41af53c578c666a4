// The service's reading of request heads: what it takes, and every framing it refuses
// before a body byte is read.
#include "service/http/RequestHead.h"

#include <gtest/gtest.h>

using http::HttpRequest;
using http::ParseRequestHead;

namespace {

http::HeadOutcome Parse(const std::string& head, HttpRequest& request, size_t max_body = 1024) {
    const size_t length = http::HeadLength(head);
    EXPECT_EQ(length, head.size()) << head;
    return ParseRequestHead(head, max_body, request);
}

int Status(const std::string& head) {
    HttpRequest request;
    return Parse(head, request).error_status;
}

}  // namespace

TEST(RequestHead, TakesRequestsAsClientsSendThem) {
    HttpRequest request;
    const auto outcome = Parse(
        "POST /vellumark/standalone.ashx HTTP/1.1\r\nHost: x\r\nContent-Length: 12\r\nX-Vellumark-Session:  ab \r\n\r\n",
        request);
    EXPECT_EQ(outcome.error_status, 0) << outcome.error;
    EXPECT_EQ(outcome.content_length, 12u);
    EXPECT_TRUE(outcome.keep_alive);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.Header("x-vellumark-session"), "ab");

    const auto get = Parse("GET /vellumark/books/a%20b/c?guid=K%2B1&x=a+b&&bad=%zz HTTP/1.0\n\n", request);
    EXPECT_EQ(get.error_status, 0);
    EXPECT_FALSE(get.keep_alive) << "HTTP/1.0 closes unless asked otherwise";
    EXPECT_EQ(request.path, "/vellumark/books/a b/c");
    EXPECT_EQ(request.Param("guid"), "K+1");
    EXPECT_EQ(request.Param("x"), "a b");
    EXPECT_FALSE(request.HasParam("bad"));
    EXPECT_FALSE(Parse("GET / HTTP/1.1\r\nConnection: close\r\n\r\n", request).keep_alive);
    EXPECT_EQ(http::HeadLength("GET / HTTP/1.1\r\nHost: x\r\n"), 0u) << "not complete yet";
}

TEST(RequestHead, RefusesFramingsThatCouldOutgrowTheLimit) {
    const std::string post = "POST /p HTTP/1.1\r\n";
    EXPECT_EQ(Status(post + "Transfer-Encoding: chunked\r\n\r\n"), 411);
    EXPECT_EQ(Status(post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n"), 411);
    EXPECT_EQ(Status(post + "Content-Length: 5\r\nContent-Encoding: gzip\r\n\r\n"), 415);
    EXPECT_EQ(Status(post + "\r\n"), 411) << "a body needs its length";
    EXPECT_EQ(Status(post + "Content-Length: 1025\r\n\r\n"), 413);
    EXPECT_EQ(Status(post + "Content-Length: 1024\r\n\r\n"), 0);
    EXPECT_EQ(Status(post + "Content-Length: 99999999999999999999999\r\n\r\n"), 400);
    EXPECT_EQ(Status(post + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n"), 400);
    EXPECT_EQ(Status(post + "Content-Length: -1\r\n\r\n"), 400);
    EXPECT_EQ(Status(post + "Content-Length: 5\r\n X: folded\r\n\r\n"), 400);
    EXPECT_EQ(Status(post + "Content-Length: 5\r\nX: a\x01" "b\r\n\r\n"), 400);
    EXPECT_EQ(Status("GET / HTTP/2.0\r\n\r\n"), 505);
    EXPECT_EQ(Status("GET http://x/ HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(Status("GET /%00 HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(Status("GET /%4 HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(Status("G(T / HTTP/1.1\r\n\r\n"), 400);
    std::string many = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 101; ++i) many += "X" + std::to_string(i) + ": y\r\n";
    EXPECT_EQ(Status(many + "\r\n"), 431);
}
