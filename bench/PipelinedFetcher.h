#pragma once
// The ceiling of a harvest from a news server: a bare client on its own socket that keeps a
// window of ARTICLE commands ahead of the replies and does nothing with a reply but find its end.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace qm::bench {

struct Rate {
    long articles = 0;
    std::int64_t bytes = 0;
    double seconds = 0;
    bool ok = false;

    double ArticlesPerSecond() const { return seconds > 0 ? articles / seconds : 0; }
    double MegabytesPerSecond() const { return seconds > 0 ? bytes / 1e6 / seconds : 0; }
};

// The ceiling: its own socket, window ARTICLE commands ahead of the replies, and nothing done
// with a reply but finding its end.
class PipelinedFetcher {
public:
    explicit PipelinedFetcher(std::size_t window) : window_(window) {}
    ~PipelinedFetcher() {
        if (fd_ >= 0) ::close(fd_);
    }
    PipelinedFetcher(const PipelinedFetcher&) = delete;
    PipelinedFetcher& operator=(const PipelinedFetcher&) = delete;

    Rate FetchGroup(int port, const std::string& group) {
        Rate result;
        if (!Connect(port) || !Send("GROUP " + group + "\r\n")) return result;
        long count = 0, first = 0, last = 0;
        if (ReadStatusLine() != 211 ||
            std::sscanf(status_.c_str(), "%*d %ld %ld %ld", &count, &first, &last) != 3) {
            return result;
        }
        status_.clear();  // from here on it collects the code of the reply being read
        const auto start = Clock::now();
        long next = first;  // the next article to ask for
        long done = 0;      // replies read to their end
        const long total = last - first + 1;
        std::string commands;
        for (; next <= last && static_cast<std::size_t>(next - first) < window_; ++next) {
            commands += "ARTICLE " + std::to_string(next) + "\r\n";
        }
        if (!Send(commands)) return result;
        while (done < total) {
            ssize_t n = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
            if (n <= 0) return result;
            result.bytes += n;
            long finished = Scan(buffer_.data(), static_cast<std::size_t>(n), result.articles);
            done += finished;
            commands.clear();
            for (; finished > 0 && next <= last; --finished, ++next) {
                commands += "ARTICLE " + std::to_string(next) + "\r\n";
            }
            if (!commands.empty() && !Send(commands)) return result;
        }
        result.seconds = SecondsSince(start);
        result.ok = result.articles == total;
        return result;
    }

private:
    // Where the scanner stands in the reply being read. In the body, the states follow the
    // bytes of "\r\n.\r\n"; a dot-stuffed body never holds it, so it can only be the end.
    enum State { kStatus, kMidLine, kCr, kLineStart, kDot, kDotCr };

    bool Connect(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return false;
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
        return ReadStatusLine() / 100 == 2;
    }

    bool Send(const std::string& text) {
        return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }

    // One status line outside the timed part, a byte at a time so nothing after it is taken.
    int ReadStatusLine() {
        status_.clear();
        char c;
        while (::recv(fd_, &c, 1, 0) == 1) {
            status_ += c;
            if (c == '\n') return std::atoi(status_.c_str());
        }
        return 0;
    }

    // Follows the replies through data; returns how many ended in it, and counts those that
    // were articles (220) in articles.
    long Scan(const char* data, std::size_t size, long& articles) {
        long ended = 0;
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            switch (state_) {
                case kStatus:
                    if (status_.size() < 3) status_ += c;
                    if (c != '\n') break;
                    if (status_ == "220") {
                        state_ = kLineStart;
                    } else {
                        ++ended;  // a one-line refusal: counted as a reply, not an article
                        status_.clear();
                    }
                    break;
                case kMidLine: {
                    const void* cr = std::memchr(data + i, '\r', size - i);
                    if (!cr) return ended;
                    i = static_cast<std::size_t>(static_cast<const char*>(cr) - data);
                    state_ = kCr;
                    break;
                }
                case kCr:
                    state_ = c == '\n' ? kLineStart : c == '\r' ? kCr : kMidLine;
                    break;
                case kLineStart:
                    state_ = c == '.' ? kDot : c == '\r' ? kCr : kMidLine;
                    break;
                case kDot:
                    state_ = c == '\r' ? kDotCr : kMidLine;
                    break;
                case kDotCr:
                    if (c == '\n') {
                        ++ended;
                        ++articles;
                        status_.clear();
                        state_ = kStatus;
                    } else {
                        state_ = c == '\r' ? kCr : kMidLine;
                    }
                    break;
            }
        }
        return ended;
    }

    std::size_t window_;
    int fd_ = -1;
    State state_ = kStatus;
    std::string status_;
    std::vector<char> buffer_ = std::vector<char>(std::size_t{64} * 1024);
};

}  // namespace qm::bench
