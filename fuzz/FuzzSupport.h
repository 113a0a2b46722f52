#pragma once
// What the fuzz targets share: a failed property aborts with its text (libFuzzer keeps the input),
// a scratch directory per process, input cutting, and a news server's side of a socketpair that
// replays the input as the server's byte stream.

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/ArticleSelector.h"
#include "engine/EngineState.h"
#include "engine/HistoryList.h"
#include "settings/SettingsKeys.h"
#include "support/NullStatus.h"

#define FUZZ_CHECK(cond)                                                                     \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

namespace qm::fuzz {

namespace fs = std::filesystem;

inline std::string_view AsText(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Cuts text at every sep; n pieces for n - 1 separators.
inline std::vector<std::string_view> Split(std::string_view text, char sep) {
    std::vector<std::string_view> parts;
    for (size_t at; (at = text.find(sep)) != std::string_view::npos; text.remove_prefix(at + 1))
        parts.push_back(text.substr(0, at));
    parts.push_back(text);
    return parts;
}

// Lines with their "\n" (the last one without it when the text does not end in one).
inline std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        end = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
    return lines;
}

inline void WriteFile(const std::string& path, std::string_view content) {
    std::ofstream(path, std::ios::binary).write(content.data(), std::streamsize(content.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every regular file below dir, as paths relative to it.
inline std::vector<std::string> FilesBelow(const std::string& dir) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_directory()) files.push_back(entry.path().lexically_relative(dir).string());
    }
    return files;
}

// One directory for the whole process (a fuzzer runs millions of inputs); Fresh() empties it.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "qm-fuzz.XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path_ = pattern + "/";
    }
    ~ScratchDir() { fs::remove_all(path_); }
    const std::string& Fresh() {
        for (const auto& entry : fs::directory_iterator(path_)) fs::remove_all(entry.path());
        return path_;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A command line as the engine must send it: printable bytes, then CR LF.
inline bool IsCommandLine(std::string_view line) {
    if (line.size() < 3 || !line.ends_with("\r\n")) return false;
    for (char c : line.substr(0, line.size() - 2)) {
        if (c < 0x20 || c > 0x7e) return false;
    }
    return true;
}

// The server's end of a socketpair: a thread sends `replies` and then closes its writing half,
// whatever the engine asks; the engine's end goes to CLineSocket::Adopt.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::string_view replies) {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
        engineEnd_ = fds[0];
        peer_ = fds[1];
        writer_ = std::thread([this, replies] {
            for (size_t n = 0; n < replies.size();) {
                ssize_t sent = ::send(peer_, replies.data() + n, replies.size() - n, MSG_NOSIGNAL);
                if (sent <= 0) break;  // the engine has closed its end
                n += static_cast<size_t>(sent);
            }
            ::shutdown(peer_, SHUT_WR);
        });
    }
    ~ScriptedPeer() {
        if (writer_.joinable()) writer_.join();
        ::close(peer_);
    }
    int EngineEnd() const { return engineEnd_; }

    // Once the engine has closed its end: every byte it sent.
    std::string Received() {
        writer_.join();
        std::string text;
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(peer_, buf, sizeof buf, 0)) > 0) text.append(buf, size_t(n));
        return text;
    }

private:
    int engineEnd_ = -1;
    int peer_ = -1;
    std::thread writer_;
};

class NoPrompt : public UserPrompt {
public:
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    bool AskPassword(std::string&) override { return false; }
};

// An engine as a run sets it up, with its working files in data/ and its pictures in
// w/x/save/ of root: three levels deep, so that a name climbing out lands where it is seen.
struct EngineRig {
    static constexpr const char* kHost = "news.example.com";
    static constexpr const char* kGroup = "alt.binaries.pictures.test";

    EngineRig(const std::string& root, const std::string& settings)
        : root(root),
          data(root + "data/"),
          save(root + "w/x/save/"),
          profile(WriteProfile(settings)) {
        engine.settings = EngineSettings::Snapshot(profile);
        engine.history = &history;
        engine.selector = &selector;
        engine.saveDirectory = save;
        engine.currentGroup = kGroup;
    }

    // The engine works in its data directory, as the runner starts it; fuzzer findings are written
    // to the directory the fuzzer was started in.
    template <typename Fn>
    void InDataDirectory(Fn&& fn) {
        fs::path previous = fs::current_path();
        fs::current_path(data);
        fn();
        fs::current_path(previous);
    }

    void Connect(ScriptedPeer& peer) {
        if (!engine.session.Adopt(kHost, peer.EngineEnd())) std::abort();
    }

    std::string WriteProfile(const std::string& settings) const {
        fs::create_directories(data);
        fs::create_directories(save);
        WriteFile(data + "quarrymoth.ini", "[Quarrymoth]\nNNTPHost=" + std::string(kHost) +
                                               "\nDownloadDirectory=" + save +
                                               "\nMinLines=0\nSubjectIncl=jpg:gif\n" + settings);
        return data + "quarrymoth.ini";
    }

    // No file outside the save directory but the engine's own, at most maxPictures inside it, and
    // no history entry that names a directory.
    void CheckFiles(size_t maxPictures) const {
        size_t pictures = 0;
        for (const std::string& file : FilesBelow(root)) {
            if (file.starts_with("w/x/save/")) {
                ++pictures;
            } else {
                FUZZ_CHECK(file == "data/quarrymoth.ini" || file == "data/HistList" ||
                           file == "data/~HistList" || file == "data/HistLog.txt" ||
                           file == "data/RunJournal");
            }
        }
        FUZZ_CHECK(pictures <= maxPictures);
        for (const std::string& entry : history.Entries()) {
            FUZZ_CHECK(entry != "." && entry != ".." && entry.find('/') == std::string::npos);
        }
    }

    std::string root, data, save;
    ProfileStore profile;
    test::NullStatus status;
    NoPrompt prompt;
    SharedState shared;
    EngineState engine{profile, status, prompt, shared};
    HistoryList history{data};
    ArticleSelector selector{SelectionSettings::From(EngineSettings::Snapshot(profile)), status,
                             shared, data};
};

}  // namespace qm::fuzz
