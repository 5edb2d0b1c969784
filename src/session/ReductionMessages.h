#pragma once
// The reduction's refusals and doubts in the program's words. The reduction
// gives reasons and numbers; these texts are written here, once, for the
// window, the tool and the results files alike.
#include "reduce/Calibration.h"
#include "reduce/Refusal.h"
#include "reduce/Statistics.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace corvane {

std::string refusalText(const Refusal& refusal);

// Runs `call`, turning a RefusalError into the corvane::Error with its text.
template <typename Call> decltype(auto) withRefusalText(Call&& call) {
    try {
        return std::forward<Call>(call)();
    } catch (const RefusalError& e) {
        throw Error(refusalText(e.refusal));
    }
}

// The result's `error` with the text of its refusal, when it has one.
void writeRefusalText(ReductionResult& result);

std::string doubtText(const ReductionDoubt& doubt, char decimalSeparator);

// The warnings a result deserves; none for a sound result. `framesMeasured`
// is the number of frames the run measured.
std::vector<std::string> reductionWarnings(const ReductionStatistics& stats, int32_t framesMeasured,
                                           char decimalSeparator);

// The warning for calibrations that disagree.
std::string calibrationDisagreementWarning(const CalibrationAgreement& agreement,
                                           char decimalSeparator);

} // namespace corvane
