#pragma once
// Where the program keeps the files it writes for the user ("results.txt",
// later "results.csv"). A copy run from a folder the user may write to, such
// as a build folder, keeps them beside its executable, where they always
// were. An installed copy (its folder holds other programs and belongs to
// the system) keeps them in the user's data folder:
// $XDG_DATA_HOME/corvane, or ~/.local/share/corvane when that is not set.
#include <string>

namespace corvane {

// The path of `fileName` under that rule, for the running program. The data
// folder is made, with its parents, when it does not exist yet. Throws
// corvane::Error naming the folder when it cannot be made.
std::string userFilePath(const std::string& fileName);

// The same rule with the facts given: the folder of the executable, and the
// values of XDG_DATA_HOME and HOME (null when not set).
std::string userFilePath(const std::string& fileName, const std::string& executableDir,
                         const char* xdgDataHome, const char* home);

// The folder of the running executable.
std::string executableDirectory();

} // namespace corvane
