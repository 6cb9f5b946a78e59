// Openings files of kestrova match, in both forms openings are published in, detected line by
// line:
//   offsets from the centre (size / 2, size / 2), all comma-separated: "0,0, 1,-1, 2,1"
//   absolute cells, one x,y a stone:                                     "10,10 11,9 12,11"
// A lone non-negative pair "x,y" reads as a cell; write "x,y," for one stone as an offset.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/referee/game_rules.h"

namespace kestrova::referee {

// One line; false with the reason in error when it is malformed, off the size x size board,
// repeats a cell or already holds five.
bool ParseOpeningLine(std::string_view line, int size, Opening& opening, std::string& error);

// Every line that is not blank or a '#' comment; false with "PATH:LINE: reason" in error.
bool ReadOpeningsFile(const std::string& path, int size, std::vector<Opening>& openings,
                      std::string& error);

}  // namespace kestrova::referee
