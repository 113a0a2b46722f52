#include "support/DelayProxy.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <utility>

namespace qm::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kChunkBytes = size_t{64} * 1024;
// Under a throughput cap bytes leave in slices this big, each when the line is free again.
constexpr size_t kPacedSlice = size_t{8} * 1024;

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// Small commands must leave at once: Nagle's wait for an ACK would add to the delay we set.
void NoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// The kernel drops quick ACKs after a while; a sender whose last small segment waits for our
// delayed ACK would stall 40 ms on top of the delay we set, so they are asked for again after
// every receive, as the engine's own socket does.
void QuickAck(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}

int ConnectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    NoDelay(fd);
    return fd;
}

bool SendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

// Two directions, each a reader that stamps what it receives with the time it is due and a
// writer that passes it on then. An empty chunk stands for the end of the stream.
class DelayProxy::Relay {
public:
    Relay(int clientFd, int serverFd, std::chrono::milliseconds delay, std::uint64_t bytesPerSecond,
          Counts& counts)
        : clientFd_(clientFd), serverFd_(serverFd), delay_(delay), bytesPerSecond_(bytesPerSecond) {
        up_.from = clientFd;
        up_.to = serverFd;
        up_.count = &counts.toServer;
        down_.from = serverFd;
        down_.to = clientFd;
        down_.count = &counts.toClient;
        for (Direction* d : {&up_, &down_}) {
            d->reader = std::thread([this, d] { Read(*d); });
            d->writer = std::thread([this, d] { Write(*d); });
        }
    }

    ~Relay() {
        Shutdown();
        for (Direction* d : {&up_, &down_}) {
            d->reader.join();
            d->writer.join();
        }
        ::close(clientFd_);
        ::close(serverFd_);
    }

    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Wakes every thread: readers and writers blocked on a socket get an error or the end,
    // writers waiting for a due time see stopping_.
    void Shutdown() {
        stopping_ = true;
        ::shutdown(clientFd_, SHUT_RDWR);
        ::shutdown(serverFd_, SHUT_RDWR);
        for (Direction* d : {&up_, &down_}) {
            std::lock_guard lock(d->mutex);
            d->ready.notify_all();
        }
    }

    bool Finished() const { return threadsDone_ == 4; }

private:
    struct Chunk {
        Clock::time_point due;
        std::string data;
    };

    struct Direction {
        int from = -1, to = -1;
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<Chunk> queue;  // guarded by mutex
        std::thread reader, writer;
        std::atomic<std::uint64_t>* count = nullptr;
        Clock::time_point lineFree{};  // writer only: when the capped line may send again
    };

    void Push(Direction& d, std::string data) {
        std::lock_guard lock(d.mutex);
        d.queue.push_back({Clock::now() + delay_, std::move(data)});
        d.ready.notify_one();
    }

    void Read(Direction& d) {
        std::string buffer(kChunkBytes, '\0');
        for (;;) {
            ssize_t n = ::recv(d.from, buffer.data(), buffer.size(), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            QuickAck(d.from);
            Push(d, buffer.substr(0, static_cast<size_t>(n)));
        }
        Push(d, {});
        ++threadsDone_;
    }

    void Write(Direction& d) {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock lock(d.mutex);
                d.ready.wait(lock, [&] { return stopping_ || !d.queue.empty(); });
                if (stopping_) break;
                // Only this thread takes from the queue, so its front stays put while we wait.
                const Clock::time_point due = d.queue.front().due;
                if (d.ready.wait_until(lock, due, [&] { return stopping_.load(); })) break;
                chunk = std::move(d.queue.front());
                d.queue.pop_front();
            }
            if (chunk.data.empty()) {
                // The sender closed and everything it sent is delivered: close towards the peer.
                ::shutdown(d.to, SHUT_WR);
                break;
            }
            if (!Pass(d, chunk.data)) {
                // The receiver is gone; nothing more can pass either way.
                Shutdown();
                break;
            }
        }
        ++threadsDone_;
    }

    // Sends data on, paced to the cap when there is one, and counts it.
    bool Pass(Direction& d, const std::string& data) {
        if (bytesPerSecond_ == 0) {
            if (!SendAll(d.to, data)) return false;
            *d.count += data.size();
            return true;
        }
        for (size_t at = 0; at < data.size(); at += kPacedSlice) {
            const std::string slice = data.substr(at, kPacedSlice);
            d.lineFree = std::max(d.lineFree, Clock::now());
            {
                std::unique_lock lock(d.mutex);
                if (d.ready.wait_until(lock, d.lineFree, [&] { return stopping_.load(); }))
                    return false;
            }
            if (!SendAll(d.to, slice)) return false;
            *d.count += slice.size();
            d.lineFree += std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(double(slice.size()) / double(bytesPerSecond_)));
        }
        return true;
    }

    const int clientFd_, serverFd_;
    const std::chrono::milliseconds delay_;
    const std::uint64_t bytesPerSecond_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> threadsDone_{0};
    Direction up_, down_;
};

DelayProxy::DelayProxy(int targetPort, std::chrono::milliseconds oneWayDelay,
                       std::uint64_t bytesPerSecond)
    : targetPort_(targetPort), delay_(oneWayDelay), bytesPerSecond_(bytesPerSecond) {}

DelayProxy::~DelayProxy() {
    Stop();
}

bool DelayProxy::Start() {
    if (acceptor_.joinable()) return true;
    if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    socklen_t length = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        error_ = std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno);
        Stop();
        return false;
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void DelayProxy::Stop() {
    if (acceptor_.joinable()) {
        char wake = 0;
        while (::write(wakeFds_[1], &wake, 1) < 0 && errno == EINTR) {
        }
        acceptor_.join();
    }
    {
        std::lock_guard lock(mutex_);
        relays_.clear();  // each one shuts its sockets down and joins its threads
    }
    for (int* fd : {&listenFd_, &wakeFds_[0], &wakeFds_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    port_ = 0;
}

void DelayProxy::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        int server = ConnectTo(targetPort_);
        if (server < 0) {
            ::close(client);  // the client sees the refusal as an immediate close
            continue;
        }
        NoDelay(client);
        ++accepted_;
        std::lock_guard lock(mutex_);
        Reap();
        relays_.push_back(
            std::make_unique<Relay>(client, server, delay_, bytesPerSecond_.load(), counts_));
    }
}

// Connections whose four threads have all ended are let go, so a long run does not keep them.
void DelayProxy::Reap() {
    std::erase_if(relays_, [](const std::unique_ptr<Relay>& r) { return r->Finished(); });
}

}  // namespace qm::test
