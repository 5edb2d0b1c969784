#pragma once
// A calibration as a JSON object with the keys pixels_per_arcsec,
// pixels_per_arcsec_stderr, drift_angle, drift_angle_stderr, dec,
// observed_utc, source and frames_accepted. Other keys are left alone.
#include "reduce/Calibration.h"

#include <string>

namespace corvane {

// Largest calibration file read: the object is a few hundred bytes.
inline constexpr std::size_t kMaxCalibrationFileBytes = 64 * 1024;

// The JSON text. Throws corvane::Error for a value that is not finite or an
// error that is negative (`name` names the calibration in the message).
std::string calibrationJson(const Calibration& calibration, const std::string& name);

// Reads the JSON text; `name` (the file's) opens every message. Throws
// corvane::Error for a text that is not JSON, a missing key, a value of the
// wrong kind, a number that is not finite, a scale that is not positive, a
// negative error or count, a declination beyond +-90.
Calibration parseCalibration(const std::string& text, const std::string& name);

void saveCalibration(const Calibration& calibration, const std::string& path);
Calibration loadCalibration(const std::string& path);

} // namespace corvane
