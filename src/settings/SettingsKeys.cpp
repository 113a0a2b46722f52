#include "settings/SettingsKeys.h"

#include <cstdlib>

namespace qm {

std::string PageField::Read(const ProfileStore& profile) const {
    return profile.GetString(section, key, pageDefaultFn ? pageDefaultFn() : pageDefault);
}

bool PageField::Flag(const ProfileStore& profile) const {
    return ProfileStore::ParseInt(Read(profile)) != 0;
}

std::string TextSetting::Read(const ProfileStore& profile) const {
    return profile.GetString(section_, key_, readerDefault_);
}

std::string TextSetting::ReadPage(const ProfileStore& profile) const {
    const std::string def = pageDefaultFn_ ? pageDefaultFn_() : (pageDefault_ ? pageDefault_ : "");
    return profile.GetString(section_, key_, def);
}

bool TextSetting::Write(ProfileStore& profile, const std::string& value) const {
    return profile.WriteString(section_, key_, value);
}

ProfileStore::Change TextSetting::Change(std::string value) const {
    return {section_, key_, std::move(value)};
}

long IntSetting::Read(const ProfileStore& profile) const {
    return profile.GetInt(section_, key_, readerDefault_);
}

std::string IntSetting::ReadPage(const ProfileStore& profile) const {
    return profile.GetString(section_, key_, pageDefault_ ? pageDefault_ : "");
}

bool IntSetting::PageFlag(const ProfileStore& profile) const {
    return ProfileStore::ParseInt(ReadPage(profile)) != 0;
}

bool IntSetting::Write(ProfileStore& profile, long value) const {
    return profile.WriteInt(section_, key_, value);
}

ProfileStore::Change IntSetting::Change(long value) const {
    return {section_, key_, std::to_string(value)};
}

ProfileStore::Change IntSetting::ChangeText(std::string text) const {
    return {section_, key_, std::move(text)};
}

std::string ServerTextSetting::Read(const ProfileStore& profile, const std::string& host) const {
    return profile.GetString(host, key_, default_);
}

bool ServerTextSetting::Write(ProfileStore& profile, const std::string& host,
                              const std::string& value) const {
    return profile.WriteString(host, key_, value);
}

ProfileStore::Change ServerTextSetting::Change(const std::string& host, std::string value) const {
    return {host, key_, std::move(value)};
}

long ServerIntSetting::Read(const ProfileStore& profile, const std::string& host) const {
    return profile.GetInt(host, key_, default_);
}

bool ServerIntSetting::Write(ProfileStore& profile, const std::string& host, long value) const {
    return profile.WriteInt(host, key_, value);
}

ProfileStore::Change ServerIntSetting::Change(const std::string& host, long value) const {
    return {host, key_, std::to_string(value)};
}

std::string DefaultDownloadDirectory() {
    const char* home = std::getenv("HOME");
    std::string base = (home && *home) ? home : "";
    if (!base.empty() && base.back() == '/') base.pop_back();
    return base + "/QMDownloadDir/";
}

long ReadMark(const ProfileStore& profile, const std::string& host, const std::string& group,
              long missing) {
    return profile.GetInt(host, group, missing);
}

ProfileStore::Change ReadMarkChange(const std::string& host, const std::string& group, long mark) {
    return {host, group, std::to_string(mark)};
}

std::string GroupDirectory(const ProfileStore& profile, const std::string& group) {
    return profile.GetString(kDownloadDirsSection, group, "");
}

bool WriteGroupDirectory(ProfileStore& profile, const std::string& group, const std::string& sub) {
    return profile.WriteString(kDownloadDirsSection, group, sub);
}

int ConfiguredPort(const ProfileStore& profile) {
    std::string text = kNNTPPort.Read(profile);
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
