#pragma once
// Checks made before FFmpeg sees a file, so that the common failures get a
// message that says what is wrong: missing, a folder, unreadable, empty, not
// an AVI at all, or cut short.
#include <string>

namespace corvane {

// Throws Error when `path` is not a complete AVI file.
void checkAviFile(const std::string& path);

} // namespace corvane
