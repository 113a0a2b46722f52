#pragma once
// CLineSocket: the one NNTP connection of a thread. The caller sends one command line, then reads
// reply lines one at a time, each returned whole with its line end exactly as received.

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "net/DeflateStream.h"
#include "net/TlsSession.h"

struct sockaddr;

namespace qm {

class CLineSocket {
public:
    enum State { Idle = 1, Connecting = 2, Connected = 5, Failed = 6 };

    struct Timeouts {
        std::chrono::milliseconds connect{30000};
        std::chrono::milliseconds idle{120000};     // nothing arrives while a reply is awaited
        std::chrono::milliseconds stopGrace{2000};  // how long a requested stop may wait
    };

    // Idle; the socket handle itself is made when connecting, once the address family is known.
    CLineSocket() = default;
    ~CLineSocket();
    CLineSocket(const CLineSocket&) = delete;
    CLineSocket& operator=(const CLineSocket&) = delete;

    // Connects to host:port (IPv4 or IPv6) and reads and discards the greeting line, whatever it
    // says. Returns 1 when connected and a greeting arrived, 0 otherwise (an unresolvable host
    // leaves the state unchanged; any other failure leaves it Failed or Idle).
    int ConnectToServer(const std::string& host, int port);
    // The same without reading the greeting, for a connection that starts TLS first: 1 when
    // connected. ReadGreeting() then reads and discards it (true when one arrived).
    int Connect(const std::string& host, int port);
    bool ReadGreeting();

    // Starts TLS on the connected socket (at once for NNTPS, or after the server's 382 to
    // STARTTLS), within the connect timeout and obeying the stop check. Lines then go through
    // the session with every promise above kept. Unless the result is accepted the connection
    // is closed (Failed) and nothing has been sent over it: the caller may show the result's
    // fingerprint and connect again accepting it.
    TlsResult StartTls(const TlsOptions& options);
    bool UsesTls() const { return tls_ != nullptr; }

    // After the server's 206 to COMPRESS DEFLATE: from now on every byte sent is deflated and
    // every byte received inflated (inside TLS when TLS is on), with the line cap, the timeouts
    // and the stop check as before. Bytes that came after the 206 are the start of the
    // compressed stream. False (Failed) when not connected or zlib cannot set up the streams.
    // Data that does not inflate breaks the connection (Failed).
    bool StartCompression();
    // True from StartCompression until the next connection, also once this one has failed.
    bool UsesCompression() const { return compressed_; }

    // Takes over a descriptor that is already connected (one end of a socketpair, say), without
    // any greeting: the object is Connected and owns fd from now on. False (fd closed) when it
    // cannot be made non-blocking.
    bool Adopt(int fd);

    // Gives the connection up because a stop was requested in the middle of a reply: what is
    // still on the way would answer the next command, so the connection is closed (Failed, with
    // AbortedByStop() true) and nothing more is sent on it.
    void AbandonForStop();
    // Closes the connection on purpose (a server that would not secure it): Failed, nothing
    // more is sent.
    void Disconnect();

    // Sends the whole text before returning (the caller supplies "\r\n"); errors and timeouts
    // show only in the state. An empty text, or a socket not Connected, does nothing.
    void SendLine(const std::string& text);

    // The next reply line with its line end, or "" when no line can be had.
    std::string ReadLine();
    // The same, into line (reusing its capacity); false when no line can be had.
    bool ReadLine(std::string& line);

    // The greeting line read when connecting ("" before one arrived).
    const std::string& Greeting() const { return greeting_; }

    State state() const { return state_; }
    bool IsConnected() const { return state_ == Connected; }
    const std::string& ErrorText() const { return errorText_; }
    // True when the connection was given up because a stop was requested while waiting.
    bool AbortedByStop() const { return abortedByStop_; }
    // True when the connection was given up because the connect or idle timeout ran out.
    bool TimedOut() const { return timedOut_; }

    // Called before every line read (the engine's pause gate).
    void SetBeforeReadHook(std::function<void()> hook) { beforeRead_ = std::move(hook); }
    // Asked while waiting on the network; once it answers true, waiting goes on for at most the
    // stop grace, then the connection is closed as Failed and AbortedByStop() turns true.
    void SetStopCheck(std::function<bool()> check) { stopCheck_ = std::move(check); }
    void SetTimeouts(const Timeouts& t) { timeouts_ = t; }
    std::chrono::milliseconds StopGrace() const { return timeouts_.stopGrace; }

    static constexpr size_t kReceiveChunk = size_t{64} << 10;
    static constexpr size_t kMaxLineLength = size_t{1} << 20;

private:
    using Clock = std::chrono::steady_clock;

    bool CreateSocket(int family);
    bool TryAddress(const sockaddr* address, unsigned length, Clock::time_point deadline);
    void Fail();
    void CloseSocket();
    // Waits for events on the socket until deadline or until the stop grace has run out; on
    // giving up the connection is closed as Failed and false is returned.
    bool WaitFor(short events, Clock::time_point deadline);
    void Restart();
    bool ReceiveChunk();
    // Up to size bytes as they come off the wire (decrypted when TLS is on) into into.
    bool ReceiveRaw(char* into, size_t size, size_t& got);
    bool ReceivePlain(char* into, size_t size, size_t& got);
    bool ReceiveTls(char* into, size_t size, size_t& got);
    bool ReceiveInflated();
    void SendRaw(const char* data, size_t size);
    void SendPlain(const char* data, size_t size);
    void SendTls(const char* data, size_t size);
    bool TakeLine(std::string& line);
    void MakeRoom();
    void ResetBuffer();

    int fd_ = -1;
    State state_ = Idle;
    std::string errorText_;
    std::string greeting_;
    // Received bytes live in one buffer: [begin_, end_) is not yet handed out, and no LF lies in
    // [begin_, scanned_), so a long line arriving in many chunks is searched only once.
    std::unique_ptr<char[]> buffer_;
    size_t capacity_ = 0;
    size_t begin_ = 0;
    size_t end_ = 0;
    size_t scanned_ = 0;
    bool abortedByStop_ = false;
    bool timedOut_ = false;
    bool compressed_ = false;
    std::optional<Clock::time_point> stopSeenAt_;
    Timeouts timeouts_;
    std::function<void()> beforeRead_;
    std::function<bool()> stopCheck_;
    std::unique_ptr<TlsSession> tls_;
    std::unique_ptr<DeflateStream> deflate_;
    std::string compressedOut_;  // reused for each deflated command
};

}  // namespace qm
