#include "measure/Methods.h"

#include "measure/Selection.h"

#include <cstring>
#include <limits>

namespace corvane {

namespace {

// A weighted centre takes in whatever light of the neighbour reaches its
// star box, as well as an image overlapping its own.
bool overlapsOrReachesBox(const WorkingState& ws) {
    return imagesOverlap(ws) || neighbourInStarBox(ws);
}

// The sky tolerances, measured with the simulator on a 12" pair (120
// frames): Weighted Average reads +0.25 % with 1.2 steps left (noise 3),
// +0.6 % with 3.2 (noise 8) and +1 % with 6 (noise 15); Peak Search reads the
// same with 6 steps left. The fit models the sky.
const MethodEntry kEntries[] = {
    {Method::WeightedAverage, "Weighted Average", "weighted", &findcentroid, 0.6L, 2.0,
     &overlapsOrReachesBox, "try PSF Fit"},
    {Method::PeakSearch, "Peak Search", "peak", &findpeaks, 0.5L, 8.0, &imagesOverlap,
     "try PSF Fit"},
    // The fit's own status accepts or rejects a row; no offset is too far.
    // It parts overlapping images.
    {Method::PsfFit, "PSF Fit", "psf", &fitpair, std::numeric_limits<long double>::infinity(),
     std::nullopt, nullptr, "try a smaller box"},
    // The same: the fit decides, models its sky and parts overlapping images.
    {Method::TemplateFit, "Template Fit", "template", &fittemplate,
     std::numeric_limits<long double>::infinity(), std::nullopt, nullptr, "try PSF Fit"},
};

constexpr std::size_t kCount = sizeof kEntries / sizeof kEntries[0];

} // namespace

const MethodEntry* methodEntries() {
    return kEntries;
}

std::size_t methodCount() {
    return kCount;
}

const MethodEntry& methodEntry(Method method) {
    for (const MethodEntry& e : kEntries)
        if (e.method == method)
            return e;
    return methodEntry(kDefaultMethod);
}

Method methodAtIndex(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= kCount)
        return kDefaultMethod;
    return kEntries[index].method;
}

int indexOfMethod(Method method) {
    for (std::size_t i = 0; i < kCount; ++i)
        if (kEntries[i].method == method)
            return static_cast<int>(i);
    return indexOfMethod(kDefaultMethod);
}

const MethodEntry* methodNamed(const char* name) {
    for (const MethodEntry& e : kEntries)
        if (std::strcmp(e.optionName, name) == 0)
            return &e;
    return nullptr;
}

bool storeRow(WorkingState& ws, Method method, FrameRow row, int32_t frame, int64_t timeUs) {
    if (frame < 0 || static_cast<std::size_t>(frame) >= ws.FrameData.size())
        return false;
    row.FrameNo = frame;
    row.TimeUs = timeUs;
    FrameRow& stored = ws.FrameData[static_cast<std::size_t>(frame)];
    stored = row;
    applyAcceptance(ws.FrameData, frame, ws.ExpectedDX, ws.ExpectedDY,
                    methodEntry(method).acceptanceLimit);
    nameRejection(stored, row.Valid);
    return true;
}

} // namespace corvane
