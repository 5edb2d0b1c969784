#pragma once
// Running the built corvane-measure from a test: its exit status, what it
// printed, and small readers for its text and JSON output.
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef CORVANE_MEASURE_TOOL
#error "CORVANE_MEASURE_TOOL must name the corvane-measure executable"
#endif

namespace corvane::test {

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct ToolRun {
    int status = -1; // exit status; -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `args`, stdout and stderr each into a file of `dir`
// (never a terminal), stdin from /dev/null. `environment` entries
// "NAME=VALUE" are set and "NAME" alone is removed in the child.
inline ToolRun runProgram(const std::string& program, const std::vector<std::string>& args,
                          const TempDir& dir, const std::vector<std::string>& environment = {}) {
    const std::string outPath = dir.file("tool-stdout");
    const std::string errPath = dir.file("tool-stderr");
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const std::string& e : environment) {
            const std::size_t eq = e.find('=');
            if (eq == std::string::npos)
                ::unsetenv(e.c_str());
            else
                ::setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
        }
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ToolRun r;
    int wstatus = 0;
    if (pid < 0 || ::waitpid(pid, &wstatus, 0) != pid)
        return r;
    if (WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
}

// Runs corvane-measure with `args`, as runProgram does.
inline ToolRun runTool(const std::vector<std::string>& args, const TempDir& dir) {
    return runProgram(CORVANE_MEASURE_TOOL, args, dir);
}

// The "name: value" lines of the text output, in order; a name without a
// value has an empty one.
inline std::vector<std::pair<std::string, std::string>> textLines(const std::string& out) {
    std::vector<std::pair<std::string, std::string>> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            lines.emplace_back(line, "<no colon>");
            continue;
        }
        std::string value = line.substr(colon + 1);
        if (!value.empty() && value[0] == ' ')
            value.erase(0, 1);
        lines.emplace_back(line.substr(0, colon), value);
    }
    return lines;
}

inline std::map<std::string, std::string> textMap(const std::string& out) {
    std::map<std::string, std::string> m;
    for (const auto& [name, value] : textLines(out))
        m[name] = value;
    return m;
}

// The JSON output is one flat object with one nested object "raw"; these
// readers take a value by key from either level as its literal text.
struct JsonOutput {
    std::string top; // the object without "raw"
    std::string raw; // the inside of "raw"

    explicit JsonOutput(const std::string& text) {
        const std::size_t r = text.find("\"raw\": {");
        if (r == std::string::npos) {
            top = text;
            return;
        }
        top = text.substr(0, r);
        const std::size_t close = text.find('}', r);
        raw = text.substr(r + 8, close == std::string::npos ? std::string::npos : close - r - 8);
    }

    static std::optional<std::string> literal(const std::string& part, const std::string& key) {
        const std::regex re("\"" + key + "\": ([^,}]+)");
        std::smatch m;
        if (!std::regex_search(part, m, re))
            return std::nullopt;
        return m[1].str();
    }
    std::optional<std::string> shown(const std::string& key) const { return literal(top, key); }
    std::optional<std::string> rawValue(const std::string& key) const { return literal(raw, key); }
};

} // namespace corvane::test
