#include "engine/EngineState.h"

#include "settings/SettingsKeys.h"

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

void EngineState::NoteConnectionLost() {
    stop = true;
    if (socket && socket->AbortedByStop()) return;
    finalStatus = "Error--connection to " + settings.host + " lost";
}

}  // namespace qm
