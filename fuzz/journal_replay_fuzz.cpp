// The replay of a run's journal, torn, corrupt or foreign. The first input byte sets the per-group
// directories (bits below); the rest is the journal, in which "$D" stands for the download
// directory, "$O" for a directory beside it and "$I" for the profile's identity at the replay.
// Whatever the journal says, the replay removes nothing but partial pictures in the save
// directories, names them only there, changes no setting but read marks, and a second replay of
// the same journal changes nothing.

#include <map>
#include <utility>

#include "FuzzSupport.h"
#include "decode/PartialPicture.h"
#include "engine/GroupProcessor.h"
#include "engine/RecoveryJournal.h"
#include "engine/RecoveryScope.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

constexpr const char* kHost = "news.example.com";

using Tree = std::map<std::string, std::string>;  // file below the root -> its content
using Settings = std::map<std::pair<std::string, std::string>, std::string>;

std::string Lower(std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
    return text;
}

Tree Snapshot(const std::string& root) {
    Tree tree;
    for (const std::string& file : FilesBelow(root)) tree[file] = ReadFile(root + file);
    return tree;
}

// Every value of the profile file, by section and key (both as the store compares them).
Settings ReadSettings(const std::string& path) {
    Settings settings;
    std::string section;
    const std::string text = ReadFile(path);
    for (std::string_view line : Lines(text)) {
        while (line.ends_with('\n') || line.ends_with('\r')) line.remove_suffix(1);
        if (line.starts_with('[') && line.ends_with(']')) {
            section = Lower(std::string(line.substr(1, line.size() - 2)));
        } else if (size_t eq = line.find('='); eq != std::string_view::npos) {
            settings[{section, Lower(std::string(line.substr(0, eq)))}] = line.substr(eq + 1);
        }
    }
    return settings;
}

bool IsServerSetting(const std::string& key) {
    for (const char* setting :
         {kUserAuthentication.Key(), kForceAuthInfo.Key(), kUsername.Key(), kPassword.Key(),
          kPromptForPasswd.Key(), kUseTLS.Key(), kTLSFingerprint.Key()}) {
        if (key == Lower(setting)) return true;
    }
    return false;
}

std::string Expand(std::string_view journal, const std::string& dl, const std::string& out,
                   const std::string& identity) {
    std::string text;
    for (size_t i = 0; i < journal.size(); ++i) {
        const char next = i + 1 < journal.size() ? journal[i + 1] : '\0';
        if (journal[i] == '$' && (next == 'D' || next == 'O' || next == 'I')) {
            text += next == 'D' ? dl : next == 'O' ? out : identity;
            ++i;
        } else {
            text += journal[i];
        }
    }
    return text;
}

// A data directory, a download directory with pictures and partial ones (also in a group's
// directory) and a directory beside it with a file of the user's and one that only looks ours.
// Each partial file says where it was made, so a named one can be traced to it.
void MakeTree(const std::string& root, uint8_t bits) {
    for (const char* dir : {"data", "dl/cars", "out"}) fs::create_directories(root + dir);
    std::string profile = "[Quarrymoth]\nNNTPHost=" + std::string(kHost) +
                          "\nDownloadDirectory=" + root + "dl/\n[" + kHost +
                          "]\nUseTLS=1\nalt.a=3\n";
    if (bits & 1) profile += "[DownloadDirs]\nEnable=1\nalt.cars=cars\n";
    if (bits & 2) profile += "UseGroupName=1\n";  // every group in a directory of its name
    WriteFile(root + "data/quarrymoth.ini", profile);
    WriteFile(root + "data/HistList", "old.jpg\n");
    WriteFile(root + "dl/pic.jpg", "picture");
    WriteFile(root + "dl/cars/old.jpg", "older picture");
    WriteFile(root + "dl/.qm-partial-1-1", "partial dl/");
    WriteFile(root + "dl/.qm-partial-1-2", "partial dl/");
    WriteFile(root + "dl/cars/.qm-partial-1-3", "partial dl/cars/");
    WriteFile(root + "out/keep.jpg", "the user's");
    WriteFile(root + "out/.qm-partial-1-4", "not ours");
}

void Replay(const std::string& root, std::string_view journal) {
    ProfileStore profile(root + "data/quarrymoth.ini");
    const std::string dl = root + "dl/";
    WriteFile(root + "data/RunJournal", Expand(journal, dl, root + "out/", profile.DiskIdentity()));
    RecoverInterruptedRun(root + "data/RunJournal", profile, root + "data/HistList",
                          root + "data/ContentIndex", RecoveryScope(profile, kHost, dl));
    FUZZ_CHECK(!fs::exists(root + "data/RunJournal"));
}

void CheckFiles(const Tree& before, const Tree& after) {
    for (const auto& [file, content] : before) {
        const auto now = after.find(file);
        if (file.starts_with("data/")) continue;  // the profile and history: checked apart
        // Only a partial picture of the download directory may go, or be named.
        if (now == after.end()) {
            FUZZ_CHECK(file.starts_with("dl/") && content.starts_with("partial "));
        } else {
            FUZZ_CHECK(now->second == content);
        }
    }
    for (const auto& [file, content] : after) {
        if (before.count(file) != 0 || file == "data/HistList") continue;
        // A new file is a named partial picture: in the directory it was made in, under a name
        // no picture in progress could have, and its partial file is gone.
        const std::string dir = file.substr(0, file.rfind('/') + 1);
        FUZZ_CHECK(content == "partial " + dir);
        FUZZ_CHECK(!IsReservedName(file.substr(dir.size())));
    }
}

// Nothing but read marks of the server's own section changes, and each only to a number.
void CheckSettings(const Settings& before, const Settings& after) {
    for (const auto& [where, value] : after) {
        const auto was = before.find(where);
        if (was != before.end() && was->second == value) continue;
        FUZZ_CHECK(where.first == kHost);
        FUZZ_CHECK(ValidGroupName(where.second) && !IsServerSetting(where.second));
        FUZZ_CHECK(!value.empty() && value.find_first_not_of("0123456789") == std::string::npos);
    }
    for (const auto& [where, value] : before) FUZZ_CHECK(after.count(where) != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    if (size == 0) return 0;
    const std::string& root = scratch.Fresh();
    MakeTree(root, data[0]);
    const std::string_view journal = AsText(data + 1, size - 1);
    const Tree before = Snapshot(root);
    const Settings settingsBefore = ReadSettings(root + "data/quarrymoth.ini");

    Replay(root, journal);
    const Tree after = Snapshot(root);
    const Settings settingsAfter = ReadSettings(root + "data/quarrymoth.ini");
    CheckFiles(before, after);
    CheckSettings(settingsBefore, settingsAfter);
    const std::string history = ReadFile(root + "data/HistList");
    FUZZ_CHECK(history.starts_with("old.jpg\n"));

    // A run killed during its replay replays the same journal again: nothing changes.
    Replay(root, journal);
    const Tree again = Snapshot(root);
    FUZZ_CHECK(again.size() == after.size());
    for (const auto& [file, content] : after) {
        const auto now = again.find(file);
        FUZZ_CHECK(now != again.end());
        // The profile file may be rewritten with the same values.
        if (file != "data/quarrymoth.ini") FUZZ_CHECK(now->second == content);
    }
    FUZZ_CHECK(ReadSettings(root + "data/quarrymoth.ini") == settingsAfter);
    return 0;
}
