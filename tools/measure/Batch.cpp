#include "Batch.h"

#include "common/Error.h"
#include "common/FileError.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace corvane::tool {

std::vector<std::string> splitArguments(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            else if (c == '\\' && quote == '"' && i + 1 < line.size())
                word += line[++i];
            else
                word += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote)
        throw UsageError(std::string("a ") + quote + " quote is not closed");
    if (inWord)
        words.push_back(word);
    return words;
}

namespace {

// A video of the list: where it stands and what it gave.
struct Entry {
    int32_t lineNumber = 0;
    std::string line;
    std::string video; // as the line names it
    std::string json;  // one line, without its newline
    std::string messages;
    bool ok = false;
};

std::string jsonText(const std::string& s) {
    // A name that is not valid UTF-8 is kept readable rather than refused.
    return nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A relative path of a list's line is taken from the list's folder, so that
// a list and its videos can move together.
void fromListFolder(std::string& path, const std::string& folder) {
    if (!path.empty() && path[0] != '/' && !folder.empty())
        path = folder + "/" + path;
}

void measureEntry(Entry& e, const std::string& folder) {
    std::string error;
    try {
        const std::vector<std::string> words = splitArguments(e.line);
        // The video's name first, even when its options turn out wrong.
        for (std::size_t i = 0; i < words.size() && e.video.empty(); ++i)
            if (!words[i].empty() && words[i][0] != '-')
                e.video = words[i];
        ToolOptions o = parseOptions(words);
        if (o.help || o.version || !o.batchList.empty())
            throw UsageError("a line of a batch measures one video");
        // The videos share the processor, so one video's time would not
        // say what it costs alone.
        if (o.measure.bench)
            throw UsageError("--bench times one video alone: run it without --batch");
        // The figure is drawn by the window's toolkit, which works in one thread only.
        if (!o.plotPath.empty())
            throw UsageError("--plot draws one video's run, not a batch line's");
        o.json = true;
        e.video = o.measure.video;
        fromListFolder(o.measure.video, folder);
        fromListFolder(o.framesCsv, folder);
        fromListFolder(o.resultsPath, folder);
        fromListFolder(o.saveCalibration, folder);
        for (std::string& c : o.measure.calibrationFiles)
            fromListFolder(c, folder);
        std::ostringstream results, messages;
        const int status = measureOne(o, {}, {}, results, messages);
        e.messages = messages.str();
        std::string json = results.str();
        while (!json.empty() && json.back() == '\n')
            json.pop_back();
        // The object gets the video's path in front.
        e.json = "{\"video\": " + jsonText(e.video) + ", " + json.substr(1);
        if (status == kExitResults) {
            e.ok = true;
            return;
        }
        // The reason there is no result is the last thing said.
        error = e.messages;
        while (!error.empty() && error.back() == '\n')
            error.pop_back();
        error = "line " + std::to_string(e.lineNumber) + ": " +
                error.substr(error.find_last_of('\n') + 1);
        e.json.pop_back();
        e.json += ", \"error\": " + jsonText(error) + "}";
        return;
    } catch (const UsageError& x) {
        error = x.what();
    } catch (const Error& x) {
        error = x.what();
    } catch (const std::bad_alloc&) {
        error = "Out of memory";
    } catch (const std::exception& x) {
        error = x.what();
    }
    error = "line " + std::to_string(e.lineNumber) + ": " + error;
    e.json = "{\"video\": " + jsonText(e.video) + ", \"error\": " + jsonText(error) + "}";
}

// A batch list names a few hundred videos at most; these bounds keep a wrong
// file (a disk image, /dev/urandom) from filling the memory.
constexpr std::size_t kMaxListBytes = 16u << 20;
constexpr std::size_t kMaxLineBytes = 64u << 10;

[[noreturn]] void refuseList(const std::string& path, const std::string& why) {
    throw Error("Cannot read the batch list " + path + ": " + why + ".");
}

std::vector<Entry> readList(const std::string& path) {
    int fd = -1;
    try {
        fd = openRegularFile(path);
    } catch (const Error&) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            refuseList(path, std::strerror(errno));
        throw;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            refuseList(path, std::strerror(err));
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxListBytes) {
            ::close(fd);
            refuseList(path, "it is larger than " + std::to_string(kMaxListBytes >> 20) +
                                 " MiB, far more than a list of videos holds");
        }
    }
    ::close(fd);
    std::vector<Entry> entries;
    std::istringstream in(text);
    std::string line;
    for (int32_t n = 1; std::getline(in, line); ++n) {
        if (line.size() > kMaxLineBytes)
            refuseList(path, "line " + std::to_string(n) + " is longer than " +
                                 std::to_string(kMaxLineBytes >> 10) + " KiB");
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        Entry e;
        e.lineNumber = n;
        e.line = line;
        entries.push_back(std::move(e));
    }
    return entries;
}

} // namespace

int runBatch(const std::string& listPath, int32_t jobs) {
    std::vector<Entry> entries = readList(listPath);
    const std::size_t slash = listPath.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : listPath.substr(0, slash);
    const std::size_t workers = std::min<std::size_t>(
        entries.size(), jobs > 0 ? static_cast<std::size_t>(jobs)
                                 : std::max<std::size_t>(1, std::thread::hardware_concurrency()));

    // Each worker takes the next video; the lines go out in the list's
    // order, each as soon as every video before it is done.
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::vector<bool> done(entries.size(), false);
    std::size_t printed = 0;
    auto work = [&] {
        for (std::size_t i; (i = next++) < entries.size();) {
            measureEntry(entries[i], folder);
            const std::lock_guard<std::mutex> guard(lock);
            done[i] = true;
            for (; printed < entries.size() && done[printed]; ++printed) {
                const Entry& e = entries[printed];
                std::cout << e.json << "\n";
                std::cout.flush();
                std::istringstream messages(e.messages);
                for (std::string m; std::getline(messages, m);)
                    std::cerr << "line " << e.lineNumber << ": " << e.video << ": " << m << "\n";
            }
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < workers; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();

    std::size_t failed = 0;
    for (const Entry& e : entries)
        failed += e.ok ? 0 : 1;
    std::cerr << entries.size() << (entries.size() == 1 ? " video: " : " videos: ")
              << entries.size() - failed << " measured, " << failed << " failed";
    std::string names;
    for (const Entry& e : entries)
        if (!e.ok)
            names += (names.empty() ? " (" : ", ") + ("line " + std::to_string(e.lineNumber)) +
                     (e.video.empty() ? std::string() : " " + e.video);
    std::cerr << (names.empty() ? "" : names + ")") << "\n";
    return failed == 0 ? kExitResults : kExitError;
}

} // namespace corvane::tool
