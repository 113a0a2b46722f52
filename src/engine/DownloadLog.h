#pragma once
// The two record files of saved pictures: the user's download log and the per-directory
// "Descript.ion" read by image viewers. Each line is appended with its own open and close, so
// the lines of an interrupted run are already on disk; a file that cannot be opened (an empty
// name included) drops the line silently.

#include <string>

namespace qm {

// Appends saveDirectory + name + " -> " + sender + "\n" to logFile, with " -- " + note before the
// line end when there is a note. False when nothing was written.
bool AppendDownloadLog(const std::string& logFile, const std::string& saveDirectory,
                       const std::string& name, const std::string& sender,
                       const std::string& note = "");

// Appends the name (lowercased) + " " + subject + " -> " + sender + "\n" to the file
// saveDirectory + "Descript.ion". False when nothing was written.
bool AppendDescription(const std::string& saveDirectory, const std::string& name,
                       const std::string& subject, const std::string& sender);

}  // namespace qm
