// Positions for tests, written as the rows that hold stones.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kestrova::testing {

// The text of a 15x15 position: rows of dots but for the rows given (line y, character x,
// as in protocol coordinates; 'X' side 2, 'O' side 3).
inline std::string Board15(const std::vector<std::pair<int, const char*>>& rows) {
  std::string text;
  for (int y = 0; y < 15; ++y) {
    std::string row(15, '.');
    for (auto& [r, s] : rows)
      if (r == y) row = s;
    text += row + "\n";
  }
  return text;
}

}  // namespace kestrova::testing
