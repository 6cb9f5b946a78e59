// What the manager may accept as the engine's reply: the fuzz target checks every reply
// with it, and the unit tests check the checker itself.
#pragma once

#include <string>
#include <string_view>

#include "core/board.h"

namespace kestrova::testing {

// Digits only, no leading zero, below size.
inline bool IsCoordinate(std::string_view s, int size) {
  if (s.empty() || s.size() > 2 || (s.size() == 2 && s[0] == '0')) return false;
  int value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value < size;
}

// "" when text is a reply the protocol allows; a move must name a cell that was empty in
// asked, the position the engine was asked to move in. Otherwise what is wrong.
inline std::string ReplyProblem(std::string_view text, const Board& asked, int size) {
  if (text.find_first_of("\r\n") != std::string_view::npos) return "line end inside a reply";
  if (text == "OK" || text == "UNKNOWN" || text.starts_with("name=\"Kestrova\"")) return "";
  if (text.starts_with("ERROR ") && text.size() > 6) return "";
  if (text.starts_with("MESSAGE ") && text.size() > 8) return "";
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos || !IsCoordinate(text.substr(0, comma), size) ||
      !IsCoordinate(text.substr(comma + 1), size))
    return "reply is no protocol form: \"" + std::string(text) + "\"";
  const int x = std::stoi(std::string(text.substr(0, comma)));
  const int y = std::stoi(std::string(text.substr(comma + 1)));
  if (asked.at(x + 1, y + 1) != Empty) return "move onto a taken cell: " + std::string(text);
  return "";
}

}  // namespace kestrova::testing
