// The text form of a position: 20 lines of 20 cells, '.' empty, 'X' side 2, 'O' side 3.
#pragma once

#include <string>
#include <string_view>

#include "engine/board.h"

namespace kestrova {

// Fills board (walls written) from text; on failure returns false and says why in error.
bool ParsePosition(std::string_view text, Board& board, std::string& error);

std::string FormatPosition(const Board& board);

}  // namespace kestrova
