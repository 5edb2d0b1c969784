#include "results/FileLocation.h"

#include "common/Error.h"
#include "results/ResultsFile.h"

#include <cerrno>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#ifndef CORVANE_DATADIR_FROM_BINDIR
#define CORVANE_DATADIR_FROM_BINDIR "../share"
#endif

namespace corvane {

namespace {

const char* const kDataFolderName = "corvane";

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// An installed copy has its desktop entry in the data folder beside its bin
// folder. Root may write into /usr/bin, but the results do not belong there.
bool isInstalledCopy(const std::string& executableDir) {
    const std::string entry =
        executableDir + "/" + CORVANE_DATADIR_FROM_BINDIR + "/applications/corvane.desktop";
    return ::access(entry.c_str(), F_OK) == 0;
}

bool keepsFilesBeside(const std::string& executableDir) {
    return !executableDir.empty() && ::access(executableDir.c_str(), W_OK | X_OK) == 0 &&
           !isInstalledCopy(executableDir);
}

// A relative or empty XDG_DATA_HOME is to be ignored.
bool usable(const char* dir) {
    return dir != nullptr && dir[0] == '/';
}

std::string homeFolder(const char* home) {
    if (usable(home))
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && usable(pw->pw_dir))
        return pw->pw_dir;
    throw Error("No folder for the results: neither XDG_DATA_HOME nor HOME names one");
}

std::string joined(std::string dir, const std::string& name) {
    while (!dir.empty() && dir.back() == '/')
        dir.pop_back();
    return dir + "/" + name;
}

// Makes `dir` and every missing parent, private to the user as the data
// folder convention asks.
void makeFolders(const std::string& dir) {
    if (isDirectory(dir))
        return;
    const std::size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0)
        makeFolders(dir.substr(0, slash));
    if (::mkdir(dir.c_str(), 0700) != 0 && !(errno == EEXIST && isDirectory(dir))) {
        const std::string why =
            errno == EEXIST ? "a file of that name is in the way" : fileErrorText(errno);
        throw Error("The folder " + dir + " cannot be made: " + why);
    }
}

} // namespace

std::string executableDirectory() {
    std::string exe(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= exe.size())
        return std::string();
    exe.resize(static_cast<std::size_t>(n));
    const std::size_t slash = exe.find_last_of('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? "/" : exe.substr(0, slash);
}

std::string userFilePath(const std::string& fileName, const std::string& executableDir,
                         const char* xdgDataHome, const char* home) {
    if (keepsFilesBeside(executableDir))
        return joined(executableDir, fileName);
    const std::string dataHome =
        usable(xdgDataHome) ? std::string(xdgDataHome) : joined(homeFolder(home), ".local/share");
    const std::string dir = joined(dataHome, kDataFolderName);
    makeFolders(dir);
    return joined(dir, fileName);
}

std::string userFilePath(const std::string& fileName) {
    return userFilePath(fileName, executableDirectory(), ::getenv("XDG_DATA_HOME"),
                        ::getenv("HOME"));
}

} // namespace corvane
