#pragma once
// A temporary folder that lives as long as the object, for test files.
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include <stdlib.h>

namespace corvane::test {

class TempDir {
public:
    // `openToAll`: an unprivileged user may also write into the folder.
    explicit TempDir(const char* prefix = "corvane-test", bool openToAll = false) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder");
        path_ = pattern;
        if (openToAll)
            std::filesystem::permissions(path_, std::filesystem::perms::all);
    }
    // A test may have taken away the folder's permissions; they come back first.
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    std::string path() const { return path_.string(); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

} // namespace corvane::test
