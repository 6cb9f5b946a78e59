// The leaf value of the stronger search: the chance that the side to move wins, fitted to the
// results of recorded games from the scan's value and every shape of both sides.
#pragma once

#include <cstdint>

#include "patterns/scan_state.h"

namespace kestrova {

// The value, seen from side 2, of the board the scan state follows, whose scan gave scanValue
// (seen from side 2, not a five's); always strictly inside a five's.
int32_t ShapeValue(const ScanState& state, int sideToMove, int32_t scanValue);

}  // namespace kestrova
