#include "net/Socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qm {
namespace {

// How long one poll may sleep before the stop check is asked again.
constexpr std::chrono::milliseconds kPollSlice{100};
constexpr size_t kInitialCapacity = 4 * CLineSocket::kReceiveChunk;

void SetTcpOption(int fd, int option) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, option, &one, sizeof one);
}

bool WouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

// "[::1]" names the same host as "::1"; getaddrinfo wants the bare form.
std::string BareHost(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

struct AddressListDeleter {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddressListDeleter>;

AddressList Resolve(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    if (getaddrinfo(BareHost(host).c_str(), service.c_str(), &hints, &list) != 0) return nullptr;
    return AddressList(list);
}

}  // namespace

CLineSocket::~CLineSocket() {
    CloseSocket();
}

int CLineSocket::ConnectToServer(const std::string& host, int port) {
    if (Connect(host, port) != 1) return 0;
    // The greeting is read and dropped whatever it says; only a connection that delivers none
    // (closed, silent, stopped) counts as not connected.
    return ReadGreeting() ? 1 : 0;
}

int CLineSocket::Connect(const std::string& host, int port) {
    AddressList addresses = Resolve(host, port);
    if (!addresses) return 0;  // unresolvable: nothing started, state unchanged

    Restart();
    state_ = Connecting;
    const Clock::time_point deadline = Clock::now() + timeouts_.connect;
    bool anySocket = false;
    for (const addrinfo* a = addresses.get(); a && state_ == Connecting; a = a->ai_next) {
        if (!CreateSocket(a->ai_family)) continue;  // e.g. a family the host cannot open
        anySocket = true;
        if (TryAddress(a->ai_addr, a->ai_addrlen, deadline)) state_ = Connected;
    }
    if (state_ != Connected) {
        if (!anySocket) errorText_ = "Unable to open a new socket.";
        Fail();
        return 0;
    }
    return 1;
}

bool CLineSocket::ReadGreeting() {
    greeting_.clear();
    return ReadLine(greeting_);
}

TlsResult CLineSocket::StartTls(const TlsOptions& options) {
    TlsResult result;
    if (state_ != Connected || tls_) {
        result.error = "not connected";
        return result;
    }
    // Bytes that came before the handshake were sent in the clear and could have been put
    // there by anyone on the way; they must not pass for part of the protected conversation.
    if (begin_ != end_) {
        result.error = "unexpected data before the TLS handshake";
        ResetBuffer();
        Fail();
        return result;
    }
    tls_ = TlsSession::Create(fd_, options, result.error);
    if (!tls_) {
        Fail();
        return result;
    }
    const Clock::time_point deadline = Clock::now() + timeouts_.connect;
    for (;;) {
        TlsSession::Io io = tls_->Handshake();
        if (io == TlsSession::Io::Done) break;
        if (io == TlsSession::Io::WantRead || io == TlsSession::Io::WantWrite) {
            if (!WaitFor(io == TlsSession::Io::WantRead ? POLLIN : POLLOUT, deadline)) {
                result.error = abortedByStop_ ? "stopped" : "timed out";
                return result;
            }
            continue;
        }
        result.error = tls_->ErrorText().empty() ? "handshake failed" : tls_->ErrorText();
        Fail();
        return result;
    }
    result = tls_->Verdict(options);
    if (!result.accepted) Fail();
    return result;
}

bool CLineSocket::StartCompression() {
    if (state_ != Connected) return false;
    deflate_ = DeflateStream::Create();
    if (!deflate_) {
        errorText_ = "Unable to start compression.";
        Fail();
        return false;
    }
    compressed_ = true;
    if (begin_ != end_) deflate_->Feed(buffer_.get() + begin_, end_ - begin_);
    ResetBuffer();
    return true;
}

bool CLineSocket::Adopt(int fd) {
    Restart();
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        close(fd);
        state_ = Failed;
        return false;
    }
    fd_ = fd;
    state_ = Connected;
    return true;
}

void CLineSocket::AbandonForStop() {
    if (state_ != Connected) return;
    abortedByStop_ = true;
    ResetBuffer();
    Fail();
}

void CLineSocket::Disconnect() {
    ResetBuffer();
    Fail();
}

