#include "support/RawNntpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qm::test {

RawNntpClient::RawNntpClient(std::chrono::milliseconds timeout) : timeout_(timeout) {}

RawNntpClient::~RawNntpClient() {
    Close();
}

bool RawNntpClient::Connect(int port) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout_.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout_.count() % 1000) * 1000);
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        !ReadLine(greeting_)) {
        Close();
        return false;
    }
    return true;
}

void RawNntpClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
}

bool RawNntpClient::SendRaw(const std::string& data) {
    size_t sent = 0;
    while (fd_ >= 0 && sent < data.size()) {
        ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return fd_ >= 0;
}

bool RawNntpClient::ReadLine(std::string& line) {
    while (fd_ >= 0) {
        size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            line.assign(buffer_, 0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            buffer_.erase(0, end + 1);
            return true;
        }
        char chunk[16384];
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer_.append(chunk, static_cast<size_t>(n));
    }
    return false;
}

std::string RawNntpClient::Command(const std::string& line) {
    std::string status;
    if (!SendRaw(line + "\r\n") || !ReadLine(status)) return "";
    return status;
}

bool RawNntpClient::ReadBlock(std::vector<std::string>& lines) {
    std::string line;
    while (ReadLine(line)) {
        if (line == ".") return true;
        lines.push_back(line.rfind("..", 0) == 0 ? line.substr(1) : line);
    }
    return false;
}

int RawNntpClient::Code(const std::string& statusLine) {
    if (statusLine.size() < 3) return 0;
    int code = 0;
    for (size_t i = 0; i < 3; ++i) {
        char c = statusLine[i];
        if (c < '0' || c > '9') return 0;
        code = code * 10 + (c - '0');
    }
    return code;
}

}  // namespace qm::test
