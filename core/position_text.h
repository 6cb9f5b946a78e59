// The text form of a position: n lines of n cells (n from 5 to 20), '.' empty, 'X' side 2,
// 'O' side 3.
#pragma once

#include <string>
#include <string_view>

#include "core/board.h"

namespace kestrova {

// Fills board (walls written for the n x n board the text shows); on failure returns false
// and says why in error.
bool ParsePosition(std::string_view text, Board& board, std::string& error);

std::string FormatPosition(const Board& board);

}  // namespace kestrova
