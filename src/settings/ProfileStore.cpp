#include "settings/ProfileStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "util/TextFiles.h"

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

ProfileStore::Line* ProfileStore::Section::Find(const std::string& key) {
    auto it = keys.find(Lowercase(key));
    return it == keys.end() ? nullptr : &lines[it->second];
}

const ProfileStore::Line* ProfileStore::Section::Find(const std::string& key) const {
    auto it = keys.find(Lowercase(key));
    return it == keys.end() ? nullptr : &lines[it->second];
}

void ProfileStore::Section::Remove(const std::string& key) {
    Line* line = Find(key);
    if (!line) return;
    lines.erase(lines.begin() + (line - lines.data()));
    keys.clear();  // the lines after it moved up: index them afresh
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].key.empty()) keys.emplace(Lowercase(lines[i].key), i);
    }
}

// Only blank lines ever follow pos, so no indexed line moves.
void ProfileStore::Section::Add(Line line, size_t pos) {
    if (!line.key.empty()) keys.emplace(Lowercase(line.key), pos);
    lines.insert(lines.begin() + static_cast<long>(pos), std::move(line));
}

bool ProfileStore::Load(std::string path) {
    std::lock_guard lock(mutex_);
    path_ = std::move(path);
    sections_.clear();
    sections_.push_back(Section{});
    unsaved_.clear();
    dirty_ = false;
    readOnly_ = false;
    identity_ = FileIdentity{};
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        if (errno == ENOENT || access(path_.c_str(), F_OK) != 0) return true;
        readOnly_ = true;
        return false;
    }
    identity_ = CurrentIdentity();
    Parse(in);
    if (in.bad()) readOnly_ = true;
    return !readOnly_;
}

void ProfileStore::Parse(std::istream& in) {
    std::string line;
    while (ReadTextLine(in, line)) {
        // Every CR at a line's end is line end, read and written alike, so no rewrite changes
        // what a line means.
        while (!line.empty() && line.back() == '\r') line.pop_back();
        std::string t = Trim(line);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            sections_.push_back(Section{Trim(t.substr(1, t.size() - 2)), line, {}, {}});
            continue;
        }
        Section& section = sections_.back();
        size_t eq = line.find('=');
        std::string key = eq == std::string::npos ? "" : Trim(line.substr(0, eq));
        if (key.empty() || t[0] == ';' || t[0] == '#') {
            section.Add(Line{line, "", ""}, section.lines.size());
            continue;
        }
        section.Add(Line{line, key, line.substr(eq + 1)}, section.lines.size());
    }
}

