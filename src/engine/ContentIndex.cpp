#include "engine/ContentIndex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>

#include "util/TextFiles.h"

namespace qm {
namespace {

std::uint64_t SlotKey(const ContentDigest& d) {
    std::uint64_t key = 0;
    std::memcpy(&key, d.sha256.data(), sizeof key);
    return key ^ (d.size * 0x9E3779B97F4A7C15ull);
}

// What a slot keeps of the key to tell most other digests apart without looking at the entry.
std::uint32_t SlotTag(std::uint64_t key) {
    return static_cast<std::uint32_t>(key >> 32);
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::optional<std::uint64_t> ParseShape(std::string_view text, bool& ok) {
    ok = true;
    if (text == "-") return std::nullopt;
    std::uint64_t shape = 0;
    ok = text.size() == 16 &&
         std::from_chars(text.data(), text.data() + 16, shape, 16).ptr == text.data() + 16;
    return shape;
}

std::string ShapeText(const std::optional<std::uint64_t>& shape) {
    if (!shape) return "-";
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(*shape));
    return text;
}

// The next field of a line up to a tab; false when there is no tab left.
bool NextField(std::string_view& rest, std::string_view& field) {
    const size_t tab = rest.find('\t');
    if (tab == std::string_view::npos) return false;
    field = rest.substr(0, tab);
    rest.remove_prefix(tab + 1);
    return true;
}

std::string ReadAll(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) text.reserve(static_cast<size_t>(st.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

// Appends text at path, first ending a torn last line so that text starts a line of its own.
bool AppendOnOwnLine(const std::string& path, std::string text) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    struct stat st {};
    char last = '\n';
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 &&
        last != '\n')
        text.insert(0, 1, '\n');
    const bool written = WriteWhole(fd, text);
    const int err = errno;
    ::close(fd);
    errno = err;
    return written;
}

}  // namespace

ContentIndex::Entry ContentIndex::Entry::Of(const PictureFingerprint& print, std::string name) {
    return Entry{print.digest, print.shape, print.width, print.height, std::move(name)};
}

ContentIndex::ContentIndex(std::string path) : path_(std::move(path)) {}

std::string ContentIndex::Line(const Entry& e) {
    return e.digest.Hex() + '\t' + std::to_string(e.digest.size) + '\t' + ShapeText(e.shape) +
           '\t' + std::to_string(e.width) + 'x' + std::to_string(e.height) + '\t' + e.name + '\n';
}

std::optional<ContentIndex::Entry> ContentIndex::ParseLine(std::string_view line) {
    std::string_view hex, size, shape, dims;
    if (!NextField(line, hex) || !NextField(line, size) || !NextField(line, shape) ||
        !NextField(line, dims) || line.empty() || line.find_first_of("\t\r\n") != line.npos)
        return std::nullopt;
    std::optional<ContentDigest> digest = ContentDigest::Parse(hex, size);
    bool shapeOk = false;
    Entry entry{digest.value_or(ContentDigest{}), ParseShape(shape, shapeOk), 0, 0,
                std::string(line)};
    const size_t x = dims.find('x');
    if (!digest || !shapeOk || x == std::string_view::npos ||
        !ParseNumber(dims.substr(0, x), entry.width) ||
        !ParseNumber(dims.substr(x + 1), entry.height))
        return std::nullopt;
    return entry;
}

bool ContentIndex::Storable(const Entry& entry) {
    return !entry.name.empty() && entry.name.find_first_of("\t\r\n") == std::string::npos;
}

bool ContentIndex::WriteFile(const std::string& path, const std::vector<Entry>& entries) {
    std::string text;
    text.reserve(entries.size() * 120);
    for (const Entry& e : entries) text += Line(e);
    return ReplaceFileAtomically(path, text);
}

bool ContentIndex::AppendEntry(const std::string& path, const Entry& entry) {
    return !Storable(entry) || AppendOnOwnLine(path, Line(entry));
}

std::size_t ContentIndex::Load(long maxEntries) {
    Clear();
    const std::string text = ReadAll(path_);
    entries_.reserve(text.size() / 110 + 16);  // lines are about that long
    std::size_t passedOver = 0;
    for (size_t start = 0; start < text.size();) {
        const size_t lf = text.find('\n', start);
        // A last line without its end is the torn write of a killed run.
        const bool whole = lf != std::string::npos;
        const std::string_view line(text.data() + start, (whole ? lf : text.size()) - start);
        start = whole ? lf + 1 : text.size();
        std::optional<Entry> entry = whole ? ParseLine(line) : std::nullopt;
        if (!entry) {
            ++passedOver;
            continue;
        }
        entries_.push_back(std::move(*entry));
    }
    passedOver += FileLoaded();
    const auto limit = static_cast<std::size_t>(std::max(0L, maxEntries));
    const bool cut = entries_.size() > limit;
    if (cut) {
        entries_.erase(entries_.begin(), entries_.end() - static_cast<std::ptrdiff_t>(limit));
        Reindex();
    } else {
        FileShapes();
    }
    // What is kept is what the file shall hold; a failed rewrite leaves the old file, which
    // loads the same next time.
    if (cut || passedOver > 0) WriteFile(path_, entries_);
    return passedOver;
}

// The slot holding digest's entry, or the empty slot where it would go. The key kept in each
// slot spares a look at the entries (far apart in memory) for all but the one that matches.
std::size_t ContentIndex::SlotOf(const ContentDigest& digest) const {
    const std::uint64_t key = SlotKey(digest);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = key & mask;; slot = (slot + 1) & mask) {
        const Slot& s = slots_[slot];
        if (s.position == kEmpty ||
            (s.tag == SlotTag(key) && entries_[s.position].digest == digest))
            return slot;
    }
}

