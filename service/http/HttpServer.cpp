#include "service/http/HttpServer.h"

#include "config/DiagLog.h"
#include "service/http/RequestHead.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace http {
namespace {

constexpr const char* kModule = "HttpServer";
constexpr uint64_t kListenId = 0;
constexpr uint64_t kWakeId = UINT64_MAX;
// How often deadlines are looked at; a deadline is kept to within this much.
constexpr int kTickMs = 100;
constexpr size_t kReadChunk = 64 * 1024;
// How long a connection that is to end reads on to let its answer arrive, and how much.
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr size_t kDrainBytes = 4 * 1024 * 1024;

using Clock = std::chrono::steady_clock;

std::string PeerText(const sockaddr_storage& peer) {
    char text[INET6_ADDRSTRLEN] = {};
    if (peer.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof text);
    } else if (peer.ss_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, text, sizeof text);
    }
    std::string address = text;
    // An IPv4 client of a dual-stack socket is named as IPv4.
    if (address.rfind("::ffff:", 0) == 0 && address.find('.') != std::string::npos) address.erase(0, 7);
    return address;
}

std::string HeadText(int status, const HttpResponse& response, int64_t length, bool close) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) + "\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    head += "Content-Length: " + std::to_string(length) + "\r\n";
    if (close) head += "Connection: close\r\n";
    return head + "\r\n";
}

}  // namespace

struct HttpServer::Connection {
    // Draining: the answer that ends the connection is out; what the client still sends
    // is read and dropped for a moment, so that closing does not reset the connection
    // before the client has read the answer.
    enum class State { Head, Body, Handling, Writing, Draining };
    uint64_t id = 0;
    int fd = -1;
    std::string peer;
    State state = State::Head;
    std::string input;        // bytes read and not yet taken by a request
    Clock::time_point deadline;
    Clock::time_point waiting_since;  // when the current wait for a request began
    bool got_byte = false;    // a byte of the current request head arrived
    HttpRequest request;      // the request whose body is being read
    HeadOutcome head;
    size_t head_length = 0;
    // The answer being written.
    std::string output;
    size_t output_sent = 0;
    int file_fd = -1;
    int64_t file_left = 0;
    off_t file_offset = 0;
    bool close_after = false;
    size_t drained = 0;
    uint32_t watched = 0;

    ~Connection() {
        if (file_fd >= 0) ::close(file_fd);
        if (fd >= 0) ::close(fd);
    }
};

HttpServer::HttpServer(Handler handler, ServerLimits limits)
    : handler_(std::move(handler)),
      limits_(limits),
      epoll_fd_(::epoll_create1(EPOLL_CLOEXEC)),
      wake_fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

HttpServer::~HttpServer() {
    {
        std::lock_guard<std::mutex> guard(jobs_mutex_);
        jobs_closed_ = true;
    }
    jobs_ready_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    for (Finished& answer : finished_)
        if (answer.file_fd >= 0) ::close(answer.file_fd);
    connections_.clear();
    if (listen_fd_ >= 0) ::close(listen_fd_);
    if (epoll_fd_ >= 0) ::close(epoll_fd_);
    if (wake_fd_ >= 0) ::close(wake_fd_);
}

int HttpServer::Listen(const std::string& address, int port, std::string& why) {
    sockaddr_storage where{};
    socklen_t where_size = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&where);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&where);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        where_size = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        where_size = sizeof *v6;
    } else {
        why = "not an IP address: " + address;
        return -1;
    }
    listen_fd_ = ::socket(where.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // SO_REUSEADDR only (not SO_REUSEPORT): a second service must not share a taken port.
    int yes = 1;
    if (listen_fd_ < 0 || ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&where), where_size) != 0 || ::listen(listen_fd_, 512) != 0) {
        why = std::strerror(errno);
        return -1;
    }
    socklen_t size = sizeof where;
    if (::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&where), &size) != 0) {
        why = std::strerror(errno);
        return -1;
    }
    return ntohs(where.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
}

void HttpServer::Stop() {
    stopping_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_fd_, &one, sizeof one);
}

void HttpServer::Watch(Connection& connection, uint32_t events) {
    if (connection.watched == events) return;
    epoll_event event{};
    event.events = events;
    event.data.u64 = connection.id;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, connection.fd, &event);
    connection.watched = events;
}

