#pragma once
// DelayProxy: a TCP relay on 127.0.0.1 that makes a local server look distant. Every chunk read
// on either side is passed on a fixed time after it arrived, in order, with no other limit on
// throughput, so a 10 ms one-way delay gives the 20 ms round trip of a server across a country.
// When one side closes, what is still on its way is delivered and the other side is closed too.

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

class DelayProxy {
public:
    DelayProxy(int targetPort, std::chrono::milliseconds oneWayDelay);
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

private:
    class Relay;  // one accepted connection and its connection to the target

    void AcceptLoop();
    void Reap();

    int targetPort_;
    std::chrono::milliseconds delay_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};  // a byte on the pipe ends the accept loop
    int port_ = 0;
    std::string error_;
    std::thread acceptor_;
    std::mutex mutex_;  // guards relays_ between the accept loop and Stop
    std::vector<std::unique_ptr<Relay>> relays_;
};

}  // namespace qm::test
