#pragma once
// "results.txt": the file in which the saved measurements accumulate, one
// line per confirmed save, CR LF line ends, UTF-8 text.
#include "common/FileError.h"

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
// The file is closed after a failure too. A file whose last line lacks its
// line end gets one before the new line. Failures throw corvane::Error with
// the text of `fileErrorMessage`, naming the file and what failed.
void appendResultsLine(const std::string& path, const std::string& line);

// Where results.csv goes beside the results file at `path`: the same name
// with the extension ".csv" in place of ".txt" (added when it has none).
std::string resultsCsvPath(const std::string& path);

// One save of a measurement: `line` into the results file at `path`, as
// appendResultsLine does, then `csvRow` into results.csv beside it (created
// with its header row when new), with the same care. The results file comes
// first: when only the CSV row fails, the error names results.csv and says
// that the line was saved.
//
// The two files stay in step whatever stops a save: the record is first
// written to a journal beside the results file (".results.txt.pending"), and
// a record found there by the next save, or by completePendingRecord, is
// added to whichever file lacks it. A file whose last line is the record's
// already holds it. Saves of several programs into the same files take turns.
void saveResultsRecord(const std::string& path, const std::string& line, const std::string& csvRow);

// Completes a record whose save was cut short, if any (see saveResultsRecord).
void completePendingRecord(const std::string& path);

// For tests that stop a save part-way: called after each step of
// saveResultsRecord.
enum class SaveStep { Journal, Results, Csv };
using SaveStepHook = void (*)(SaveStep);
void setSaveStepHook(SaveStepHook hook);

// Where "results.txt" goes when no other file is named: beside the program,
// or in the user's data folder for an installed copy (see userFilePath).
std::string defaultResultsPath();

} // namespace corvane