bool HttpServer::Run() {
    if (listen_fd_ < 0 || epoll_fd_ < 0 || wake_fd_ < 0) return false;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kListenId;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, listen_fd_, &event);
    event.data.u64 = kWakeId;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &event);
    for (size_t i = 0; i < limits_.request_threads; ++i) workers_.emplace_back([this] { WorkerLoop(); });

    epoll_event events[256];
    while (!stopping_) {
        const int count = ::epoll_wait(epoll_fd_, events, 256, kTickMs);
        if (count < 0 && errno != EINTR) {
            DIAG(kModule, errno, "ERR:the event loop failed");
            return false;
        }
        for (int i = 0; i < count; ++i) {
            const uint64_t id = events[i].data.u64;
            if (id == kListenId) {
                Accept();
                continue;
            }
            if (id == kWakeId) {
                uint64_t value = 0;
                [[maybe_unused]] const ssize_t ignored = ::read(wake_fd_, &value, sizeof value);
                CollectFinished();
                continue;
            }
            const auto found = connections_.find(id);
            if (found == connections_.end()) continue;
            Connection& connection = *found->second;
            if (connection.state == Connection::State::Writing) {
                if (events[i].events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) Flush(connection);
            } else if (connection.state == Connection::State::Draining) {
                Drain(connection);
            } else if (connection.state == Connection::State::Handling) {
                // Gone while its request is handled: the answer is dropped when it comes.
                if (events[i].events & (EPOLLERR | EPOLLHUP)) CloseConnection(id);
            } else if (events[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP)) {
                OnReadable(connection);
            }
        }
        CheckDeadlines();
    }
    return true;
}

void HttpServer::Accept() {
    while (true) {
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors: make room and let the pending connection wait in the backlog.
            if (errno == EMFILE || errno == ENFILE) Evict();
            return;
        }
        if (connections_.size() >= limits_.max_connections) Evict();
        if (connections_.size() >= limits_.max_connections) {
            ::close(fd);
            continue;
        }
        // An answer goes out as head and body in separate writes: without this the body
        // would wait for the client's delayed acknowledgement.
        int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        auto connection = std::make_unique<Connection>();
        connection->id = next_id_++;
        connection->fd = fd;
        connection->peer = PeerText(peer);
        connection->waiting_since = Clock::now();
        connection->deadline = connection->waiting_since + limits_.head_time;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = connection->id;
        if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event) != 0) continue;  // closed by the destructor
        connection->watched = EPOLLIN;
        connections_.emplace(connection->id, std::move(connection));
    }
}

void HttpServer::Evict() {
    Connection* oldest = nullptr;
    for (auto& [id, connection] : connections_) {
        if (connection->state != Connection::State::Head) continue;
        if (!oldest || connection->waiting_since < oldest->waiting_since) oldest = connection.get();
    }
    if (oldest) CloseConnection(oldest->id);
}

void HttpServer::OnReadable(Connection& connection) {
    char buffer[kReadChunk];
    // Reads only what the current stage may still take, so a flood is never buffered.
    while (connection.state == Connection::State::Head || connection.state == Connection::State::Body) {
        const ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            CloseConnection(connection.id);
            return;
        }
        if (got < 0) return;
        connection.input.append(buffer, static_cast<size_t>(got));
        if (!Advance(connection)) return;
        if (connection.input.size() > kMaxHeadBytes + limits_.max_body_bytes) break;
    }
}

bool HttpServer::Advance(Connection& connection) {
    if (connection.state == Connection::State::Head) {
        if (!connection.input.empty() && !connection.got_byte) {
            connection.got_byte = true;
            connection.deadline = std::min(connection.deadline, Clock::now() + limits_.head_time);
        }
        const size_t length = HeadLength(connection.input);
        if (length == 0) {
            if (connection.input.size() <= kMaxHeadBytes) return true;
            QueueError(connection, 431, "the request head is too large");
            return false;
        }
        if (length > kMaxHeadBytes) {
            QueueError(connection, 431, "the request head is too large");
            return false;
        }
        connection.request = HttpRequest{};
        connection.head = ParseRequestHead(std::string_view(connection.input).substr(0, length),
                                           limits_.max_body_bytes, connection.request);
        connection.head_length = length;
        if (connection.head.error_status != 0) {
            QueueError(connection, connection.head.error_status, connection.head.error);
            return false;
        }
        connection.state = Connection::State::Body;
        connection.deadline = Clock::now() + limits_.body_time;
        if (connection.head.expect_continue && connection.input.size() - length < connection.head.content_length) {
            static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
            [[maybe_unused]] const ssize_t ignored = ::send(connection.fd, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL);
        }
    }
    if (connection.state == Connection::State::Body) {
        const size_t need = connection.head_length + connection.head.content_length;
        if (connection.input.size() < need) return true;
        connection.request.body = connection.input.substr(connection.head_length, connection.head.content_length);
        connection.input.erase(0, need);
        connection.request.peer_address = connection.peer;
        Dispatch(connection);
    }
    return false;
}

