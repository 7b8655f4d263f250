// Path-string functions and file-system queries.
//
// Paths are byte strings; '/' and '\' both count as directory separators,
// joins always use '/'. Nothing is normalised: "." and ".." stay, links are
// not resolved. The string functions are in FileUtils.cpp, the file-system
// ones in the platform's file.

#ifndef FILEUTILS_H
#define FILEUTILS_H

#include <string>

namespace FileUtils {

// Separates the entries of a path list (a library search path, a class
// path).
extern const char pathSeparator;

bool isDirSeparator(char c);

// The directory part, never ending in a separator; empty for a path without
// a separator and for a file directly under the root.
std::string dirname(const std::string& path);

// Everything after the last separator; empty when the path ends in one.
std::string basename(const std::string& path);

// An empty base gives the tail, an empty tail the base; otherwise the base
// without trailing separators, '/', and the tail without one leading
// separator.
std::string combinePath(const std::string& base, const std::string& tail);

std::string removeTrailingSlash(const std::string& path);

// stat() succeeds: true for files and directories, false for dangling links
// and for a path that holds a zero byte; never throws.
bool isFileExists(const std::string& path);

// True when the path names something that is neither a regular file nor a
// directory: a named pipe, a device or a socket, which a reader may wait on
// for ever or read without end. False for anything else, nothing included;
// never throws.
bool isSpecialFile(const std::string& path);

// An absolute path is returned unchanged, a relative one joined to the
// current directory, an empty one gives the current directory. Throws when
// the current directory cannot be read.
std::string toAbsolutePath(const std::string& path);

std::string stripExeSuffix(const std::string& path);

}  // namespace FileUtils

#endif  // FILEUTILS_H
