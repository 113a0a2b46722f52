#include "engine/PartStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <sstream>

#include "util/TextFiles.h"

namespace qm {
namespace {

constexpr const char* kRecordHeader = "QMPOST 1";
constexpr const char* kCompletedFile = "Completed";

// Keys and names come from a server: one line each in the record, whatever they hold.
std::string Escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return out;
}

bool ParseNumber(std::string_view text, std::uint64_t& out) {
    if (text.empty() || text.size() > 19) return false;
    out = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        out = out * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

std::string Hex32(std::uint32_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string out(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4) out[static_cast<std::size_t>(i)] = digits[value & 15];
    return out;
}

std::optional<std::uint32_t> ParseHex32(std::string_view text) {
    if (text.size() != 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

std::uint64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::optional<std::uint32_t> FileCrc(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::vector<unsigned char> buffer(std::size_t{1} << 20);
    std::uint32_t crc = 0;
    ssize_t n = 0;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) {
        crc = Crc32(crc, buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (n < 0) return std::nullopt;
    return crc;
}

bool Overlaps(const StoredPost::Part& part, std::uint64_t begin, std::uint64_t end) {
    return begin <= part.end && part.begin <= end;
}

}  // namespace

const StoredPost::Part* StoredPost::Find(long number) const {
    for (const Part& part : parts) {
        if (part.number == number) return &part;
    }
    return nullptr;
}

std::uint64_t StoredPost::BytesOnDisk() const {
    std::uint64_t sum = 0;
    for (const Part& part : parts) sum += part.bytes;
    return sum;
}

std::uint32_t Crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondSize) {
    return static_cast<std::uint32_t>(
        crc32_combine64(first, second, static_cast<z_off64_t>(secondSize)));
}

PartStore::PartStore(const std::string& directory) : dir_(WithTrailingSlash(directory)) {}

std::string PartStore::IdOf(const std::string& key) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(key.data(), key.size(), digest, &size, EVP_sha256(), nullptr);
    static const char digits[] = "0123456789abcdef";
    std::string id;
    for (unsigned int i = 0; i < 16 && i < size; ++i) {
        id += digits[digest[i] >> 4];
        id += digits[digest[i] & 15];
    }
    return id;
}

std::string PartStore::RecordPath(const std::string& id) const {
    return dir_ + id + ".post";
}

std::string PartStore::CompletedPath() const {
    return dir_ + kCompletedFile;
}

std::string PartStore::DataPath(const std::string& key) const {
    return dir_ + IdOf(key) + ".data";
}

std::string PartStore::UUPartPath(const StoredPost& post, long number) const {
    return dir_ + post.id + "." + std::to_string(number) + ".uu";
}

bool PartStore::Load(std::time_t now) {
    posts_.clear();
    if (!MakeDirectories(dir_)) return false;
    DIR* dir = ::opendir(dir_.c_str());
    if (dir == nullptr) return false;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& name : names) {
        if (!name.ends_with(".post")) continue;
        std::optional<StoredPost> post = ReadRecord(dir_ + name);
        if (post && name == post->id + ".post" && !posts_.contains(post->key)) {
            posts_.emplace(post->key, std::move(*post));
        } else {
            ::unlink((dir_ + name).c_str());
        }
    }
    // Files of posts without a record: a kill while a post's first part was written.
    std::unordered_set<std::string> ids;
    for (const auto& [key, post] : posts_) ids.insert(post.id);
    for (const std::string& name : names) {
        const bool ours = name.size() > 33 && name[32] == '.' &&
                          (name.ends_with(".data") || name.ends_with(".uu"));
        if (ours && !ids.contains(name.substr(0, 32))) ::unlink((dir_ + name).c_str());
    }
    LoadCompleted(now);
    return true;
}

void PartStore::LoadCompleted(std::time_t now) {
    completed_.clear();
    std::ifstream in(CompletedPath(), std::ios::binary);
    std::string line, kept;
    bool dropped = false;
    while (ReadTextLine(in, line)) {
        const std::size_t tab = line.find('\t');
        std::uint64_t when = 0;
        std::optional<std::string> key;
        if (tab != std::string::npos && ParseNumber(std::string_view(line).substr(0, tab), when))
            key = Unescaped(std::string_view(line).substr(tab + 1));
        if (!key || static_cast<std::time_t>(when) + kKeepCompleted < now) {
            dropped = true;
            continue;
        }
        completed_.insert(*key);
        kept += line + "\n";
    }
    if (dropped) ReplaceFileAtomically(CompletedPath(), kept);
}

std::optional<StoredPost> PartStore::ReadRecord(const std::string& path) const {
    std::ifstream file(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // Lines are appended as parts come; a kill in the middle of one leaves it without its end.
    text.erase(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    std::istringstream in(text);
    std::string line;
    if (!ReadTextLine(in, line) || line != kRecordHeader) return std::nullopt;
    StoredPost post;
    bool haveKey = false;
    while (ReadTextLine(in, line)) {
        std::istringstream fields(line);
        std::string field;
        fields >> field;
        const std::string rest = line.size() > field.size() ? line.substr(field.size() + 1) : "";
        std::uint64_t n = 0;
        if (field == "key") {
            std::optional<std::string> key = Unescaped(rest);
            if (!key) return std::nullopt;
            post.key = *key;
            haveKey = true;
        } else if (field == "name") {
            std::optional<std::string> name = Unescaped(rest);
            if (!name) return std::nullopt;
            post.name = *name;
        } else if (field == "total" && ParseNumber(rest, n) && n >= 2 && n <= 999999) {
            post.total = static_cast<long>(n);
        } else if (field == "encoding" && (rest == "yenc" || rest == "uu")) {
            post.encoding = rest == "uu" ? StoredPost::Encoding::UU : StoredPost::Encoding::YEnc;
        } else if (field == "size" && ParseNumber(rest, n)) {
            post.size = n;
        } else if (field == "crc32" && ParseHex32(rest)) {
            post.fileCrc = ParseHex32(rest);
        } else if (field == "group") {
            post.group = rest;
        } else if (field == "last" && ParseNumber(rest, n)) {
            post.lastNewPart = static_cast<std::time_t>(n);
        } else if (field == "part") {
            StoredPost::Part part;
            std::string number, begin, end, crc, bytes;
            fields >> number >> begin >> end >> crc >> bytes;
            std::uint64_t k = 0;
            auto hex = ParseHex32(crc);
            if (!ParseNumber(number, k) || !ParseNumber(begin, part.begin) ||
                !ParseNumber(end, part.end) || !hex || !ParseNumber(bytes, part.bytes) || k < 1) {
                return std::nullopt;
            }
            part.number = static_cast<long>(k);
            part.crc = *hex;
            post.parts.push_back(part);
        } else {
            return std::nullopt;
        }
    }
    if (!haveKey || post.total == 0) return std::nullopt;
    post.id = IdOf(post.key);
    // Only parts whose bytes are still there count.
    std::erase_if(post.parts, [&](const StoredPost::Part& part) {
        if (part.number > post.total) return true;
        if (post.encoding == StoredPost::Encoding::UU)
            return FileSize(UUPartPath(post, part.number)) != part.bytes;
        return part.end > post.size || FileSize(dir_ + post.id + ".data") < part.end;
    });
    std::sort(post.parts.begin(), post.parts.end(),
              [](const auto& a, const auto& b) { return a.number < b.number; });
    post.parts.erase(std::unique(post.parts.begin(), post.parts.end(),
                                 [](const auto& a, const auto& b) { return a.number == b.number; }),
                     post.parts.end());
    return post;
}

namespace {

std::string PartLine(const StoredPost::Part& part) {
    return "part " + std::to_string(part.number) + " " + std::to_string(part.begin) + " " +
           std::to_string(part.end) + " " + Hex32(part.crc) + " " + std::to_string(part.bytes) +
           "\n";
}

// What may change from one part to the next; a later line of the record overrides an earlier one.
std::string ChangingFields(const StoredPost& post) {
    std::string text = "name " + Escaped(post.name) + "\n";
    if (post.fileCrc) text += "crc32 " + Hex32(*post.fileCrc) + "\n";
    text += "last " + std::to_string(static_cast<long long>(post.lastNewPart)) + "\n";
    return text + "group " + post.group + "\n";
}

}  // namespace

// A post's first part writes its record whole; each later one appends its lines, so a part costs
// one write and no new file.
bool PartStore::SaveRecord(const StoredPost& post, const StoredPost::Part& added) const {
    if (post.parts.size() > 1) {
        return AppendToFile(RecordPath(post.id), ChangingFields(post) + PartLine(added));
    }
    std::string text = std::string(kRecordHeader) + "\n";
    text += "key " + Escaped(post.key) + "\n";
    text += "total " + std::to_string(post.total) + "\n";
    text += post.encoding == StoredPost::Encoding::UU ? "encoding uu\n" : "encoding yenc\n";
    text += "size " + std::to_string(post.size) + "\n";
    text += ChangingFields(post);
    for (const StoredPost::Part& part : post.parts) text += PartLine(part);
    return ReplaceFileAtomically(RecordPath(post.id), text, 0600);
}

const StoredPost* PartStore::Find(const std::string& key) const {
    auto it = posts_.find(key);
    return it == posts_.end() ? nullptr : &it->second;
}

std::uint64_t PartStore::BytesOnDisk() const {
    std::uint64_t sum = 0;
    for (const auto& [key, post] : posts_) sum += post.BytesOnDisk();
    return sum;
}

std::vector<const StoredPost*> PartStore::Posts() const {
    std::vector<const StoredPost*> out;
    for (const auto& [key, post] : posts_) out.push_back(&post);
    return out;
}

bool PartStore::Admits(const std::string& key, long total, const YEncPartInfo& info) const {
    if (info.total != static_cast<std::uint64_t>(total)) return false;
    const StoredPost* post = Find(key);
    if (post == nullptr || post->parts.empty()) return true;
    if (post->encoding != StoredPost::Encoding::YEnc || post->size != info.size ||
        post->name != info.name) {
        return false;
    }
    return std::none_of(post->parts.begin(), post->parts.end(), [&](const auto& part) {
        return part.number == static_cast<long>(info.part) || Overlaps(part, info.begin, info.end);
    });
}

StoredPost& PartStore::PostFor(const std::string& key, long total, StoredPost::Encoding encoding,
                               const std::string& name) {
    auto [it, added] = posts_.try_emplace(key);
    StoredPost& post = it->second;
    if (added || post.parts.empty()) {
        post.id = IdOf(key);
        post.key = key;
        post.total = total;
        post.encoding = encoding;
        post.name = name;
    }
    return post;
}

bool PartStore::RecordYEncPart(const std::string& key, const YEncPartInfo& info,
                               const std::string& group, std::time_t now) {
    StoredPost& post =
        PostFor(key, static_cast<long>(info.total), StoredPost::Encoding::YEnc, info.name);
    post.size = info.size;
    if (info.fileCrc) post.fileCrc = info.fileCrc;
    post.lastNewPart = now;
    post.group = group;
    return AddPart(post, {static_cast<long>(info.part), info.begin, info.end, info.crc,
                          info.end - info.begin + 1});
}

// Records a part whose bytes are on disk; the record on disk says so, or the part is not kept.
bool PartStore::AddPart(StoredPost& post, const StoredPost::Part& part) {
    post.parts.insert(
        std::upper_bound(post.parts.begin(), post.parts.end(), part,
                         [](const auto& a, const auto& b) { return a.number < b.number; }),
        part);
    if (SaveRecord(post, part)) return true;
    const int err = errno;
    std::erase_if(post.parts, [&](const auto& p) { return p.number == part.number; });
    errno = err;
    return false;
}

bool PartStore::StoreUUPart(const std::string& key, long total, long number,
                            const std::string& name, std::string_view body,
                            const std::string& group, std::time_t now) {
    StoredPost& post = PostFor(key, total, StoredPost::Encoding::UU, name);
    if (post.encoding != StoredPost::Encoding::UU || post.Find(number) != nullptr) return true;
    if (!ReplaceFileAtomically(UUPartPath(post, number), body, 0600)) return false;
    if (number == 1 && !name.empty()) post.name = name;
    post.lastNewPart = now;
    post.group = group;
    return AddPart(post, {number, 0, 0, 0, body.size()});
}

bool PartStore::VerifyWhole(const StoredPost& post) const {
    if (post.encoding != StoredPost::Encoding::YEnc || !post.Complete()) return false;
    std::uint64_t next = 1;
    std::uint32_t combined = 0;
    for (const StoredPost::Part& part : post.parts) {
        if (part.begin != next) return false;  // a gap or an overlap
        combined = next == 1 ? part.crc : Crc32Combine(combined, part.crc, part.bytes);
        next = part.end + 1;
    }
    if (next != post.size + 1) return false;
    const std::string path = dir_ + post.id + ".data";
    if (FileSize(path) != post.size) return false;
    // Each part's CRC is of the bytes as they were written: together they are the file's, to
    // hold against the poster's crc32. Without one, the file is read back and held against them.
    if (post.fileCrc) return combined == *post.fileCrc;
    return FileCrc(path) == std::optional<std::uint32_t>(combined);
}

void PartStore::RemoveFiles(const StoredPost& post) const {
    ::unlink(RecordPath(post.id).c_str());
    ::unlink((dir_ + post.id + ".data").c_str());
    for (const StoredPost::Part& part : post.parts) {
        if (post.encoding == StoredPost::Encoding::UU)
            ::unlink(UUPartPath(post, part.number).c_str());
    }
}

bool PartStore::Remove(const std::string& key) {
    auto it = posts_.find(key);
    if (it == posts_.end()) return false;
    RemoveFiles(it->second);
    posts_.erase(it);
    return true;
}

bool PartStore::MarkCompleted(const std::string& key, std::time_t now) {
    if (!completed_.insert(key).second) return true;
    return AppendToFile(CompletedPath(),
                        std::to_string(static_cast<long long>(now)) + "\t" + Escaped(key) + "\n");
}

std::vector<StoredPost> PartStore::Expire(std::time_t now, long waitDays) {
    std::vector<StoredPost> gone;
    const std::time_t limit = static_cast<std::time_t>(waitDays) * 24 * 3600;
    for (auto it = posts_.begin(); it != posts_.end();) {
        if (now - it->second.lastNewPart > limit) {
            RemoveFiles(it->second);
            gone.push_back(std::move(it->second));
            it = posts_.erase(it);
        } else {
            ++it;
        }
    }
    std::sort(gone.begin(), gone.end(),
              [](const auto& a, const auto& b) { return a.lastNewPart < b.lastNewPart; });
    return gone;
}

std::vector<StoredPost> PartStore::Bound(std::uint64_t maxBytes) {
    std::vector<StoredPost> gone;
    std::uint64_t total = BytesOnDisk();
    if (total <= maxBytes) return gone;
    std::vector<const StoredPost*> byAge = Posts();
    std::sort(byAge.begin(), byAge.end(),
              [](const auto* a, const auto* b) { return a->lastNewPart < b->lastNewPart; });
    std::vector<std::string> keys;
    for (const StoredPost* post : byAge) {
        if (total <= maxBytes) break;
        total -= post->BytesOnDisk();
        keys.push_back(post->key);
    }
    for (const std::string& key : keys) {
        auto it = posts_.find(key);
        RemoveFiles(it->second);
        gone.push_back(std::move(it->second));
        posts_.erase(it);
    }
    return gone;
}

}  // namespace qm
