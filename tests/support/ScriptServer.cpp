#include "support/ScriptServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "support/RawDeflate.h"

namespace qm::test {
namespace {

// How long the serving thread sleeps at most before it looks at the stop flag again.
constexpr int kSliceMs = 20;

bool PeerClosed(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return false;
    char byte;
    ssize_t n = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

// The pieces a reply's bytes go out in.
std::vector<std::string_view> Pieces(std::string_view bytes, const Reply& reply) {
    std::vector<std::string_view> pieces;
    if (reply.splitFirstLine) {
        size_t lf = bytes.find('\n');
        if (lf != std::string_view::npos && lf + 1 < bytes.size()) {
            pieces.push_back(bytes.substr(0, lf + 1));
            bytes.remove_prefix(lf + 1);
        }
    }
    if (reply.chunkSize == 0) {
        if (!bytes.empty()) pieces.push_back(bytes);
        return pieces;
    }
    for (size_t at = 0; at < bytes.size(); at += reply.chunkSize)
        pieces.push_back(bytes.substr(at, reply.chunkSize));
    return pieces;
}

}  // namespace

ScriptServer::ScriptServer(bool ipv6) {
    greetings_.push_back(Reply{.text = "200 test server ready\r\n"});
    default_.text = "500 unknown command\r\n";
    Listen(ipv6);
    if (Listening()) thread_ = std::thread([this] { Serve(); });
}

ScriptServer::~ScriptServer() {
    Stop();
}

void ScriptServer::Listen(bool ipv6) {
    listenFd_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return;
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage address{};
    socklen_t length;
    if (ipv6) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&address);
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = in6addr_loopback;
        length = sizeof *a6;
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&address);
        a4->sin_family = AF_INET;
        a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *a4;
    }
    auto* any = reinterpret_cast<sockaddr*>(&address);
    if (bind(listenFd_, any, length) != 0 || listen(listenFd_, 8) != 0 ||
        getsockname(listenFd_, any, &length) != 0) {
        close(listenFd_);
        listenFd_ = -1;
        return;
    }
    port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                       : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

void ScriptServer::SetGreeting(Reply greeting) {
    SetGreetings({std::move(greeting)});
}

void ScriptServer::SetGreetings(std::vector<Reply> greetings) {
    std::lock_guard lock(mutex_);
    if (!greetings.empty()) greetings_ = std::move(greetings);
}

void ScriptServer::On(const std::string& prefix, std::string text) {
    On(prefix, Reply{.text = std::move(text)});
}

void ScriptServer::On(const std::string& prefix, Reply reply) {
    AddRule(Rule{.prefix = prefix, .sequence = {std::move(reply)}});
}

void ScriptServer::On(const std::string& prefix, TextResponder respond) {
    On(prefix, Responder([respond = std::move(respond)](const std::string& command) {
           return Reply{.text = respond(command)};
       }));
}

void ScriptServer::On(const std::string& prefix, Responder respond) {
    AddRule(Rule{.prefix = prefix, .respond = std::move(respond)});
}

void ScriptServer::OnSequence(const std::string& prefix, std::initializer_list<std::string> texts) {
    OnSequence(prefix, std::vector<std::string>(texts));
}

void ScriptServer::OnSequence(const std::string& prefix, const std::vector<std::string>& texts) {
    std::vector<Reply> replies;
    for (const std::string& text : texts) replies.push_back(Reply{.text = text});
    OnSequence(prefix, std::move(replies));
}

void ScriptServer::OnSequence(const std::string& prefix, std::vector<Reply> replies) {
    if (replies.empty()) replies.push_back(Reply{});
    AddRule(Rule{.prefix = prefix, .sequence = std::move(replies)});
}

void ScriptServer::SetDefault(Reply reply) {
    std::lock_guard lock(mutex_);
    default_ = std::move(reply);
}

void ScriptServer::AddRule(Rule rule) {
    std::lock_guard lock(mutex_);
    rules_.push_back(std::move(rule));
}

void ScriptServer::Release() {
    {
        std::lock_guard lock(mutex_);
        ++releases_;
    }
    wake_.notify_all();
}

void ScriptServer::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
}

std::vector<std::string> ScriptServer::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

int ScriptServer::Connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

