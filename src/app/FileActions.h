#pragma once
// What the window's file actions do with files and texts, apart from any window: the thumbnail's
// caption, the Properties text, the From excludes file and the slide-show program's name.

#include <string>

namespace qm {

// Whether a saved file goes to the thumbnail: an empty path (clears it) or one whose lower-case
// form names a JPEG anywhere.
bool ThumbnailWanted(const std::string& path);
// The file name after the last "/" (the whole path when there is none).
std::string FileNameOf(const std::string& path);
// "name (640 x 480)"; "" for an empty path.
std::string PictureCaption(const std::string& path, int width, int height);
std::string PropertiesText(const std::string& path, const std::string& subject,
                           const std::string& from);

// The slide-show program in the current directory ("QMSlideShow" or "QMSlideshow"), or "".
std::string FindSlideShowProgram();

}  // namespace qm