void CLineSocket::SendLine(const std::string& text) {
    if (text.empty() || state_ != Connected) return;
    if (!deflate_) {
        SendRaw(text.data(), text.size());
        return;
    }
    compressedOut_.clear();
    if (!deflate_->Compress(text, compressedOut_)) {
        Fail();
        return;
    }
    SendRaw(compressedOut_.data(), compressedOut_.size());
}

void CLineSocket::SendRaw(const char* data, size_t size) {
    if (tls_) {
        SendTls(data, size);
    } else {
        SendPlain(data, size);
    }
}

void CLineSocket::SendPlain(const char* data, size_t left) {
    while (left > 0) {
        ssize_t n = send(fd_, data, left, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            left -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && WouldBlock(errno)) {
            if (!WaitFor(POLLOUT, Clock::now() + timeouts_.idle)) return;
        } else {
            Fail();
            return;
        }
    }
}

std::string CLineSocket::ReadLine() {
    std::string line;
    ReadLine(line);
    return line;
}

bool CLineSocket::ReadLine(std::string& line) {
    if (beforeRead_) beforeRead_();
    while (state_ == Connected) {
        if (TakeLine(line)) return true;
        if (state_ == Connected) ReceiveChunk();
    }
    if (TakeLine(line)) return true;
    line.clear();
    return false;
}

bool CLineSocket::CreateSocket(int family) {
    CloseSocket();
    fd_ = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd_ < 0) return false;
    // Commands go out at once, and every reply segment is acknowledged at once: a server that
    // writes a status line and its body separately must not wait for a delayed acknowledgement.
    SetTcpOption(fd_, TCP_NODELAY);
    SetTcpOption(fd_, TCP_QUICKACK);
    return true;
}

bool CLineSocket::TryAddress(const sockaddr* address, unsigned length, Clock::time_point deadline) {
    if (connect(fd_, address, length) == 0) return true;
    if (errno == EINPROGRESS || errno == EINTR) {
        if (!WaitFor(POLLOUT, deadline)) return false;  // timed out or stopped: gave up
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) return true;
    }
    CloseSocket();
    return false;
}

// A new connection starts with nothing of the last one: no buffered bytes, no verdicts.
void CLineSocket::Restart() {
    CloseSocket();
    ResetBuffer();
    abortedByStop_ = false;
    timedOut_ = false;
    compressed_ = false;
    stopSeenAt_.reset();
    errorText_.clear();
}

void CLineSocket::Fail() {
    CloseSocket();
    state_ = Failed;
}

void CLineSocket::CloseSocket() {
    tls_.reset();  // before the descriptor it writes to goes
    deflate_.reset();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool CLineSocket::WaitFor(short events, Clock::time_point deadline) {
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (stopCheck_ && stopCheck_()) {
            if (!stopSeenAt_) stopSeenAt_ = now;
        } else {
            stopSeenAt_.reset();
        }
        Clock::time_point limit = deadline;
        bool stopLimits = false;
        if (stopSeenAt_ && *stopSeenAt_ + timeouts_.stopGrace < limit) {
            limit = *stopSeenAt_ + timeouts_.stopGrace;
            stopLimits = true;
        }
        if (now >= limit) {
            abortedByStop_ = stopLimits;
            timedOut_ = !stopLimits;
            Fail();
            return false;
        }
        auto slice = std::chrono::ceil<std::chrono::milliseconds>(limit - now);
        pollfd p{fd_, events, 0};
        int ready = poll(&p, 1, static_cast<int>(std::min(slice, kPollSlice).count()));
        if (ready > 0) return true;  // readiness or an error: the next call tells which
        if (ready < 0 && errno != EINTR) {
            Fail();
            return false;
        }
    }
}

bool CLineSocket::ReceiveChunk() {
    MakeRoom();
    if (deflate_) return ReceiveInflated();
    size_t got = 0;
    if (!ReceiveRaw(buffer_.get() + end_, kReceiveChunk, got)) return false;
    end_ += got;
    return true;
}

// At most one chunk of inflated bytes per call, into the room MakeRoom made: however much the
// received bytes would inflate to, the rest stays in the stream until the lines before it have
// been taken, and the line cap applies as to any other bytes.
bool CLineSocket::ReceiveInflated() {
    for (;;) {
        size_t got = 0;
        switch (deflate_->Inflate(buffer_.get() + end_, kReceiveChunk, got)) {
            case DeflateStream::Inflated::Some:
                end_ += got;
                return true;
            case DeflateStream::Inflated::Error:
                errorText_ = "The server sent data that does not inflate.";
                ResetBuffer();
                Fail();
                return false;
            case DeflateStream::Inflated::NeedInput:
                break;
        }
        if (!ReceiveRaw(deflate_->InputSpace(kReceiveChunk), kReceiveChunk, got)) return false;
        deflate_->Received(got);
    }
}

