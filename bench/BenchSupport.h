#pragma once
// What the benchmark programs share: a clock, a repeatable random source, a throw-away directory,
// the machine's load, and a profile as a long-time user has it.

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace qm::bench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// xorshift64: the same numbers for the same seed on every machine.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed ? seed : 1) {}
    std::uint64_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    double Unit() { return static_cast<double>(Next() >> 11) / static_cast<double>(1ull << 53); }

private:
    std::uint64_t state_;
};

// A new directory named prefix + six random characters (path "" when it cannot be made),
// removed with everything in it when the object goes away.
class WorkDir {
public:
    explicit WorkDir(const char* prefix) : path_(std::string(prefix) + "XXXXXX") {
        if (!::mkdtemp(path_.data())) path_.clear();
    }
    ~WorkDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// "1.23 0.98": the one- and five-minute load averages, printed beside every figure.
inline std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five;
    in >> one >> five;
    return one + " " + five;
}

// A profile as a long-time user has it: every main key, and the read marks of two servers with
// groupsPerServer groups each. confirm: the Stop, Catch-up and Delete questions on or off.
inline std::string RealisticProfile(const char* host, int port, const std::string& downloadDir,
                                    const std::string& logFile, bool confirm,
                                    long histSaveFrequency, int groupsPerServer) {
    const char* asks = confirm ? "1" : "0";
    std::ostringstream out;
    out << "[Quarrymoth]\nNNTPHost=" << host << "\nNNTPHost2=news.example.net\nNNTPPort=" << port
        << "\nDownloadDirectory=" << downloadDir
        << "\nMinLines=1\nMaxLines=1000000\nReconnect=0\nShowThumbnail=1\nConfirmStop=" << asks
        << "\nConfirmCatchup=" << asks << "\nConfirmDelete=" << asks
        << "\nMaxHist=20000\nHistSaveFrequency=" << histSaveFrequency
        << "\nSubjectIncl=jpg\nSubjectIncl2=1/1:01/01\nUseMaxCount=0\nMaxCount=\nUseMaxDays=0\n"
           "MaxDays=\nUseMaxHeaderCount=0\nMaxHeaderCount=\nUseFirstHeaderCount=0\n"
           "FirstHeaderCount=\nSubjectExcl=\nLimitCrossposts=0\nCrosspostLimit=\n"
           "EnableLogging=1\nLogFile="
        << logFile
        << "\nACDSeeDescription=1\nPriority=3\nGroupIncl=pictures\nLoopOnList=0\n"
           "CacheSubjects=0\nUseArticles=1\n\n[DownloadDirs]\nEnable=0\nUseGroupName=0\n";
    for (const char* server : {"news.example.net", host}) {
        out << "\n[" << server << "]\nUserAuthentication=0\n";
        for (int g = 0; g < groupsPerServer; ++g) {
            out << "alt.binaries.pictures.topic" << g << "=" << 100000 + g * 7919 << "\n";
        }
    }
    return out.str();
}

}  // namespace qm::bench