// Room for entries without growing; the first filed entries are filed again.
void ContentIndex::Reserve(std::size_t entries, std::size_t filed) {
    std::size_t size = 64;
    while (size < entries + entries / 2) size *= 2;  // at most two thirds full
    if (size <= slots_.size()) return;
    slots_.assign(size, Slot{});
    for (std::size_t i = 0; i < filed; ++i) {
        Slot& s = slots_[SlotOf(entries_[i].digest)];
        s = {SlotTag(SlotKey(entries_[i].digest)), static_cast<std::uint32_t>(i)};
    }
}

bool ContentIndex::Insert(std::size_t position) {
    if (entries_.size() * 3 > slots_.size() * 2) Reserve(entries_.size() * 2, position);
    Slot& slot = slots_[SlotOf(entries_[position].digest)];
    if (slot.position != kEmpty) {
        entries_[slot.position].name = std::move(entries_[position].name);
        return false;
    }
    slot = {SlotTag(SlotKey(entries_[position].digest)), static_cast<std::uint32_t>(position)};
    return true;
}

// Files the entries just read, dropping each later one for the same bytes after giving its name
// to the first; returns how many were dropped. The slot of an entry a few ahead is fetched into
// the cache meanwhile: at a million entries, waiting for each slot's memory is most of a load.
std::size_t ContentIndex::FileLoaded() {
    Reserve(entries_.size(), 0);
    const std::size_t mask = slots_.size() - 1;
    constexpr std::size_t kAhead = 8;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (i + kAhead < entries_.size())
            __builtin_prefetch(&slots_[SlotKey(entries_[i + kAhead].digest) & mask]);
        Slot& slot = slots_[SlotOf(entries_[i].digest)];
        if (slot.position != kEmpty) {
            entries_[slot.position].name = std::move(entries_[i].name);
            continue;
        }
        if (kept != i) entries_[kept] = std::move(entries_[i]);
        slot = {SlotTag(SlotKey(entries_[kept].digest)), static_cast<std::uint32_t>(kept)};
        ++kept;
    }
    const std::size_t dropped = entries_.size() - kept;
    entries_.resize(kept);
    return dropped;
}

void ContentIndex::Reindex() {
    std::vector<Entry> kept = std::move(entries_);
    Clear();
    for (Entry& e : kept) {
        entries_.push_back(std::move(e));
        Insert(entries_.size() - 1);
    }
    FileShapes();
}

void ContentIndex::FileShapes() {
    std::vector<std::pair<std::uint64_t, std::uint32_t>> shapes;
    shapes.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].shape)
            shapes.emplace_back(*entries_[i].shape, static_cast<std::uint32_t>(i));
    }
    shapes_.Assign(shapes);
}

bool ContentIndex::Add(const Entry& entry) {
    lastAddNew_ = false;
    if (!Storable(entry)) return true;
    if (!AppendOnOwnLine(path_, Line(entry))) return false;
    entries_.push_back(entry);
    lastAddNew_ = Insert(entries_.size() - 1);
    if (!lastAddNew_) {
        entries_.pop_back();
    } else if (entry.shape) {
        shapes_.Add(*entry.shape, static_cast<std::uint32_t>(entries_.size() - 1));
    }
    return true;
}

bool ContentIndex::RemoveLast() {
    if (!lastAddNew_) return true;
    lastAddNew_ = false;
    entries_.pop_back();
    Reindex();
    return WriteFile(path_, entries_);
}

void ContentIndex::Clear() {
    lastAddNew_ = false;
    entries_.clear();
    slots_.clear();
    shapes_.Clear();
}

const ContentIndex::Entry* ContentIndex::FindSame(const ContentDigest& digest) const {
    if (slots_.empty()) return nullptr;
    const std::uint32_t at = slots_[SlotOf(digest)].position;
    return at == kEmpty ? nullptr : &entries_[at];
}

std::optional<ContentIndex::NearHit> ContentIndex::FindNear(std::uint64_t shape) const {
    const std::optional<ShapeIndex::Match> match = shapes_.Nearest(shape);
    if (!match) return std::nullopt;
    return NearHit{&entries_[match->id], match->distance};
}

}  // namespace qm
