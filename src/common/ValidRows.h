#pragma once
// How many accepted frames a measurement needs: a run reduces only past it,
// and the reduction refuses fewer.
#include <cstdint>

namespace corvane {

// Valid rows needed before the reduction runs.
inline constexpr int32_t MinValidRows = 16;

} // namespace corvane
