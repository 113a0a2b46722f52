#pragma once
// ScriptServer: a scripted news server for tests. It listens on a free loopback port, serves one
// connection after another in its own thread, answers each command line from a script, records
// the commands it received, and misbehaves on cue (drops, stalls, dribbles, delays).

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qm::test {

class RawDeflate;

// One response. text is sent as raw bytes: write the "\r\n" line ends, and the ".\r\n" of a
// multi-line reply, yourself. An empty text sends nothing (the options still apply).
// Spell it out when passing it: On("ARTICLE", Reply{.text = "...", .dropAfterBytes = 40}).
struct Reply {
    std::string text{};
    int delayMs = 0;              // pause before sending
    size_t chunkSize = 0;         // > 0: send in pieces of this many bytes...
    int chunkDelayMs = 2;         // ...with this pause between pieces
    bool splitFirstLine = false;  // first line and the rest in two writes, as INN does
    long dropAfterBytes = -1;     // >= 0: close the connection after this many bytes of text
    bool closeAfter = false;      // close the connection once the text is sent
    bool silent = false;          // send nothing until Release() (then the text) or Stop()
    // After this reply the connection runs through raw deflate both ways (as after a 206):
    // commands are inflated, replies deflated and flushed piece by piece.
    bool compressAfter = false;
    bool raw = false;  // on a compressed connection: text goes out as it is, not deflated
};

class ScriptServer {
public:
    using Responder = std::function<Reply(const std::string& command)>;
    using TextResponder = std::function<std::string(const std::string& command)>;

    // Starts listening on 127.0.0.1 (or ::1 when ipv6) and serving at once.
    explicit ScriptServer(bool ipv6 = false);
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    bool Listening() const { return port_ != 0; }
    int port() const { return port_; }

    // From now on each connection is served on a thread of its own, beside those already open
    // (a client with several connections); by default they are served one after another.
    void ServeConcurrently();

    // The greeting of every connection; default "200 test server ready\r\n". An empty text sends
    // no greeting; closeAfter closes right after it.
    void SetGreeting(Reply greeting);
    // Greetings for successive connections; the last one repeats.
    void SetGreetings(std::vector<Reply> greetings);

    // Rules: a command (its line without CR LF) is answered by the rule with the longest prefix
    // it starts with (case-sensitive); among rules with the same prefix the latest added wins, so
    // adding a rule again replaces it.
    void On(const std::string& prefix, std::string text);
    void On(const std::string& prefix, Reply reply);
    void On(const std::string& prefix, TextResponder respond);
    void On(const std::string& prefix, Responder respond);
    // Successive matching commands get successive replies; the last one repeats.
    void OnSequence(const std::string& prefix, std::initializer_list<std::string> texts);
    void OnSequence(const std::string& prefix, const std::vector<std::string>& texts);
    void OnSequence(const std::string& prefix, std::vector<Reply> replies);
    // Reply to commands no rule matches; default "500 unknown command\r\n".
    void SetDefault(Reply reply);

    // Lets every silent reply held at this moment go out.
    void Release();
    // Ends the serving thread and closes every connection, also while a reply is held.
    void Stop();

    // Every command line received, without its CR LF, in order (over all connections).
    std::vector<std::string> Received() const;
    int Connections() const;

private:
    struct Rule {
        std::string prefix{};
        std::vector<Reply> sequence{};  // used when respond is empty
        size_t next = 0;
        Responder respond{};
    };

    void Listen(bool ipv6);
    void Serve();
    bool ServeConnection(int fd);
    bool Answer(int fd, const std::string& command);
    Reply ReplyFor(const std::string& command);
    bool SendReply(int fd, const Reply& reply);
    bool SendAll(int fd, const char* data, size_t size);
    bool SendPiece(int fd, std::string_view piece, const Reply& reply);
    bool Pause(int ms);
    bool WaitForRelease(int fd);
    bool Stopping() const;
    void AddRule(Rule rule);

    int listenFd_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::uint64_t releases_ = 0;
    std::vector<Reply> greetings_;
    Reply default_;
    std::vector<Rule> rules_;  // in the order added
    std::vector<std::string> received_;
    int connections_ = 0;
    std::unique_ptr<RawDeflate> deflate_;  // the compressed connection being served, if any
    std::thread thread_;
    bool concurrent_ = false;
    std::vector<std::thread> servers_;  // of connections served concurrently
};

}  // namespace qm::test
