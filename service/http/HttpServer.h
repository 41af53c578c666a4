// A small HTTP/1.1 server for the service: one thread reads every connection without
// blocking and with deadlines, and hands each whole request to a fixed pool of request
// threads. A connection that is idle, or sends its request slowly, therefore costs a
// descriptor and a few bytes but never a request thread, and is closed when its time is
// up; the other clients are answered meanwhile.
//
// What a client may take:
//   - its request head (request line and header fields, at most 16 KiB) within
//     `head_time` of its first byte (a new connection's first byte counts from the
//     connect; a kept connection may stay silent for `idle_time` between requests);
//   - its body (Content-Length only, at most `max_body_bytes`) within `body_time`;
//   - to read the answer: the connection is closed when no byte of it could be written
//     for `send_stall_time`.
// When `max_connections` are open, the connection that has waited longest for a request
// head makes room for the new one.
#pragma once

#include "service/http/HttpMessage.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace http {

struct ServerLimits {
    size_t max_body_bytes = 1024 * 1024;
    std::chrono::milliseconds head_time{10000};
    std::chrono::milliseconds idle_time{10000};
    std::chrono::milliseconds body_time{60000};
    std::chrono::milliseconds send_stall_time{30000};
    size_t max_connections = 1000;
    size_t request_threads = 8;
    size_t max_queued_requests = 512;
};

class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    HttpServer(Handler handler, ServerLimits limits);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on `address` (IPv4 or IPv6 literal) and `port` (0: a free one). The port
    // listened on, or -1 with `why` set.
    int Listen(const std::string& address, int port, std::string& why);
    // Serves until Stop(); false when the event loop could not run.
    bool Run();
    // Ends Run() soon; callable from any thread.
    void Stop();

private:
    struct Connection;
    struct Finished {
        uint64_t connection_id;
        std::string head;
        std::string body;
        int file_fd;
        int64_t file_size;
        bool close;
    };

    void Accept();
    void Evict();
    void OnReadable(Connection& connection);
    // Takes the requests whose bytes are complete; false when the connection is gone.
    bool Advance(Connection& connection);
    void Dispatch(Connection& connection);
    void QueueError(Connection& connection, int status, const std::string& why);
    void StartWrite(Connection& connection, Finished&& answer);
    // Writes what the socket takes; false when the connection was closed.
    bool Flush(Connection& connection);
    void FinishAnswer(Connection& connection);
    void Drain(Connection& connection);
    void CloseConnection(uint64_t id);
    void CheckDeadlines();
    void CollectFinished();
    void WorkerLoop();
    Finished Answer(uint64_t connection_id, const HttpRequest& request, bool keep_alive);
    void Watch(Connection& connection, uint32_t events);

    Handler handler_;
    ServerLimits limits_;
    int listen_fd_ = -1;
    const int epoll_fd_;
    const int wake_fd_;  // written to wake the event loop
    std::atomic<bool> stopping_{false};
    uint64_t next_id_ = 1;
    std::unordered_map<uint64_t, std::unique_ptr<Connection>> connections_;

    struct Job {
        uint64_t connection_id;
        HttpRequest request;
        bool keep_alive;
    };
    std::mutex jobs_mutex_;
    std::condition_variable jobs_ready_;
    std::deque<Job> jobs_;
    bool jobs_closed_ = false;
    std::mutex finished_mutex_;
    std::vector<Finished> finished_;
    std::vector<std::thread> workers_;
};

}  // namespace http
