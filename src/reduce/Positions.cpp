#include "reduce/Positions.h"

namespace corvane {

int32_t CountValidRows(const PairPositions& rows) {
    int32_t n = 0;
    for (const PairPosition& r : rows)
        if (r.Valid)
            ++n;
    return n;
}

} // namespace corvane
