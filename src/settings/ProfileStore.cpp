#include "settings/ProfileStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "settings/TextFiles.h"

namespace qm {
namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string OneLine(std::string value) {
    for (char& c : value) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return value;
}

}  // namespace

bool ProfileStore::Load(std::string path) {
    std::lock_guard lock(mutex_);
    path_ = std::move(path);
    sections_.clear();
    sections_.push_back(Section{});
    readOnly_ = false;
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        if (errno == ENOENT || access(path_.c_str(), F_OK) != 0) return true;
        readOnly_ = true;
        return false;
    }
    std::string line;
    while (ReadTextLine(in, line)) {
        std::string t = Trim(line);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            sections_.push_back(Section{Trim(t.substr(1, t.size() - 2)), line, {}});
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos || t.empty() || t[0] == ';' || t[0] == '#') {
            sections_.back().lines.push_back(Line{line, "", ""});
            continue;
        }
        std::string key = Trim(line.substr(0, eq));
        if (key.empty()) {
            sections_.back().lines.push_back(Line{line, "", ""});
            continue;
        }
        sections_.back().lines.push_back(Line{line, key, line.substr(eq + 1)});
    }
    if (in.bad()) readOnly_ = true;
    return !readOnly_;
}

bool ProfileStore::Writable() const {
    std::lock_guard lock(mutex_);
    return !readOnly_ && !path_.empty();
}

const ProfileStore::Section* ProfileStore::FindSection(const std::string& name) const {
    // Skip the unnamed leading block: a section name is never empty in a lookup.
    for (size_t i = 1; i < sections_.size(); ++i) {
        if (EqualNoCase(sections_[i].name, name)) return &sections_[i];
    }
    return nullptr;
}

ProfileStore::Section& ProfileStore::SectionFor(const std::string& name) {
    if (const Section* s = FindSection(name)) return const_cast<Section&>(*s);
    if (sections_.empty()) sections_.push_back(Section{});
    sections_.push_back(Section{name, "[" + name + "]", {}});
    return sections_.back();
}

std::string ProfileStore::GetString(const std::string& section, const std::string& key,
                                    const std::string& def) const {
    std::lock_guard lock(mutex_);
    const Section* s = FindSection(section);
    if (!s) return def;
    for (const Line& l : s->lines) {
        if (!l.key.empty() && EqualNoCase(l.key, key)) return l.value;
    }
    return def;
}

long ProfileStore::ParseInt(const std::string& text) {
    return LeadingNumber(text);
}

long ProfileStore::GetInt(const std::string& section, const std::string& key, long def) const {
    std::lock_guard lock(mutex_);
    const Section* s = FindSection(section);
    if (!s) return def;
    for (const Line& l : s->lines) {
        if (!l.key.empty() && EqualNoCase(l.key, key)) return ParseInt(l.value);
    }
    return def;
}

void ProfileStore::SetLocked(const std::string& section, const std::string& key,
                             const std::string& value) {
    Section& s = SectionFor(section);
    std::string v = OneLine(value);
    for (Line& l : s.lines) {
        if (!l.key.empty() && EqualNoCase(l.key, key)) {
            l.value = v;
            l.raw.clear();
            return;
        }
    }
    // New keys go after the section's last key, so trailing blank lines stay between sections.
    size_t pos = s.lines.size();
    while (pos > 0 && s.lines[pos - 1].key.empty() && Trim(s.lines[pos - 1].raw).empty()) --pos;
    s.lines.insert(s.lines.begin() + static_cast<long>(pos), Line{"", OneLine(key), v});
}

bool ProfileStore::WriteString(const std::string& section, const std::string& key,
                               const std::string& value) {
    std::lock_guard lock(mutex_);
    SetLocked(section, key, value);
    return SaveLocked();
}

bool ProfileStore::WriteIntSoon(const std::string& section, const std::string& key, long value) {
    std::lock_guard lock(mutex_);
    SetLocked(section, key, std::to_string(value));
    if (std::chrono::steady_clock::now() - lastSave_ >= kSoonInterval) return SaveLocked();
    dirty_ = true;
    return true;
}

bool ProfileStore::Flush() {
    std::lock_guard lock(mutex_);
    return !dirty_ || SaveLocked();
}

ProfileStore::~ProfileStore() {
    Flush();
}

bool ProfileStore::WriteInt(const std::string& section, const std::string& key, long value) {
    return WriteString(section, key, std::to_string(value));
}

std::string ProfileStore::Serialize() const {
    std::string out;
    for (size_t i = 0; i < sections_.size(); ++i) {
        const Section& s = sections_[i];
        if (i > 0) out += s.header + "\n";
        for (const Line& l : s.lines) {
            if (l.key.empty() || !l.raw.empty()) {
                out += l.raw;
            } else {
                out += l.key + "=" + l.value;
            }
            out += "\n";
        }
    }
    return out;
}

bool ProfileStore::SaveLocked() {
    if (readOnly_ || path_.empty()) return false;
    lastSave_ = std::chrono::steady_clock::now();
    if (!ReplaceFileAtomically(path_, Serialize(), 0600)) {
        dirty_ = true;
        return false;
    }
    dirty_ = false;
    return true;
}

}  // namespace qm
