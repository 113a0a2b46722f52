#pragma once
// Small file and text helpers shared by every subsystem: line reading that accepts "\n" or "\r\n",
// ASCII lowercasing, and whole-file replacement that never leaves a half-written file behind.

#include <istream>
#include <string>
#include <string_view>

namespace qm {

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string Lowercase(std::string_view text);
// The same into out, reusing its capacity.
void LowercaseInto(std::string_view text, std::string& out);

// The integer rule of settings and replies: the leading decimal digits, 0 when there are none (a
// sign or a blank in front is not a digit). A number too large for long reads as LONG_MAX.
long LeadingNumber(std::string_view text);

// The leading decimal digits as a number, or -1 when there are none or they do not fit in a long.
// For numbers from a server that go back into commands and read marks, where a cut or saturated
// value would name another article.
long StrictLeadingNumber(std::string_view text);

// text without the CR and LF characters at its end.
std::string_view WithoutLineEnd(std::string_view text);

// Whether text begins with prefix in any case; prefix is given in lower case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// Reads one line without its line end ("\n" or "\r\n"). False at end of input.
bool ReadTextLine(std::istream& in, std::string& line);

// Writes content to a temporary file beside path and renames it over path. On any failure the
// previous file is left untouched, the temporary file is removed and false is returned (errno
// kept). When path is a symbolic link, the file it points to is replaced and the link stays.
bool ReplaceFileAtomically(const std::string& path, std::string_view content, unsigned mode = 0644);

// Writes all of data to fd, going on after short writes and interruptions. False with errno.
bool WriteWhole(int fd, std::string_view data);

// Appends text to a file, creating it when missing. False when it cannot be opened or written.
bool AppendToFile(const std::string& path, std::string_view text);

// True for the errors that mean the disk or the directory is full.
bool IsDiskFullError(int err);
// True for the errors that refuse one file name but not the directory (too long, invalid bytes).
bool IsNameRefusedError(int err);

// The file a path names: the target of a symbolic link (followed to the end), else path itself.
std::string ResolvedFilePath(const std::string& path);

// Directory helpers for the platform layer.
bool DirectoryExists(const std::string& path);
bool MakeDirectory(const std::string& path);    // one level
bool MakeDirectories(const std::string& path);  // every missing level
std::string WithTrailingSlash(const std::string& dir);
// The current directory with its trailing "/" ("./" when it cannot be told).
std::string CurrentDirectory();

}  // namespace qm
