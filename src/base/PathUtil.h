#pragma once

// Paths as the program composes them: UTF-16, `\` and `/` both accepted as
// separators in what comes in, the native separator where the program adds one.

#include <cstdint>
#include <string>
#include <string_view>

namespace RazaDedeZuzev {

bool isPathSeparator(char16_t c);

// left + separator + right; no separator is added when left already ends in
// one. An empty left part yields the right part alone (a relative path).
std::u16string joinPath(std::u16string_view left, std::u16string_view right);
// The same, appended to `out` (whose storage a hot loop reuses).
void appendJoinedPath(std::u16string_view left, std::u16string_view right, std::u16string& out);

// The part before the last separator; "." when there is none.
std::u16string getParentDirectoryPath(std::u16string_view path);

// The directory that holds the file at `path`: its parent, where a path
// whose only separator is its first character lies in the root directory.
std::u16string directoryOfFile(std::u16string_view path);

// Whether a name that the job gives relative to a base directory stays
// below it: not absolute (no leading separator, no drive such as "C:"), and
// no ".." among its parts, whichever of `\` and `/` separates them.
bool staysBelowItsBase(std::u16string_view name);

// Creates the directory and its missing parents; true when it exists after.
// `parentsWithNewNames`: see platform::createDirectories.
bool createDirectoryRecursively(std::u16string_view path, unsigned* parentsWithNewNames = nullptr);

// The size of the regular file at the path (links followed), or -1.
std::int64_t getRegularFileSize(std::u16string_view path);

}  // namespace RazaDedeZuzev
