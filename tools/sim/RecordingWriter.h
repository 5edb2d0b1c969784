#pragma once
// Writes the simulated drift as the recordings astronomy cameras make: SER
// (8- or 16-bit, mono or RGGB, with the trailer of per-frame UTC time
// stamps) and FITS (a cube, or a sequence of single-frame files each with
// its DATE-OBS), from the same frames the AVI codecs store.
#include "sim/DriftSim.h"

#include <string>
#include <vector>

namespace corvane::sim {

enum class Container {
    Avi,
    Ser,
    FitsCube,    // one image HDU with NAXIS = 3
    FitsSequence // NAME_00001.fits, NAME_00002.fits, ... beside NAME.fits
};

// By the output file's extension: .ser, .fits/.fit/.fts (a cube), else AVI.
Container containerOf(const std::string& path);
const char* containerName(Container c);

struct RecordingOptions {
    Container container = Container::Avi;
    // UTC of the first frame, as "YYYY-MM-DDThh:mm:ss[.ffffff]": the SER
    // header's DateTime and DateTime_UTC (local time taken as UTC) and the
    // start of the time stamps; the FITS DATE-OBS.
    std::string startUtc = "2026-03-14T21:30:00";
    bool timeStamps = true; // SER: write the trailer of time stamps
    // FITS: 0 stores the samples as integers; otherwise as 32-bit floats
    // with the white sample at this value (1 for data normalised to 0-1).
    double fitsFloatWhite = 0;
    // FITS: a value above 0 puts a hot pixel of this value at the top-left
    // corner of every frame.
    double fitsHotPixel = 0;
    std::string observer = "corvane-sim";
    std::string instrument = "simulated camera";
    std::string telescope = "simulated telescope";
};

// Writes the recording and returns its truth; `files` gets the files written
// (one, or one per frame for a sequence). Throws corvane::Error.
Truth writeRecording(const std::string& path, const DriftParams& p, const RecordingOptions& o,
                     std::vector<std::string>* files = nullptr);

// The name of frame n's file of a sequence for the output `path`.
std::string sequenceFileName(const std::string& path, int64_t n);

} // namespace corvane::sim