void HttpServer::Dispatch(Connection& connection) {
    connection.state = Connection::State::Handling;
    Watch(connection, 0);
    {
        std::lock_guard<std::mutex> guard(jobs_mutex_);
        if (jobs_.size() < limits_.max_queued_requests) {
            jobs_.push_back(Job{connection.id, std::move(connection.request), connection.head.keep_alive});
            jobs_ready_.notify_one();
            return;
        }
    }
    HttpResponse busy;
    busy.status = 503;
    busy.SetHeader("Retry-After", "1");
    busy.SetContent("ERR:the service is busy, try again\n", "text/plain");
    StartWrite(connection, Finished{connection.id, HeadText(503, busy, static_cast<int64_t>(busy.body.size()), true),
                                    busy.body, -1, 0, true});
}

void HttpServer::QueueError(Connection& connection, int status, const std::string& why) {
    DIAG(kModule, 0, "INF:refused a request from %s: %d %s", connection.peer.c_str(), status, why.c_str());
    HttpResponse error;
    error.status = status;
    error.SetContent("ERR:" + why + "\n", "text/plain");
    error.SetHeader("X-Content-Type-Options", "nosniff");
    // The rest of what the client sent is not read: the connection ends with the answer.
    StartWrite(connection, Finished{connection.id, HeadText(status, error, static_cast<int64_t>(error.body.size()), true),
                                    error.body, -1, 0, true});
}

HttpServer::Finished HttpServer::Answer(uint64_t connection_id, const HttpRequest& request, bool keep_alive) {
    HttpResponse response;
    try {
        response = handler_(request);
    } catch (const std::exception& error) {
        DIAG(kModule, 0, "ERR:a request failed: %s", error.what());
        response = HttpResponse{};
        response.status = 500;
        response.SetContent("ERR:internal error\n", "text/plain");
    }
    const bool close = response.close || !keep_alive;
    const bool head_only = request.method == "HEAD";
    Finished answer{connection_id, std::string(), std::string(), -1, 0, close};
    if (!response.file.empty()) {
        answer.file_fd = ::open(response.file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat info {};
        if (answer.file_fd < 0 || ::fstat(answer.file_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            if (answer.file_fd >= 0) ::close(answer.file_fd);
            answer.file_fd = -1;
            response = HttpResponse{};
            response.status = 404;
            response.SetContent("not found\n", "text/plain; charset=utf-8");
        } else {
            answer.file_size = info.st_size;
        }
    }
    const int64_t length = answer.file_fd >= 0 ? answer.file_size : static_cast<int64_t>(response.body.size());
    answer.head = HeadText(response.status, response, length, close);
    if (head_only) {
        if (answer.file_fd >= 0) ::close(answer.file_fd);
        answer.file_fd = -1;
    } else if (answer.file_fd < 0) {
        answer.body = std::move(response.body);
    }
    return answer;
}

void HttpServer::WorkerLoop() {
    while (true) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(jobs_mutex_);
            jobs_ready_.wait(lock, [this] { return jobs_closed_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        Finished answer = Answer(job.connection_id, job.request, job.keep_alive);
        {
            std::lock_guard<std::mutex> guard(finished_mutex_);
            finished_.push_back(std::move(answer));
        }
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wake_fd_, &one, sizeof one);
    }
}

void HttpServer::CollectFinished() {
    std::vector<Finished> ready;
    {
        std::lock_guard<std::mutex> guard(finished_mutex_);
        ready.swap(finished_);
    }
    for (Finished& answer : ready) {
        const auto found = connections_.find(answer.connection_id);
        if (found == connections_.end()) {
            if (answer.file_fd >= 0) ::close(answer.file_fd);
            continue;
        }
        StartWrite(*found->second, std::move(answer));
    }
}

void HttpServer::StartWrite(Connection& connection, Finished&& answer) {
    connection.state = Connection::State::Writing;
    connection.output = std::move(answer.head);
    connection.output += answer.body;
    connection.output_sent = 0;
    connection.file_fd = answer.file_fd;
    connection.file_left = answer.file_fd >= 0 ? answer.file_size : 0;
    connection.file_offset = 0;
    connection.close_after = answer.close;
    connection.deadline = Clock::now() + limits_.send_stall_time;
    Flush(connection);
}

bool HttpServer::Flush(Connection& connection) {
    const uint64_t id = connection.id;
    while (connection.output_sent < connection.output.size() || connection.file_left > 0) {
        ssize_t sent = 0;
        if (connection.output_sent < connection.output.size()) {
            sent = ::send(connection.fd, connection.output.data() + connection.output_sent,
                          connection.output.size() - connection.output_sent, MSG_NOSIGNAL);
            if (sent > 0) connection.output_sent += static_cast<size_t>(sent);
        } else {
            sent = ::sendfile(connection.fd, connection.file_fd, &connection.file_offset,
                              static_cast<size_t>(std::min<int64_t>(connection.file_left, 1 << 20)));
            if (sent > 0) connection.file_left -= sent;
            // A file that shrank while it was sent cannot be completed.
            if (sent == 0) {
                CloseConnection(connection.id);
                return false;
            }
        }
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                Watch(connection, EPOLLOUT);
                return true;
            }
            CloseConnection(connection.id);
            return false;
        }
        connection.deadline = Clock::now() + limits_.send_stall_time;
    }
    // Ends or resets the connection, and may take a request that was sent ahead.
    FinishAnswer(connection);
    return connections_.count(id) != 0;
}

