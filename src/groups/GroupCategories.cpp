#include "groups/GroupCategories.h"

#include <sys/stat.h>

#include "groups/GroupListFile.h"

namespace qm {

void GroupCategories::Load(const std::string& path) {
    struct stat st {};
    touched_ = !path.empty() && ::stat(path.c_str(), &st) == 0;
    lines_ = ReadListLines(path);
}

std::vector<std::string> GroupCategories::Names() const {
    std::vector<std::string> names;
    for (const std::string& line : lines_) {
        if (!line.empty() && line[0] == '[') {
            names.push_back(line.size() >= 2 ? line.substr(1, line.size() - 2) : std::string());
        }
    }
    return names;
}

std::optional<std::vector<std::string>> GroupCategories::Block(const std::string& name) const {
    const std::string header = "[" + name + "]";
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i] != header) continue;
        std::vector<std::string> groups;
        for (size_t j = i + 1; j < lines_.size() && !lines_[j].empty(); ++j) {
            groups.push_back(lines_[j]);
        }
        return groups;
    }
    return std::nullopt;
}

void GroupCategories::Add(const std::string& name, const std::vector<std::string>& groups) {
    touched_ = true;
    if (!lines_.empty() && !lines_.back().empty()) lines_.emplace_back();
    lines_.push_back("[" + name + "]");
    lines_.insert(lines_.end(), groups.begin(), groups.end());
    lines_.emplace_back();
}

void GroupCategories::DropBlocks(const std::string& name, bool keepLeading) {
    touched_ = true;
    const std::string header = "[" + name + "]";
    std::vector<std::string> kept;
    kept.reserve(lines_.size());
    bool keep = keepLeading;
    for (std::string& line : lines_) {
        if (!line.empty() && line[0] == '[') keep = line != header;
        if (keep) kept.push_back(std::move(line));
    }
    lines_ = std::move(kept);
}

void GroupCategories::Update(const std::string& oldName, const std::string& newName,
                             const std::vector<std::string>& groups) {
    DropBlocks(oldName, true);
    Add(newName, groups);
}

void GroupCategories::Delete(const std::string& name) {
    DropBlocks(name, false);
}

bool GroupCategories::Save(const std::string& path) const {
    if (lines_.empty() && !touched_) return true;
    return WriteListLines(path, lines_);
}

}  // namespace qm
