#include "measure/Methods.h"

#include <cstring>
#include <limits>

namespace corvane {

namespace {

const MethodEntry kEntries[] = {
    {Method::WeightedAverage, "Weighted Average", "weighted", &findcentroid, 0.6L},
    {Method::PeakSearch, "Peak Search", "peak", &findpeaks, 0.5L},
    // The fit's own status accepts or rejects a row; no offset is too far.
    {Method::PsfFit, "PSF Fit", "psf", &fitpair, std::numeric_limits<long double>::infinity()},
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

} // namespace corvane
