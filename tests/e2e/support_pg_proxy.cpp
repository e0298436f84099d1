// The proxy of support_pg.h: one thread, poll(), every socket non-blocking.
#include "support_pg.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace fernwick::e2e {

namespace {

constexpr int k_command_wait_s = 5;

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

// Latency matters to the tests timing a board: no Nagle delay on either side.
void no_delay(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int listen_on(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const auto a = loopback(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What the socket takes now of `pending`; false when the connection is gone.
bool flush(int fd, std::string& pending)
{
    while (!pending.empty()) {
        const auto n = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        pending.erase(0, static_cast<size_t>(n));
    }
    return true;
}

// The bytes the socket has; false at its end or on an error.
bool take(int fd, std::string& into)
{
    char buffer[65536];
    const auto n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    into.assign(buffer, static_cast<size_t>(n));
    return n > 0;
}

}  // namespace

struct pg_proxy::link {
    int client = -1;
    int server = -1;
    std::string to_server;
    std::string to_client;
    std::string seen;         // the client's last bytes, for a marker split between reads
    bool swallowing = false;  // the server's answer dropped, message by message
    std::string answer;       // the swallowed answer's unfinished message
};

pg_proxy::pg_proxy(int server_port) : server_port_(server_port), listen_fd_(listen_on(0))
{
    sockaddr_in a{};
    socklen_t size = sizeof a;
    if (listen_fd_ < 0 || ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &size) != 0 ||
        ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("the proxy could not listen on a loopback port");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
}

pg_proxy::~pg_proxy()
{
    {
        const std::lock_guard hold(lock_);
        stopping_ = true;
    }
    [[maybe_unused]] const auto n = ::write(wake_[1], "x", 1);
    thread_.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void pg_proxy::wait_done(std::unique_lock<std::mutex>& hold)
{
    const int ticket = ++asked_;
    [[maybe_unused]] const auto n = ::write(wake_[1], "x", 1);
    done_.wait_for(hold, std::chrono::seconds(k_command_wait_s), [&] { return done_count_ >= ticket; });
}

void pg_proxy::drop_next_commit_answer(const std::string& marker)
{
    std::unique_lock hold(lock_);
    marker_ = marker;
    wait_done(hold);
}

void pg_proxy::cut_all()
{
    std::unique_lock hold(lock_);
    cut_ = true;
    wait_done(hold);
}

void pg_proxy::refuse(bool on, bool close_port)
{
    std::unique_lock hold(lock_);
    refusing_ = on;
    port_closed_ = on && close_port;
    wait_done(hold);
}

// What was asked since the last time round, done.
void pg_proxy::obey(std::vector<link>& links)
{
    const std::lock_guard hold(lock_);
    if (std::exchange(cut_, false)) {
        for (auto& l : links) ::close(l.client), ::close(l.server);
        links.clear();
    }
    if (port_closed_ && listen_fd_ >= 0) ::close(std::exchange(listen_fd_, -1));
    if (!port_closed_ && listen_fd_ < 0) listen_fd_ = listen_on(port_);  // tried again each round if taken
    done_count_ = asked_;
    done_.notify_all();
}

void pg_proxy::accept_one(std::vector<link>& links)
{
    const int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) return;
    bool refusing = false;
    {
        const std::lock_guard hold(lock_);
        refusing = refusing_;
    }
    const int server = refusing ? -1 : ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const auto a = loopback(server_port_);
    // Connected later when the server is slow to take it; refused shows as an error on its first read.
    if (server < 0 ||
        (::connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS)) {
        if (server >= 0) ::close(server);
        ::close(client);
        return;
    }
    no_delay(client);
    no_delay(server);
    links.emplace_back().client = client;
    links.back().server = server;
}

bool pg_proxy::from_client(link& l)
{
    std::string bytes;
    if (!take(l.client, bytes)) return false;
    if (!l.swallowing && !bytes.empty()) {
        const std::lock_guard hold(lock_);
        if (!marker_.empty()) {
            const auto text = l.seen + bytes;
            l.swallowing = text.find(marker_) != std::string::npos;
            l.seen = text.substr(text.size() - std::min(text.size(), marker_.size() - 1));
            if (l.swallowing) marker_.clear();
        }
    }
    l.to_server += bytes;
    return true;
}

// While swallowing: the server's messages (a type byte, then a length that
// counts itself) dropped up to ReadyForQuery, when the connection ends. The
// client sent its query only after it had the whole answer before it, so the
// swallowed bytes start on a message.
bool pg_proxy::from_server(link& l)
{
    std::string bytes;
    if (!take(l.server, bytes)) return false;
    if (!l.swallowing) {
        l.to_client += bytes;
        return true;
    }
    l.answer += bytes;
    while (l.answer.size() >= 5) {
        const auto* p = reinterpret_cast<const unsigned char*>(l.answer.data());
        const size_t size = 1 + ((uint32_t{p[1]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 8) | p[4]);
        if (l.answer.size() < size) break;
        const bool ready = l.answer[0] == 'Z';
        l.answer.erase(0, size);
        if (ready) {
            ++dropped_;
            return false;
        }
    }
    return true;
}

void pg_proxy::run()
{
    std::vector<link> links;
    while (true) {
        {
            const std::lock_guard hold(lock_);
            if (stopping_) break;
        }
        obey(links);
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}};
        // Each side read only once what it sent before has gone on.
        for (const auto& l : links) {
            fds.push_back({l.client,
                           static_cast<short>((l.to_server.empty() ? POLLIN : 0) | (l.to_client.empty() ? 0 : POLLOUT)),
                           0});
            fds.push_back({l.server,
                           static_cast<short>((l.to_client.empty() ? POLLIN : 0) | (l.to_server.empty() ? 0 : POLLOUT)),
                           0});
        }
        if (::poll(fds.data(), fds.size(), 200) < 0) continue;
        char drained[64];
        while (::read(wake_[0], drained, sizeof drained) > 0) {}
        if (listen_fd_ >= 0 && fds[1].revents & POLLIN) accept_one(links);
        const auto in = POLLIN | POLLHUP | POLLERR;
        for (size_t i = 0; i + 2 < fds.size() && i / 2 < links.size(); i += 2) {
            auto& l = links[i / 2];
            const auto c = fds[i + 2].revents;
            const auto s = fds[i + 3].revents;
            const bool alive = (!(c & POLLOUT) || flush(l.client, l.to_client)) &&
                               (!(s & POLLOUT) || flush(l.server, l.to_server)) && (!(c & in) || from_client(l)) &&
                               (!(s & in) || from_server(l));
            if (alive) continue;
            flush(l.client, l.to_client);
            flush(l.server, l.to_server);
            ::close(l.client);
            ::close(l.server);
            l.client = l.server = -1;
        }
        std::erase_if(links, [](const link& l) { return l.client < 0; });
    }
    for (auto& l : links) ::close(l.client), ::close(l.server);
}

}  // namespace fernwick::e2e