ProfileStore::FileIdentity ProfileStore::CurrentIdentity() const {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return FileIdentity{};
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

// Another writer (a second program, or the user's editor) replaced the file since this store
// read it: take its values, then put this store's unsaved writes on top again.
bool ProfileStore::ReloadIfChangedLocked() {
    FileIdentity now = CurrentIdentity();
    if (now == identity_ || now.size < 0) return true;  // unchanged, or gone: memory is all
    std::ifstream in(path_, std::ios::binary);
    if (!in) return false;  // there, but unreadable: write nothing over it
    sections_.clear();
    sections_.push_back(Section{});
    Parse(in);
    for (const Change& change : unsaved_) ApplyLocked(change);
    identity_ = now;
    return true;
}

// Repeated writes of one key (a read mark before every article) keep one entry.
void ProfileStore::RememberUnsaved(const std::string& section, const std::string& key,
                                   std::optional<std::string> value) {
    if (!unsaved_.empty() && EqualNoCase(unsaved_.back().section, section) &&
        EqualNoCase(unsaved_.back().key, key)) {
        unsaved_.back().value = value;
        return;
    }
    unsaved_.push_back(Change{section, key, std::move(value)});
}

std::string ProfileStore::DiskIdentity() const {
    std::lock_guard lock(mutex_);
    FileIdentity id = CurrentIdentity();
    if (id.size < 0) return "none";
    return std::to_string(id.device) + ":" + std::to_string(id.inode) + ":" +
           std::to_string(id.size) + ":" + std::to_string(id.mtimeSec) + "." +
           std::to_string(id.mtimeNsec);
}

std::uint64_t ProfileStore::SaveCount() const {
    std::lock_guard lock(mutex_);
    return saveCount_;
}

bool ProfileStore::StorableKey(const std::string& key) {
    if (key.empty() || key != Trim(key)) return false;
    if (key[0] == ';' || key[0] == '#' || key[0] == '[') return false;
    return key.find_first_of("=\r\n") == std::string::npos;
}

bool ProfileStore::StorableSection(const std::string& section) {
    return !section.empty() && section == Trim(section) &&
           section.find_first_of("\r\n") == std::string::npos;
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
    sections_.push_back(Section{name, "[" + name + "]", {}, {}});
    return sections_.back();
}

std::string ProfileStore::GetString(const std::string& section, const std::string& key,
                                    const std::string& def) const {
    std::lock_guard lock(mutex_);
    const Section* s = FindSection(section);
    if (!s) return def;
    const Line* l = s->Find(key);
    return l ? l->value : def;
}

long ProfileStore::ParseInt(const std::string& text) {
    return LeadingNumber(text);
}

long ProfileStore::GetInt(const std::string& section, const std::string& key, long def) const {
    std::lock_guard lock(mutex_);
    const Section* s = FindSection(section);
    if (!s) return def;
    const Line* l = s->Find(key);
    return l ? ParseInt(l->value) : def;
}

void ProfileStore::SetLocked(const std::string& section, const std::string& key,
                             const std::string& value) {
    Section& s = SectionFor(section);
    std::string v = OneLine(value);
    if (Line* l = s.Find(key)) {
        l->value = v;
        l->raw.clear();
        return;
    }
    // New keys go after the section's last key, so trailing blank lines stay between sections.
    size_t pos = s.lines.size();
    while (pos > 0 && s.lines[pos - 1].key.empty() && Trim(s.lines[pos - 1].raw).empty()) --pos;
    s.Add(Line{"", key, v}, pos);
}

bool ProfileStore::WriteString(const std::string& section, const std::string& key,
                               const std::string& value) {
    if (!StorableKey(key) || !StorableSection(section)) return false;
    std::lock_guard lock(mutex_);
    SetLocked(section, key, value);
    RememberUnsaved(section, key, value);
    return SaveLocked();
}

void ProfileStore::RemoveLocked(const std::string& section, const std::string& key) {
    if (const Section* s = FindSection(section)) const_cast<Section*>(s)->Remove(key);
}

void ProfileStore::ApplyLocked(const Change& change) {
    if (change.value) {
        SetLocked(change.section, change.key, *change.value);
    } else {
        RemoveLocked(change.section, change.key);
    }
}

bool ProfileStore::Apply(const std::vector<Change>& changes) {
    for (const Change& c : changes) {
        if (!StorableKey(c.key) || !StorableSection(c.section)) return false;
    }
    std::lock_guard lock(mutex_);
    for (const Change& c : changes) {
        ApplyLocked(c);
        RememberUnsaved(c.section, c.key, c.value);
    }
    return SaveLocked();
}

bool ProfileStore::RemoveKey(const std::string& section, const std::string& key) {
    return Apply({Change{section, key, std::nullopt}});
}

std::vector<std::string> ProfileStore::Keys(const std::string& section) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> keys;
    if (const Section* s = FindSection(section)) {
        for (const Line& l : s->lines) {
            if (!l.key.empty() && s->Find(l.key) == &l) keys.push_back(l.key);
        }
    }
    return keys;
}

bool ProfileStore::WriteIntSoon(const std::string& section, const std::string& key, long value) {
    if (!StorableKey(key) || !StorableSection(section)) return false;
    std::lock_guard lock(mutex_);
    SetLocked(section, key, std::to_string(value));
    RememberUnsaved(section, key, std::to_string(value));
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
    if (!ReloadIfChangedLocked() || !ReplaceFileAtomically(path_, Serialize(), 0600)) {
        dirty_ = true;
        return false;
    }
    identity_ = CurrentIdentity();
    ++saveCount_;
    unsaved_.clear();
    dirty_ = false;
    return true;
}

}  // namespace qm
