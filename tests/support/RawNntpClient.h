#pragma once
// RawNntpClient: a deliberately plain, blocking NNTP client over a loopback socket, for driving
// real test servers without relying on the product's own networking code.

#include <chrono>
#include <string>
#include <vector>

namespace qm::test {

class RawNntpClient {
public:
    explicit RawNntpClient(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ~RawNntpClient();
    RawNntpClient(const RawNntpClient&) = delete;
    RawNntpClient& operator=(const RawNntpClient&) = delete;

    // Connects to 127.0.0.1:port and reads the greeting line (available from greeting()).
    bool Connect(int port);
    void Close();
    bool connected() const { return fd_ >= 0; }
    const std::string& greeting() const { return greeting_; }

    // Sends one command line (CR LF added) and returns the status line, "" on failure.
    std::string Command(const std::string& line);
    // Reads the lines of a multi-line reply up to the terminating ".", un-dot-stuffed.
    // False when the connection fails before the terminator.
    bool ReadBlock(std::vector<std::string>& lines);
    // Sends raw bytes as they are.
    bool SendRaw(const std::string& data);
    // Next line without its line end; false on timeout, error or end of stream.
    bool ReadLine(std::string& line);

    // The three-digit code at the start of a status line, 0 when there is none.
    static int Code(const std::string& statusLine);

private:
    int fd_ = -1;
    std::chrono::milliseconds timeout_;
    std::string buffer_;
    std::string greeting_;
};

}  // namespace qm::test
