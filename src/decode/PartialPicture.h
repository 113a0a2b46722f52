#pragma once
// A picture is written under a hidden temporary name in its save directory and takes its real
// name only once it is whole, so a broken-off article (stop, lost connection, full disk, crash)
// never leaves a partial picture that looks saved.

#include <functional>
#include <string>

namespace qm {

// Creates a new empty temporary file in dir (which ends with "/") and returns its path. A file
// already there under a name it tries (a stale one of a crashed run with the same process
// number) is never opened: the next name is tried. Each name is first handed to announce (the
// journal must know of a file before it exists), which may refuse it: then "" is returned with
// errno as announce left it. "" with errno set when no file could be created.
std::string CreatePartialPicture(const std::string& dir,
                                 const std::function<bool(const std::string&)>& announce = {});

// Whether a file name is one of those temporary names, exactly as they are made.
bool IsPartialPictureName(const std::string& name);
// Whether a file name begins as those temporary names do: no picture is ever saved under one.
bool IsReservedName(const std::string& name);
// Splits the path of a temporary file into the directory it was made in and its name. False when
// the path does not end in such a name.
bool SplitPartialPicturePath(const std::string& path, std::string& dir, std::string& name);

// Gives the temporary file at partialPath the name dir + name, or the first free "name(1).ext",
// "name(2).ext", ..., never replacing a file. Returns the name given, or "" with errno set (the
// temporary file then stays where it is).
std::string CommitPartialPicture(const std::string& partialPath, const std::string& dir,
                                 const std::string& name);

// A real write test of a directory: creates and removes a temporary file. 0, or the errno of the
// failure.
int ProbeWritable(const std::string& dir);

}  // namespace qm
