#include "app/StatusFormat.h"

#include <cstdio>

namespace qm {

std::string GroupThousands(std::int64_t value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string out = value < 0 ? "-" : "";
    size_t lead = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i >= lead && (i - lead) % 3 == 0) out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

std::string ProgressText(long done, long total, int& percent) {
    if (total == 0) {
        done = 0;
        total = 1;
    }
    percent = static_cast<int>(static_cast<std::int64_t>(done) * 100 / total);
    return std::to_string(done) + " of " + std::to_string(total) + " (" + std::to_string(percent) +
           "%)";
}

std::string RateText(std::int64_t bytes, double seconds) {
    return seconds > 0
               ? std::to_string(static_cast<std::int64_t>(static_cast<double>(bytes) / seconds))
               : "0";
}

std::string TimeLeftText(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    char buf[64];
    if (days == 0) {
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(rest / 3600),
                      static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    } else {
        std::snprintf(buf, sizeof buf, "%lld %02d:%02d:%02d", static_cast<long long>(days),
                      static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                      static_cast<int>(rest % 60));
    }
    return buf;
}

std::string ElapsedText(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%2d:%02d:%02d", static_cast<int>(seconds / 3600 % 24),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return buf;
}

std::int64_t GroupSecondsLeft(std::int64_t pendingLines, std::int64_t binaryRate) {
    return binaryRate < 1 ? 0 : pendingLines * 60 / binaryRate;
}

}  // namespace qm
