#include "settings/SettingsKeys.h"

#include <array>
#include <cstdlib>

#include "util/TextFiles.h"

namespace qm {
namespace {

constexpr std::optional<std::string_view> kNone = std::nullopt;

// Key, setup page default, other readers' default.
constexpr std::array<KeyDefaults, 44> kKeys{{
    {"NNTPHost", "", ""},
    {"NNTPHost2", "", kNone},
    {"NNTPHost3", "", kNone},
    {"NNTPHost4", "", kNone},
    {"NNTPPort", "119", kNone},
    {"DownloadDirectory", "~/QMDownloadDir/", ""},
    {"MinLines", "500", "500"},
    {"MaxLines", "2500", "3000"},
    {"Reconnect", "0", "0"},
    {"ShowThumbnail", "0", "0"},
    {"ConfirmStop", "1", "1"},
    {"ConfirmCatchup", "1", "1"},
    {"ConfirmDelete", "1", "1"},
    {"MaxHist", "20000", "20000"},
    {"HistSaveFrequency", "5", "5"},
    {"SubjectIncl", "jpg:gif", ""},
    {"SubjectIncl2", "1/1:01/01", ""},
    {"UseMaxCount", "0", "0"},
    {"MaxCount", "", "0"},
    {"UseMaxDays", "0", "0"},
    {"MaxDays", "", ""},
    {"UseMaxHeaderCount", "0", "0"},
    {"MaxHeaderCount", "", "0"},
    {"UseFirstHeaderCount", "0", "0"},
    {"FirstHeaderCount", "", "0"},
    {"SubjectExcl", "", ""},
    {"LimitCrossposts", "0", "0"},
    {"CrosspostLimit", "", "0"},
    {"EnableLogging", "0", "0"},
    {"LogFile", "DownloadLog", ""},
    {"ACDSeeDescription", "0", "0"},
    {"Priority", kNone, "3"},
    {"GroupIncl", kNone, "pictures"},
    {"LoopOnList", kNone, "0"},
    {"CacheSubjects", kNone, "0"},
    {"UseArticles", kNone, "1"},
    {"LogHistAct", kNone, ""},
    {"SaveAscii", kNone, "0"},
    {"ShowXP", kNone, "0"},
    {"PipelineDepth", kNone, "4"},
    // Section DownloadDirs.
    {"Enable", "0", "0"},
    {"UseGroupName", "0", "0"},
    // Server section keys read through the same table.
    {"UserAuthentication", "0", "0"},
    {"ForceAuthInfo", "0", "0"},
}};

bool SameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

}  // namespace

const KeyDefaults* FindKeyDefaults(std::string_view key) {
    for (const KeyDefaults& k : kKeys) {
        if (SameKey(k.key, key)) return &k;
    }
    return nullptr;
}

std::string DefaultDownloadDirectory() {
    const char* home = std::getenv("HOME");
    std::string base = (home && *home) ? home : "";
    if (!base.empty() && base.back() == '/') base.pop_back();
    return base + "/QMDownloadDir/";
}

std::string ReadText(const ProfileStore& profile, std::string_view key) {
    const KeyDefaults* k = FindKeyDefaults(key);
    std::string def = (k && k->readerDefault) ? std::string(*k->readerDefault) : std::string();
    return profile.GetString(kMainSection, std::string(key), def);
}

long ReadInt(const ProfileStore& profile, std::string_view key) {
    const KeyDefaults* k = FindKeyDefaults(key);
    long def = (k && k->readerDefault) ? ProfileStore::ParseInt(std::string(*k->readerDefault)) : 0;
    return profile.GetInt(kMainSection, std::string(key), def);
}

std::string ReadPageText(const ProfileStore& profile, std::string_view key) {
    const KeyDefaults* k = FindKeyDefaults(key);
    std::string def = (k && k->pageDefault) ? std::string(*k->pageDefault) : std::string();
    if (SameKey(key, "DownloadDirectory")) def = DefaultDownloadDirectory();
    return profile.GetString(kMainSection, std::string(key), def);
}

int ConfiguredPort(const ProfileStore& profile) {
    std::string text = profile.GetString(kMainSection, "NNTPPort", "");
    size_t b = text.find_first_not_of(" \t");
    size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos) return 119;
    text = text.substr(b, e - b + 1);
    if (text.empty() || text.size() > 5) return 119;
    for (char c : text) {
        if (c < '0' || c > '9') return 119;
    }
    long port = std::strtol(text.c_str(), nullptr, 10);
    return (port >= 1 && port <= 65535) ? static_cast<int>(port) : 119;
}

}  // namespace qm
