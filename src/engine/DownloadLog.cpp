#include "engine/DownloadLog.h"

#include "settings/DataFiles.h"
#include "util/TextFiles.h"

namespace qm {

bool AppendDownloadLog(const std::string& logFile, const std::string& saveDirectory,
                       const std::string& name, const std::string& sender,
                       const std::string& note) {
    if (logFile.empty()) return false;
    const std::string noted = note.empty() ? "" : " -- " + note;
    return AppendToFile(logFile, saveDirectory + name + " -> " + sender + noted + "\n");
}

bool AppendDescription(const std::string& saveDirectory, const std::string& name,
                       const std::string& subject, const std::string& sender) {
    return AppendToFile(saveDirectory + kDescriptionFile,
                        Lowercase(name) + " " + subject + " -> " + sender + "\n");
}

}  // namespace qm
