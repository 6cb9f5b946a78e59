// Positions for tests, written as the rows that hold stones.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kestrova::testing {

// The text of a size x size position: rows of dots but for the rows given (line y, character
// x, as in protocol coordinates; 'X' side 2, 'O' side 3), each padded with dots.
inline std::string BoardText(int size, const std::vector<std::pair<int, std::string>>& rows) {
  std::vector<std::string> lines(size, std::string(size, '.'));
  for (const auto& [y, cells] : rows) lines[y].replace(0, cells.size(), cells);
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

}  // namespace kestrova::testing