void HttpServer::FinishAnswer(Connection& connection) {
    if (connection.close_after) {
        ::shutdown(connection.fd, SHUT_WR);
        connection.state = Connection::State::Draining;
        connection.input.clear();
        connection.input.shrink_to_fit();
        connection.deadline = Clock::now() + kDrainTime;
        Watch(connection, EPOLLIN);
        return;
    }
    if (connection.file_fd >= 0) ::close(connection.file_fd);
    connection.file_fd = -1;
    connection.output.clear();
    connection.output.shrink_to_fit();
    connection.state = Connection::State::Head;
    connection.got_byte = false;
    connection.waiting_since = Clock::now();
    connection.deadline = connection.waiting_since + limits_.idle_time;
    Watch(connection, EPOLLIN);
    // A request sent before this answer went out (pipelining) is taken now.
    if (!connection.input.empty()) Advance(connection);
}

void HttpServer::Drain(Connection& connection) {
    char buffer[kReadChunk];
    while (true) {
        const ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        connection.drained += got > 0 ? static_cast<size_t>(got) : 0;
        if (got <= 0 || connection.drained > kDrainBytes) {
            CloseConnection(connection.id);
            return;
        }
    }
}

void HttpServer::CloseConnection(uint64_t id) {
    const auto found = connections_.find(id);
    if (found == connections_.end()) return;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, found->second->fd, nullptr);
    connections_.erase(found);
}

void HttpServer::CheckDeadlines() {
    const auto now = Clock::now();
    std::vector<uint64_t> late;
    for (auto& [id, connection] : connections_) {
        if (connection->state != Connection::State::Handling && now >= connection->deadline) late.push_back(id);
    }
    for (uint64_t id : late) {
        Connection& connection = *connections_[id];
        const bool mid_request = connection.state == Connection::State::Body ||
                                 (connection.state == Connection::State::Head && connection.got_byte);
        if (mid_request) {
            // A slow request gets a short answer it may read or not; the wait for it is
            // bounded by the send deadline like every answer.
            QueueError(connection, 408, "the request took too long to arrive");
            const auto still = connections_.find(id);
            if (still != connections_.end() && still->second->state == Connection::State::Writing)
                still->second->deadline = now + std::chrono::seconds(1);
            continue;
        }
        CloseConnection(id);
    }
}

}  // namespace http
