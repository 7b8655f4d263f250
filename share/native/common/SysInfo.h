// Process and environment queries: the command line, the running
// executable's own path and environment variables.
//
// The path and argument queries are the macOS ones; the environment queries
// are common to Unix systems. All failures are QuernErrors.

#ifndef SYSINFO_H
#define SYSINFO_H

#include <new>
#include <string>
#include <vector>

#include "tstrings.h"

namespace SysInfo {

// The command line as main received it in the first pass; 0 and null until
// then.
extern int argc;
extern char** argv;

enum CommandArgProgramNameMode { WithProgramName = 0, WithoutProgramName = 1 };

// The arguments, without any that begins with "-psn_"; the program name only
// in WithProgramName mode.
StringList getCommandArgs(CommandArgProgramNameMode mode = WithoutProgramName);

// `args` as the launcher takes them from its command line: without any that
// begins with "-psn_".
StringList launcherArgs(const StringList& args);

// Absolute path of the running executable with one level of symbolic link
// resolved. Not normalised.
std::string getProcessModulePath();

// `path` holds a zero-terminated path. Returns the path, or the target of
// the link it names; a relative target is taken relative to the link's own
// directory. Throws when lstat or readlink fail.
std::string getRealPath(const std::vector<char>& path);

// Throws when the variable is not set.
std::string getEnvVariable(const std::string& name);

// Returns `defValue` when the variable is not set; never throws.
std::string getEnvVariable(const std::nothrow_t&, const std::string& name,
                           const std::string& defValue);

}  // namespace SysInfo

#endif  // SYSINFO_H
