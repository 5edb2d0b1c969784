#pragma once
// "results.txt": the file in which the saved measurements accumulate, one
// line per confirmed save, CR LF line ends, UTF-8 text.
#include <string>

namespace corvane {

// Appends `line` and a CR LF to the file at `path`. A file that does not exist
// yet is created holding the title line, the header line and the data line.
//
// Nothing is lost: the call returns only when the whole line is on disk
// (written in one write on an append-only descriptor, then synced). A failed
// save leaves the file as it was: no half line, no title without its header,
// the earlier lines untouched, and no file at all when a new one could not be
// written whole. Concurrent saves from several processes each land whole.
// The file is closed after a failure too. Failures throw corvane::Error with
// the text of `fileErrorText`.
void appendResultsLine(const std::string& path, const std::string& line);

// Where results.csv goes beside the results file at `path`: the same name
// with the extension ".csv" in place of ".txt" (added when it has none).
std::string resultsCsvPath(const std::string& path);

// One save of a measurement: `line` into the results file at `path`, as
// appendResultsLine does, then `csvRow` into results.csv beside it (created
// with its header row when new), with the same care. The results file comes
// first: when only the CSV row fails, the error names results.csv and says
// that the line was saved.
void saveResultsRecord(const std::string& path, const std::string& line, const std::string& csvRow);

// The user's text for a failed file operation with this errno value:
// "File access denied", "Disk full", "Invalid filename", "Too many open
// files", "File not found", or "I/O error <number>".
std::string fileErrorText(int errorNumber);

// Where "results.txt" goes when no other file is named: beside the program,
// or in the user's data folder for an installed copy (see userFilePath).
std::string defaultResultsPath();

} // namespace corvane
