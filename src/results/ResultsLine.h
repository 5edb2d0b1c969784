#pragma once
// The results line: one tab-separated line per saved measurement, built from
// the texts of the window's boxes as they read. Nothing is formatted again,
// quoted or escaped; only a tab, CR or LF typed into a box becomes a space, so
// that every line keeps its ten columns and stays one line.
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

struct ResultsFields {
    std::string recordDate;                    // date of saving in the user's short date format
    std::string designation;                   // Edit1
    std::string raHours, raMinutes, raSeconds; // Edit2, Edit3, Edit4
    std::string decDegrees, decMinutes, decSeconds; // Edit5, Edit6, Edit7
    std::string epochJ;                             // Edit17
    std::string epochB;                             // Edit18
    std::string separation;                         // Edit16
    std::string positionAngle;                      // Edit15
    int32_t validFrames = 0;                        // CountValidRows
    std::string notes;                              // NotesEdit
};

inline constexpr const char* kResultsTitle = "Corvane Ouput File";
inline constexpr const char* kResultsHeader =
    "RecordDate\tdesignation\tRA\tDEC\tEpoch(J)\tEpoch(B)\tSep(rho)\tPA(theta)\t#frames\tNotes";

// Ten fields, nine tabs, no line end.
std::string buildResultsLine(const ResultsFields& fields);

// The typed fields ("designation", "RA", "Dec", "notes") holding a tab or a
// line end, which the line writes as spaces: the front ends say so before
// saving.
std::vector<std::string> typedFieldsWithBreaks(const ResultsFields& fields);

// The short date "M/d/yy" (month and day without leading zeros, two-digit
// year), used where no regional short date format can be read.
std::string formatShortDateFallback(int32_t year, int32_t month, int32_t day);

// Today's date as a results line records it, the same from every front end:
// in the short date format of the user's LC_TIME locale, or "M/d/yy" where
// that is the C locale or cannot be read.
std::string recordDateToday();

} // namespace corvane
