#include "engine/EngineState.h"

#include <cerrno>
#include <cstring>

#include "settings/SettingsKeys.h"
#include "util/TextFiles.h"

namespace qm {

EngineSettings EngineSettings::Snapshot(const ProfileStore& profile) {
    EngineSettings s;
    s.logHistoryHits = ReadText(profile, "LogHistAct") == "yes";
    s.enableLogging = ReadInt(profile, "EnableLogging") != 0;
    s.logFile = ReadText(profile, "LogFile");
    s.subjectIncl = ReadText(profile, "SubjectIncl");
    s.subjectIncl2 = ReadText(profile, "SubjectIncl2");
    s.subjectExcl = ReadText(profile, "SubjectExcl");
    s.minLines = ReadInt(profile, "MinLines");
    s.maxLines = ReadInt(profile, "MaxLines");
    s.limitCrossposts = ReadInt(profile, "LimitCrossposts") != 0;
    s.crosspostLimit = s.limitCrossposts ? ReadInt(profile, "CrosspostLimit") : 0;
    s.histSaveFrequency = ReadInt(profile, "HistSaveFrequency");
    s.acdSeeDescription = ReadInt(profile, "ACDSeeDescription") != 0;
    s.saveAscii = ReadInt(profile, "SaveAscii") != 0;
    s.showXP = ReadInt(profile, "ShowXP") != 0;
    s.host = ReadText(profile, "NNTPHost");
    s.port = ConfiguredPort(profile);
    s.downloadDirectory = ReadText(profile, "DownloadDirectory");
    s.maxHist = ReadInt(profile, "MaxHist");
    s.loopOnList = ReadInt(profile, "LoopOnList") != 0;
    return s;
}

void EngineState::SetReadMark(const std::string& group, long number) {
    if (!journal.NoteMark(settings.host, group, number)) NoteJournalFailure(errno);
    const std::uint64_t saves = profile.SaveCount();
    if (!profile.WriteIntSoon(settings.host, group, number)) {
        NoteMarksUnsaved(errno);
        return;
    }
    // Everything journaled so far is in the file now.
    if (profile.SaveCount() != saves && !journal.Reset(profile.DiskIdentity())) {
        NoteJournalFailure(errno);
    }
}

void EngineState::NoteWriteFailure(int err, const std::string& where) {
    stop = true;
    if (IsDiskFullError(err)) {
        finalStatus = "Error--disk or directory full";
    } else {
        finalStatus = "Error--unable to write to " + where + ": " + std::strerror(err);
    }
}

void EngineState::NoteJournalFailure(int err) {
    NoteWriteFailure(err, CurrentDirectory());
}

void EngineState::NoteMarksUnsaved(int err) {
    stop = true;
    finalStatus = "Error--unable to save the read marks in " + profile.Path() + ": " +
                  std::strerror(err != 0 ? err : EIO);
}

void EngineState::NoteConnectionLost() {
    stop = true;
    if (socket && socket->AbortedByStop()) return;
    finalStatus = "Error--connection to " + settings.host + " lost";
}

}  // namespace qm
