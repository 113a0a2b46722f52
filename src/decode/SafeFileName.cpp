#include "decode/SafeFileName.h"

#include "decode/PartialPicture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace qm {
namespace {

// Room for "(NNNN)" and the file system's 255-byte name limit.
constexpr size_t kMaxName = 240;
constexpr size_t kMaxExtension = 16;

std::string Shorten(std::string name) {
    if (name.size() <= kMaxName) return name;
    size_t dot = name.rfind('.');
    std::string ext;
    if (dot != std::string::npos && name.size() - dot <= kMaxExtension) ext = name.substr(dot);
    name.resize(kMaxName - ext.size());
    // Do not leave half of a multi-byte character at the cut.
    while (!name.empty() && (static_cast<unsigned char>(name.back()) & 0xC0) == 0x80)
        name.pop_back();
    if (!name.empty() && (static_cast<unsigned char>(name.back()) & 0xC0) == 0xC0) name.pop_back();
    return name + ext;
}

}  // namespace

std::string SafeFileName(std::string_view raw) {
    size_t cut = raw.find_last_of("/\\");
    if (cut != std::string_view::npos) raw.remove_prefix(cut + 1);
    std::string name;
    name.reserve(raw.size());
    for (char c : raw) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) continue;
        name += c;
    }
    // Checked on the final name: cutting a long name back to whole characters can leave a dot
    // or two and nothing else.
    name = Shorten(std::move(name));
    if (name == "." || name == "..") return "";
    // The hidden temporary names belong to pictures in progress: a posted one would be emptied
    // or renamed away by a later article, so it loses its leading dot and becomes visible.
    if (IsReservedName(name)) name.erase(0, 1);
    return name;
}

std::string TryFreeNames(const std::string& name,
                         const std::function<bool(const std::string&)>& tryName) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) dot = name.size();
    const std::string stem = name.substr(0, dot);
    const std::string ext = name.substr(dot);
    std::string candidate = name;
    for (int i = 1; i < 100000; ++i) {
        if (tryName(candidate)) return candidate;
        if (errno != EEXIST) return "";
        candidate = stem;
        candidate += "(" + std::to_string(i) + ")";
        candidate += ext;
    }
    errno = EEXIST;
    return "";
}

std::string CreateUniqueFile(const std::string& dir, const std::string& name) {
    return TryFreeNames(name, [&dir](const std::string& candidate) {
        int fd = ::open((dir + candidate).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        ::close(fd);
        return true;
    });
}

}  // namespace qm