bool CLineSocket::ReceiveRaw(char* into, size_t size, size_t& got) {
    return tls_ ? ReceiveTls(into, size, got) : ReceivePlain(into, size, got);
}

bool CLineSocket::ReceivePlain(char* into, size_t size, size_t& got) {
    for (;;) {
        ssize_t n = recv(fd_, into, size, 0);
        if (n > 0) {
            got = static_cast<size_t>(n);
            SetTcpOption(fd_, TCP_QUICKACK);  // the kernel drops quick-ack mode on its own
            return true;
        }
        if (n == 0) {  // the peer closed: what is queued can still be read
            CloseSocket();
            state_ = Idle;
            return false;
        }
        if (errno == EINTR) continue;
        if (!WouldBlock(errno)) {
            Fail();
            return false;
        }
        if (!WaitFor(POLLIN, Clock::now() + timeouts_.idle)) return false;
    }
}

void CLineSocket::SendTls(const char* data, size_t left) {
    while (left > 0) {
        size_t written = 0;
        TlsSession::Io io = tls_->Write(data, left, written);
        if (io == TlsSession::Io::Done) {
            data += written;
            left -= written;
            continue;
        }
        // A write may need the peer's data first (a renegotiation, a key update): the same
        // bytes are offered again once the socket is ready either way.
        if (io == TlsSession::Io::WantRead || io == TlsSession::Io::WantWrite) {
            if (!WaitFor(io == TlsSession::Io::WantRead ? POLLIN : POLLOUT,
                         Clock::now() + timeouts_.idle)) {
                return;
            }
            continue;
        }
        Fail();
        return;
    }
}

// Data the session has already decrypted is taken before any wait, so a record that arrived
// whole with the last read is never left waiting for the next packet.
bool CLineSocket::ReceiveTls(char* into, size_t size, size_t& got) {
    for (;;) {
        TlsSession::Io io = tls_->Read(into, size, got);
        switch (io) {
            case TlsSession::Io::Done:
                SetTcpOption(fd_, TCP_QUICKACK);
                return true;
            case TlsSession::Io::WantRead:
            case TlsSession::Io::WantWrite:
                if (!WaitFor(io == TlsSession::Io::WantRead ? POLLIN : POLLOUT,
                             Clock::now() + timeouts_.idle)) {
                    return false;
                }
                break;
            case TlsSession::Io::Closed:  // what is queued can still be read
                CloseSocket();
                state_ = Idle;
                return false;
            case TlsSession::Io::Error:
                Fail();
                return false;
        }
    }
}

bool CLineSocket::TakeLine(std::string& line) {
    const char* base = buffer_.get();
    const void* lf =
        end_ > scanned_ ? std::memchr(base + scanned_, '\n', end_ - scanned_) : nullptr;
    if (!lf) {
        scanned_ = end_;
        if (end_ - begin_ > kMaxLineLength && state_ == Connected) {
            ResetBuffer();
            Fail();
        }
        return false;
    }
    size_t stop = static_cast<size_t>(static_cast<const char*>(lf) - base) + 1;
    if (stop - begin_ > kMaxLineLength) {
        ResetBuffer();
        Fail();
        return false;
    }
    line.assign(base + begin_, stop - begin_);
    begin_ = scanned_ = stop;
    return true;
}

void CLineSocket::MakeRoom() {
    if (begin_ == end_) begin_ = end_ = scanned_ = 0;
    if (capacity_ - end_ >= kReceiveChunk) return;
    if (begin_ > 0) {  // only an unfinished line is left: move it to the front
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        scanned_ -= begin_;
        begin_ = 0;
    }
    if (capacity_ - end_ >= kReceiveChunk) return;
    size_t capacity = std::max({kInitialCapacity, capacity_ * 2, end_ + kReceiveChunk});
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    if (end_ > 0) std::memcpy(bigger.get(), buffer_.get(), end_);
    buffer_ = std::move(bigger);
    capacity_ = capacity;
}

void CLineSocket::ResetBuffer() {
    begin_ = end_ = scanned_ = 0;
}

}  // namespace qm
