#pragma once
// "results.csv": the extended record of every save, beside results.txt. One
// row per saved measurement, comma-separated with CR LF line ends (RFC 4180),
// UTF-8 text, under one header row: the results line's ten fields as
// results.txt has them, then what a published measurement needs besides:
// the standard errors, the frame counts, the method, the video, the time
// span measured and where the pixel scale came from; then how the
// measurement was made: the observation's Julian date, the orientation
// chosen and the frames measured. New columns go at the end, so that a
// reader that finds its columns by the header's names reads every age.
#include "results/ResultsLine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

struct ResultsCsvFields {
    ResultsFields line;              // the results line's fields, as results.txt takes them
    std::string separationStderr;    // arc-seconds
    std::string positionAngleStderr; // degrees
    std::string pixelScale;          // pixels per arc-second
    std::string pixelScaleStderr;
    std::string driftAngleStderr; // degrees
    std::string sepPxSd;          // one frame's standard deviation, pixels
    std::string screenAngleSd;    // one frame's standard deviation, degrees
    int32_t framesMeasured = 0;
    int32_t framesAccepted = 0; // the frames the result rests on
    int32_t framesClipped = 0;  // removed as outliers (0 without the clipping)
    std::string method;         // the "Method" caption
    std::string video;          // the video's file name
    std::string timeFrom;       // seconds from the recording's start: first accepted frame
    std::string timeTo;         // and last accepted frame
    std::string calibration;    // what gave the pixel scale: "drift" for the video's own drift,
                                // else the calibration's source and values
    // A speckle measurement's: whether its position angle's quadrant was
    // "decided" or stays "ambiguous" by 180 degrees, the chance that it is
    // right, and the magnitude difference with its standard error.
    std::string quadrant;
    std::string quadrantConfidence;
    std::string deltaMag;
    std::string deltaMagStderr;
    std::string julianDate;  // the observation's, finer than the epochs' 3 decimals
    std::string orientation; // "correct" or "mirrored": how the angles were read
    int32_t frameFrom = 0;   // the first and last frames measured
    int32_t frameTo = 0;
    std::string framesEffective; // how many independent frames the accepted ones are worth
    // The artificial-star test: the bias in separation (arc-seconds) and
    // position angle (degrees), read minus put, with their standard errors,
    // the copies read, and "yes" when the result had its biases taken off.
    std::string artificialSepBias;
    std::string artificialSepBiasStderr;
    std::string artificialPaBias;
    std::string artificialPaBiasStderr;
    std::string artificialCopies;
    std::string biasCorrected;
};

inline constexpr const char* kResultsCsvHeader =
    "RecordDate,designation,RA,DEC,Epoch(J),Epoch(B),Sep(rho),PA(theta),#frames,Notes,"
    "separation_stderr,position_angle_stderr,pixel_scale,pixel_scale_stderr,drift_angle_stderr,"
    "sep_px_sd,screen_angle_sd,frames_measured,frames_accepted,frames_clipped,method,video,"
    "time_from_s,time_to_s,calibration,quadrant,quadrant_confidence,delta_mag,delta_mag_stderr,"
    "julian_date,orientation,frame_from,frame_to,frames_effective,artificial_sep_bias,"
    "artificial_sep_bias_stderr,artificial_pa_bias,artificial_pa_bias_stderr,artificial_copies,"
    "bias_corrected";

// One row without its line end. A field holding a comma, a double quote, a
// CR or an LF is quoted, its quotes doubled. The texts from outside (the
// designation, the coordinates, the notes, the video's name, the calibration)
// are made safe for spreadsheets: one that starts with =, +, -, @, a tab or a
// CR gets a leading apostrophe so that it is not run as a formula (typed
// coordinates such as "+45 00 00" excepted), and bytes that are not UTF-8
// become U+FFFD. Every other field is as given: numbers stay numbers.
std::string buildResultsCsvRow(const ResultsCsvFields& fields);

// The typed fields ("designation", "RA", "Dec", "notes") and "video name"
// that hold bytes which are not UTF-8, which the row replaces: the front ends
// say so before saving.
std::vector<std::string> fieldsNotUtf8(const ResultsFields& typed, const std::string& video);

} // namespace corvane