bool ScriptServer::Stopping() const {
    std::lock_guard lock(mutex_);
    return stopping_;
}

void ScriptServer::Serve() {
    while (!Stopping()) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, kSliceMs) <= 0) continue;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;  // tiny chunks must leave as separate segments
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (std::lock_guard lock(mutex_); concurrent_) {
            servers_.emplace_back([this, fd] {
                ServeConnection(fd);
                close(fd);
            });
            continue;
        }
        ServeConnection(fd);
        deflate_.reset();
        close(fd);
    }
    for (std::thread& server : servers_) server.join();
}

void ScriptServer::ServeConcurrently() {
    std::lock_guard lock(mutex_);
    concurrent_ = true;
}

bool ScriptServer::ServeConnection(int fd) {
    Reply greeting;
    {
        std::lock_guard lock(mutex_);
        greeting = greetings_[std::min<size_t>(connections_, greetings_.size() - 1)];
        ++connections_;
    }
    if (!SendReply(fd, greeting)) return false;
    std::string pending;
    char chunk[4096];
    while (!Stopping()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kSliceMs) <= 0) continue;
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return false;
        }
        if (!deflate_) {
            pending.append(chunk, static_cast<size_t>(n));
        } else if (!deflate_->Inflate({chunk, static_cast<size_t>(n)}, pending)) {
            return false;
        }
        size_t lf;
        while ((lf = pending.find('\n')) != std::string::npos) {
            std::string command = pending.substr(0, lf);
            pending.erase(0, lf + 1);
            if (!command.empty() && command.back() == '\r') command.pop_back();
            if (!Answer(fd, command)) return false;
        }
    }
    return false;
}

bool ScriptServer::Answer(int fd, const std::string& command) {
    {
        std::lock_guard lock(mutex_);
        received_.push_back(command);
    }
    return SendReply(fd, ReplyFor(command));
}

Reply ScriptServer::ReplyFor(const std::string& command) {
    Responder respond;
    {
        std::lock_guard lock(mutex_);
        Rule* best = nullptr;
        for (Rule& rule : rules_) {
            if (command.compare(0, rule.prefix.size(), rule.prefix) != 0) continue;
            if (!best || rule.prefix.size() >= best->prefix.size()) best = &rule;
        }
        if (!best) return default_;
        if (!best->respond) {
            const Reply& reply = best->sequence[best->next];
            if (best->next + 1 < best->sequence.size()) ++best->next;
            return reply;
        }
        respond = best->respond;
    }
    return respond(command);  // outside the lock: it may ask the server for Received()
}

bool ScriptServer::SendReply(int fd, const Reply& reply) {
    if (reply.delayMs > 0 && !Pause(reply.delayMs)) return false;
    if (reply.silent && !WaitForRelease(fd)) return false;
    std::string_view bytes = reply.text;
    if (reply.dropAfterBytes >= 0)
        bytes = bytes.substr(0, std::min<size_t>(bytes.size(), reply.dropAfterBytes));
    std::vector<std::string_view> pieces = Pieces(bytes, reply);
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0 && reply.chunkSize > 0 && !Pause(reply.chunkDelayMs)) return false;
        if (!SendPiece(fd, pieces[i], reply)) return false;
    }
    if (reply.compressAfter) deflate_ = std::make_unique<RawDeflate>();
    return reply.dropAfterBytes < 0 && !reply.closeAfter;
}

bool ScriptServer::SendPiece(int fd, std::string_view piece, const Reply& reply) {
    if (!deflate_ || reply.raw) return SendAll(fd, piece.data(), piece.size());
    const std::string deflated = deflate_->Compress(piece);
    return SendAll(fd, deflated.data(), deflated.size());
}

bool ScriptServer::SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (Stopping()) return false;
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, kSliceMs);
    }
    return true;
}

bool ScriptServer::Pause(int ms) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

bool ScriptServer::WaitForRelease(int fd) {
    std::unique_lock lock(mutex_);
    const std::uint64_t seen = releases_;
    while (!stopping_ && releases_ == seen) {
        wake_.wait_for(lock, std::chrono::milliseconds(kSliceMs));
        if (PeerClosed(fd)) return false;
    }
    return !stopping_;
}

}  // namespace qm::test
