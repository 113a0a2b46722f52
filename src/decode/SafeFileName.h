#pragma once
// File names taken from articles are untrusted: these helpers reduce them to a plain name inside
// the save directory and find a free name so that no earlier picture is overwritten.

#include <functional>
#include <string>
#include <string_view>

namespace qm {

// Keeps only the part after the last "/" or "\", drops control characters, shortens over-long
// names (keeping the extension), drops the leading dot of a name in the form reserved for
// pictures in progress, and returns "" when nothing usable is left ("", ".", "..").
std::string SafeFileName(std::string_view raw);

// Offers name, then "name(1).ext", "name(2).ext", ... to tryName until it returns true (that name
// is returned) or fails with an errno other than EEXIST ("" is returned, errno kept).
std::string TryFreeNames(const std::string& name,
                         const std::function<bool(const std::string&)>& tryName);

// Creates dir + name exclusively, or the first free "name(1).ext", "name(2).ext", ... Returns the
// name created ("" on failure, with errno set by the failing create).
std::string CreateUniqueFile(const std::string& dir, const std::string& name);

}  // namespace qm
