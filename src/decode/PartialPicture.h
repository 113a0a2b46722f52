#pragma once
// A picture is written under a hidden temporary name in its save directory and takes its real
// name only once it is whole, so a broken-off article (stop, lost connection, full disk, crash)
// never leaves a partial picture that looks saved.

#include <string>

namespace qm {

// A temporary path in dir (which ends with "/") that no other picture in progress uses.
std::string PartialPicturePath(const std::string& dir);
// Creates the file at path empty (a stale one from a crashed run of the same process number is
// emptied). 0, or the errno of the failure.
int CreatePartialPicture(const std::string& path);

// Whether a file name is one of those temporary names.
bool IsPartialPictureName(const std::string& name);

// Gives the temporary file at partialPath the name dir + name, or the first free "name(1).ext",
// "name(2).ext", ..., never replacing a file. Returns the name given, or "" with errno set (the
// temporary file then stays where it is).
std::string CommitPartialPicture(const std::string& partialPath, const std::string& dir,
                                 const std::string& name);

// A real write test of a directory: creates and removes a temporary file. 0, or the errno of the
// failure.
int ProbeWritable(const std::string& dir);

}  // namespace qm
