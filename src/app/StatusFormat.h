#pragma once
// How status values look: thousands grouping, progress texts, rates and the time left in a group.
// Shared by every front end so the terminal and the window show the same figures.

#include <cstdint>
#include <ctime>
#include <string>

namespace qm {

std::string GroupThousands(std::int64_t value);                 // 1234567 -> "1,234,567"
std::string ProgressText(long done, long total, int& percent);  // "3 of 12 (25%)"
std::string RateText(std::int64_t bytes, double seconds);       // "0" until seconds > 0
std::string TimeLeftText(std::int64_t seconds);                 // "01:02:05", "1 01:01:01"
// The elapsed time of a run, " 1:02:03": hours within the day, so a day and more starts again.
std::string ElapsedText(std::int64_t seconds);
// Seconds left in the group from the pending line total and the binary rate.
std::int64_t GroupSecondsLeft(std::int64_t pendingLines, std::int64_t binaryRate);

}  // namespace qm
