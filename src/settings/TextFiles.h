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

// The integer rule of settings and replies: leading decimal digits after optional blanks and
// sign, 0 when there are none. Saturates instead of overflowing.
long LeadingNumber(std::string_view text);

// text without the CR and LF characters at its end.
std::string_view WithoutLineEnd(std::string_view text);

// Whether text begins with prefix in any case; prefix is given in lower case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// Reads one line without its line end ("\n" or "\r\n"). False at end of input.
bool ReadTextLine(std::istream& in, std::string& line);

// Writes content to a temporary file beside path and renames it over path. On any failure the
// previous file is left untouched, the temporary file is removed and false is returned (errno
// kept).
bool ReplaceFileAtomically(const std::string& path, std::string_view content, unsigned mode = 0644);

// Appends text to a file, creating it when missing. False when it cannot be opened or written.
bool AppendToFile(const std::string& path, std::string_view text);

// True for the errors that mean the disk or the directory is full.
bool IsDiskFullError(int err);

// Directory helpers for the platform layer.
bool DirectoryExists(const std::string& path);
bool MakeDirectory(const std::string& path);    // one level
bool MakeDirectories(const std::string& path);  // every missing level
std::string WithTrailingSlash(const std::string& dir);

}  // namespace qm
