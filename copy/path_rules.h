#pragma once

#include <string>
#include <string_view>

// The text rules by which a run forms its paths. Positions and lengths count UTF-16 characters, as
// the installer and Velmora count them; `separator` is the platform's path separator.
namespace velmora::path_rules {

// On Windows ('\\' separator) a forward slash counts as a separator too, as it does to Windows.

// Without its last character when that is a separator (one only).
std::string WithoutTrailingSeparator(std::string_view path, char separator);

// Up to and including the last separator; empty when there is none.
std::string CutAfterLastSeparator(std::string_view path, char separator);

// The first `count` characters (fewer when the text is shorter).
std::string LeftCharacters(std::string_view text, size_t count);

// On Windows Vista and later a destination under the program-files folder moves to the maker
// folder at the drive root: "<drive><sep>Tarnwell<sep>" followed by at most 100 characters of what
// follows "X:\Program Files (x86)\" or "X:\Program Files\" (characters 4 on, compared in lower
// case; the (x86) form first). Any other path comes back unchanged.
std::string RelocateOutOfProgramFiles(std::string_view installRoot,
                                      std::string_view destinationDrive, char separator);

// The first character of `text` in upper case and full width (a -> Ａ, e -> Ｅ, \ -> ＼),
// or empty text for empty text. Characters outside ASCII stay as they are.
std::string FullWidthUpperFirstCharacter(std::string_view text);

// Whether a path can name anything at all: on Windows ('\\' separator) no control characters,
// none of < > " | ? *, and a colon only after a drive letter, past a leading "\\?\" or "\\.\";
// forward slashes and UNC paths are paths. Elsewhere only a NUL makes a path unusable.
bool IsUsablePath(std::string_view path, char separator);

}  // namespace velmora::path_rules
