#pragma once
// DelayProxy: a TCP relay on 127.0.0.1 that makes a local server look distant. Every chunk read
// on either side is passed on a fixed time after it arrived, in order, so a 10 ms one-way delay
// gives the 20 ms round trip of a server across a country. Optionally each connection's
// throughput is capped in each direction, as a subscriber's line is. It counts the bytes it
// relays. When one side closes, what is still on its way is delivered and the other side is
// closed too.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

class DelayProxy {
public:
    // bytesPerSecond > 0 caps each connection's throughput in each direction.
    DelayProxy(int targetPort, std::chrono::milliseconds oneWayDelay,
               std::uint64_t bytesPerSecond = 0);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    // Listens on a free loopback port and accepts connections in its own thread; each one is
    // relayed to 127.0.0.1:targetPort. False (see error()) when it cannot listen.
    bool Start();
    // Ends every relayed connection and stops listening; returns when all its threads are gone.
    void Stop();

    int port() const { return port_; }
    const std::string& error() const { return error_; }

    // The cap for connections accepted from now on (0: none).
    void SetBytesPerSecond(std::uint64_t bytesPerSecond) { bytesPerSecond_ = bytesPerSecond; }
    // Bytes passed on so far, over all connections: towards the server and towards the client.
    std::uint64_t BytesToServer() const { return counts_.toServer; }
    std::uint64_t BytesToClient() const { return counts_.toClient; }
    // Connections relayed so far.
    int Connections() const { return accepted_; }
    void ResetCounts() {
        counts_.toServer = 0;
        counts_.toClient = 0;
    }

private:
    class Relay;  // one accepted connection and its connection to the target
    struct Counts {
        std::atomic<std::uint64_t> toServer{0}, toClient{0};
    };

    void AcceptLoop();
    void Reap();

    int targetPort_;
    std::chrono::milliseconds delay_;
    std::atomic<std::uint64_t> bytesPerSecond_;
    Counts counts_;
    std::atomic<int> accepted_{0};
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};  // a byte on the pipe ends the accept loop
    int port_ = 0;
    std::string error_;
    std::thread acceptor_;
    std::mutex mutex_;  // guards relays_ between the accept loop and Stop
    std::vector<std::unique_ptr<Relay>> relays_;
};

}  // namespace qm::test
