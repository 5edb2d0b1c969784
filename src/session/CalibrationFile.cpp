#include "session/CalibrationFile.h"

#include "common/Angles.h"
#include "common/Error.h"
#include "common/NumberText.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kScaleKey = "pixels_per_arcsec";
constexpr const char* kScaleErrorKey = "pixels_per_arcsec_stderr";
constexpr const char* kDriftKey = "drift_angle";
constexpr const char* kDriftErrorKey = "drift_angle_stderr";
constexpr const char* kDecKey = "dec";
constexpr const char* kTimeKey = "observed_utc";
constexpr const char* kSourceKey = "source";
constexpr const char* kFramesKey = "frames_accepted";

// A direction a turn or two away from the usual range is still one; far
// beyond, the number was not meant as an angle.
constexpr double kMaxDriftAngle = 720.0;

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

[[noreturn]] void refuse(const std::string& name, const std::string& what) {
    throw Error("Cannot use the calibration file " + name + ": " + what + ".");
}

[[noreturn]] void refuseKey(const std::string& name, const char* key, const std::string& what) {
    refuse(name, "the key " + quoted(key) + " " + what);
}

const Json& member(const Json& j, const std::string& name, const char* key) {
    const auto it = j.find(key);
    if (it == j.end())
        refuseKey(name, key, "is missing");
    return *it;
}

double number(const Json& j, const std::string& name, const char* key) {
    const Json& v = member(j, name, key);
    if (!v.is_number())
        refuseKey(name, key, "does not hold a number");
    const double x = v.get<double>();
    if (!std::isfinite(x))
        refuseKey(name, key, "holds a number that is not finite");
    return x;
}

double error(const Json& j, const std::string& name, const char* key) {
    const double x = number(j, name, key);
    if (x < 0.0)
        refuseKey(name, key, "holds a negative standard error");
    return x;
}

std::string text(const Json& j, const std::string& name, const char* key) {
    const Json& v = member(j, name, key);
    if (!v.is_string())
        refuseKey(name, key, "does not hold a text");
    return v.get<std::string>();
}

int32_t count(const Json& j, const std::string& name, const char* key) {
    const Json& v = member(j, name, key);
    if (!v.is_number_integer())
        refuseKey(name, key, "does not hold a whole number");
    if (v.is_number_unsigned() ? v.get<uint64_t>() > INT32_MAX
                               : (v.get<int64_t>() < 0 || v.get<int64_t>() > INT32_MAX))
        refuseKey(name, key, "holds a count below 0 or too large");
    return static_cast<int32_t>(v.get<int64_t>());
}

void check(const Calibration& c, const std::string& name) {
    const auto finite = [&](double x, const char* key) {
        if (!std::isfinite(x))
            refuseKey(name, key, "holds a number that is not finite");
    };
    finite(c.pixelsPerArcsec, kScaleKey);
    finite(c.pixelsPerArcsecStderr, kScaleErrorKey);
    finite(c.driftAngle, kDriftKey);
    finite(c.driftAngleStderr, kDriftErrorKey);
    finite(c.dec, kDecKey);
    // A camera behind a telescope sees between a thousandth of a pixel and a
    // thousand pixels in an arc-second; anything else is a slip of the pen
    // and would give a separation of 0 or of millions of arc-seconds.
    if (!(c.pixelsPerArcsec >= kMinPixelsPerArcsec && c.pixelsPerArcsec <= kMaxPixelsPerArcsec))
        refuseKey(name, kScaleKey,
                  "holds a pixel scale outside " + formatGeneral(kMinPixelsPerArcsec) + " to " +
                      formatGeneral(kMaxPixelsPerArcsec) + " pixels per arc-second");
    if (!(std::fabs(c.driftAngle) <= kMaxDriftAngle))
        refuseKey(name, kDriftKey,
                  "holds an angle beyond -" + formatGeneral(kMaxDriftAngle) + " to " +
                      formatGeneral(kMaxDriftAngle) + " degrees");
    if (c.pixelsPerArcsecStderr < 0.0)
        refuseKey(name, kScaleErrorKey, "holds a negative standard error");
    if (c.driftAngleStderr < 0.0)
        refuseKey(name, kDriftErrorKey, "holds a negative standard error");
    if (!(std::fabs(c.dec) <= 90.0))
        refuseKey(name, kDecKey, "holds a declination beyond -90 to +90 degrees");
    if (c.framesAccepted < 0)
        refuseKey(name, kFramesKey, "holds a count below 0 or too large");
}

} // namespace

std::string calibrationJson(const Calibration& c, const std::string& name) {
    check(c, name);
    Json j;
    j[kScaleKey] = c.pixelsPerArcsec;
    j[kScaleErrorKey] = c.pixelsPerArcsecStderr;
    j[kDriftKey] = c.driftAngle;
    j[kDriftErrorKey] = c.driftAngleStderr;
    j[kDecKey] = c.dec;
    j[kTimeKey] = c.observedUtc;
    j[kSourceKey] = c.source;
    j[kFramesKey] = c.framesAccepted;
    // A name that is not valid UTF-8 (an old file system's) is kept readable
    // rather than refused.
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

Calibration parseCalibration(const std::string& content, const std::string& name) {
    Json j;
    try {
        j = Json::parse(content);
    } catch (const Json::parse_error& e) {
        refuse(name, "it is not JSON (at byte " + std::to_string(e.byte) + ")");
    } catch (const Json::exception&) {
        refuse(name, "it holds a number too large to be finite");
    }
    if (!j.is_object())
        refuse(name, "it is not a JSON object");
    Calibration c;
    c.pixelsPerArcsec = number(j, name, kScaleKey);
    c.pixelsPerArcsecStderr = error(j, name, kScaleErrorKey);
    c.driftAngle = number(j, name, kDriftKey);
    c.driftAngleStderr = error(j, name, kDriftErrorKey);
    c.dec = number(j, name, kDecKey);
    c.observedUtc = text(j, name, kTimeKey);
    c.source = text(j, name, kSourceKey);
    c.framesAccepted = count(j, name, kFramesKey);
    check(c, name);
    c.driftAngle = wrapDriftDegrees(c.driftAngle);
    return c;
}

void saveCalibration(const Calibration& c, const std::string& path) {
    const std::string content = calibrationJson(c, path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out)
        out << content;
    if (out)
        out.close();
    if (!out)
        throw Error("Cannot write the calibration file " + path + ": " + std::strerror(errno) +
                    ".");
}

Calibration loadCalibration(const std::string& path) {
    // Opened without blocking and checked before reading: a named pipe or a
    // device given as the calibration would wait forever for its data.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        refuse(path, std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        refuse(path, std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        refuse(path, "it is a folder, not a file");
    if (!S_ISREG(st.st_mode))
        refuse(path, "not a regular file");
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            refuse(path, std::strerror(errno));
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
        if (content.size() > kMaxCalibrationFileBytes)
            refuse(path, "it is larger than " + std::to_string(kMaxCalibrationFileBytes / 1024) +
                             " KiB, far more than a calibration holds");
    }
    return parseCalibration(content, path);
}

} // namespace corvane
