#pragma once
// Group categories: named sets of active groups kept in "GroupCat." + host. The file is a list of
// blocks, each a header line "[" + name + "]", the group names in order and an empty line that
// closes the block. Lines before the first header belong to no category. The lines are kept as
// read, so what the user did not touch is written back unchanged.

#include <optional>
#include <string>
#include <vector>

#include "settings/DataFiles.h"

namespace qm {

class GroupCategories {
public:
    // Reads the file; a missing file means no categories.
    void Load(const std::string& path);
    // The category names in file order (a header line without its first and last character).
    std::vector<std::string> Names() const;

    // The groups of the first block with this name, nullopt when no header names it.
    std::optional<std::vector<std::string>> Block(const std::string& name) const;
    // Appends a block, closing the previous one first when its empty line is missing. The name is
    // taken as typed: a second block of the same name, or "[]", is the user's choice.
    void Add(const std::string& name, const std::vector<std::string>& groups);
    // Drops every block named oldName and appends one under newName.
    void Update(const std::string& oldName, const std::string& newName,
                const std::vector<std::string>& groups);
    // Drops every block named name, and the lines before the first header with them.
    void Delete(const std::string& name);

    // Writes the lines to path. Once a file was read or a category made, an empty set of lines
    // is written too, as an empty file: deleting the last category must not leave the old file
    // to bring the deleted categories back. False when the file could not be written.
    bool Save(const std::string& path) const;

    const std::vector<std::string>& Lines() const { return lines_; }

private:
    void DropBlocks(const std::string& name, bool keepLeading);

    std::vector<std::string> lines_;
    bool touched_ = false;  // a file was read or lines were changed
};

}  // namespace qm
