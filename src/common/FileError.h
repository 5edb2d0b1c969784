#pragma once
// Texts for failed file operations, and the check that keeps the program from
// opening what is not a plain file: a named pipe or a device given as a video,
// a calibration or a batch list would block the open or never end.
#include <string>

namespace corvane {

// The user's text for a failed file operation with this errno value:
// "File access denied", "Disk full", "Invalid filename", "Too many open
// files", "File not found", or "I/O error <number>".
std::string fileErrorText(int errorNumber);

// "<fileErrorText>: cannot <operation> <path>", for example
// "Disk full: cannot write /home/me/results.txt".
std::string fileErrorMessage(int errorNumber, const std::string& operation,
                             const std::string& path);

// Throws corvane::Error unless `path` names a regular file that may be opened
// for reading: "not a regular file: PATH" for a pipe, a device, a socket or a
// folder, else the fileErrorMessage of the failed open. The check opens the
// file without blocking, so a pipe with no writer cannot hang it.
void requireRegularFile(const std::string& path);

// Opens `path` for reading after the same check; the descriptor is the one
// checked, so nothing can swap the file in between. The caller closes it.
int openRegularFile(const std::string& path);

} // namespace corvane
