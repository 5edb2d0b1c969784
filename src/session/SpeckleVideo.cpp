#include "session/SpeckleVideo.h"

#include "measure/StarStatus.h"

#include <ctime>

namespace corvane {

namespace {

double cpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

BoxCentre brightestPixel(const IntensityPlane& plane) {
    BoxCentre best;
    int32_t top = -1;
    for (int32_t y = 0; y < plane.height(); ++y) {
        const uint16_t* row = plane.row(y);
        for (int32_t x = 0; x < plane.width(); ++x)
            if (row[x] > top) {
                top = row[x];
                best = {static_cast<double>(x), static_cast<double>(y)};
            }
    }
    return best;
}

} // namespace

SpeckleRecording recordSpeckle(FrameSource& source, int32_t first, int32_t last,
                               std::optional<BoxCentre> start, int32_t size,
                               const std::function<void(int32_t)>& afterFrame,
                               const std::function<bool()>& cancel) {
    SpeckleRecording rec;
    const double t0 = cpuSeconds();
    rec.spectra = std::make_unique<SpeckleSpectra>(size, speckleBlockFrames(last - first));
    const std::vector<float> window = apodisingWindow(size);
    Frame frame;
    std::optional<BoxCentre> centre = start;
    for (int32_t n = first; n < last; ++n) {
        if (cancel && cancel())
            break;
        if (source.frameFate(n) == FrameFate::Dropped || !source.read(n, frame) ||
            frame.intensity.empty())
            continue;
        if (!centre)
            centre = brightestPixel(frame.intensity);
        centre = speckleBox(frame.intensity, *centre, size, window, rec.spectra->box());
        const BoxCorner corner = boxCorner(*centre, size);
        if (reachesWhite(frame.intensity, corner.left, corner.top, size))
            ++rec.saturatedFrames;
        else
            rec.spectra->add();
        PairPosition p;
        p.PrimaryX = p.SecondaryX = static_cast<float>(centre->x);
        p.PrimaryY = p.SecondaryY = static_cast<float>(centre->y);
        p.TimeUs = source.hasFrameTimes() ? source.measuredTimeUs(n) : 0;
        p.FrameNo = n;
        p.Valid = true;
        rec.track.push_back(p);
        if (afterFrame)
            afterFrame(n);
    }
    rec.seconds = cpuSeconds() - t0;
    return rec;
}

std::string saturatedExposuresText(int32_t saturated, int32_t read, const std::string& whose) {
    if (saturated <= 0)
        return "";
    return std::to_string(saturated) + " of " + std::to_string(read) + " exposures reached " +
           whose +
           " white level and were left out: lower the gain or the exposure time for a "
           "measurement of every exposure";
}

std::string speckleNoResultText(const SpeckleMeasurement& m) {
    switch (m.status) {
    case SpeckleStatus::Measured:
        return "";
    case SpeckleStatus::NoPair:
        return "No companion above the detection limit in " + std::to_string(m.frames) +
               " exposures";
    case SpeckleStatus::NoSignal:
        return "The star's box holds no light above the noise in " + std::to_string(m.frames) +
               " exposures";
    case SpeckleStatus::TooFewFrames:
        break;
    }
    return "Only " + std::to_string(m.frames) + " exposures were read (" +
           (m.referenceFrames > 0 && m.referenceFrames < kMinSpeckleFrames
                ? std::to_string(m.referenceFrames) + " of the reference star; "
                : std::string()) +
           "at least " + std::to_string(kMinSpeckleFrames) + " are needed)";
}

} // namespace corvane
