#include "tools/referee/game_rules.h"

#include <algorithm>
#include <cctype>

namespace kestrova::referee {
namespace {

// Digits only, at most two of them: anything else is not a coordinate.
std::optional<int> ParseCoordinate(std::string_view text) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

int RunLength(const Grid& grid, Point p, int dx, int dy) {
  const Stone own = grid.at(p);
  int n = 0;
  for (Point q{p.x + dx, p.y + dy}; grid.OnBoard(q) && grid.at(q) == own; q = {q.x + dx, q.y + dy})
    ++n;
  return n;
}

}  // namespace

void Grid::Put(Point p, Stone s) {
  Stone& cell = cells[p.y * BoardSize + p.x];
  stones += (s != Stone::None) - (cell != Stone::None);
  cell = s;
}

bool MakesFive(const Grid& grid, Point p) {
  if (!grid.OnBoard(p) || grid.at(p) == Stone::None) return false;
  constexpr int kDirections[4][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}};
  for (const auto& d : kDirections) {
    const int run = 1 + RunLength(grid, p, d[0], d[1]) + RunLength(grid, p, -d[0], -d[1]);
    if (grid.rule == kExactFive ? run == 5 : run >= 5) return true;
  }
  return false;
}

std::optional<Point> ParseEngineMove(std::string_view text) {
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  const auto x = ParseCoordinate(text.substr(0, comma));
  const auto y = ParseCoordinate(text.substr(comma + 1));
  if (!x || !y) return std::nullopt;
  return Point{*x, *y};
}

std::optional<Point> ParseHumanMove(std::string_view text) {
  text = Trim(text);
  const size_t comma = text.find(',');
  if (comma != std::string_view::npos) {
    const auto x = ParseCoordinate(Trim(text.substr(0, comma)));
    const auto y = ParseCoordinate(Trim(text.substr(comma + 1)));
    if (!x || !y) return std::nullopt;
    return Point{*x, *y};
  }
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text.front()))) return std::nullopt;
  const int column = std::tolower(static_cast<unsigned char>(text.front())) - 'a';
  const auto row = ParseCoordinate(Trim(text.substr(1)));
  if (!row || *row == 0) return std::nullopt;
  return Point{column, *row - 1};
}

std::string ProtocolText(Point p) {
  return std::to_string(p.x) + "," + std::to_string(p.y);
}

std::string LetterText(Point p) {
  std::string text(1, char('a' + p.x));
  text += std::to_string(p.y + 1);
  return text;
}

bool ParseOpening(std::string_view line, Opening& opening, std::string& error, int size) {
  opening.clear();
  line = Trim(line);
  if (line == "-") return true;
  Grid grid(size);
  Stone colour = Stone::Black;
  while (!line.empty()) {
    const size_t end = line.find_first_of(" \t");
    const std::string word(line.substr(0, end));
    line = Trim(end == std::string_view::npos ? std::string_view{} : line.substr(end));
    const auto move = ParseEngineMove(word);
    if (!move) {
      error = "not a move x,y: " + word;
      return false;
    }
    if (!grid.OnBoard(*move)) {
      error = word + " is off the board";
      return false;
    }
    if (grid.at(*move) != Stone::None) {
      error = word + " is played twice";
      return false;
    }
    grid.Put(*move, colour);
    if (MakesFive(grid, *move)) {
      error = "the opening already has five in a row";
      return false;
    }
    opening.push_back(*move);
    colour = Other(colour);
  }
  if (opening.empty()) {
    error = "no moves (write '-' for the empty opening)";
    return false;
  }
  if (grid.Full()) {
    error = "the opening fills the board: no move is left to play";
    return false;
  }
  return true;
}

Opening RandomOpening(std::mt19937_64& rng, int size) {
  // Plain modulo rather than a std distribution: the same seed gives the same openings
  // with every standard library.
  const int kSide = std::min(7, size);
  const int kLow = std::max(0, size / 2 - kSide / 2);
  Opening opening;
  while (opening.size() < 3) {
    const int cell = int(rng() % (kSide * kSide));
    const Point p{kLow + cell % kSide, kLow + cell / kSide};
    bool taken = false;
    for (const Point& q : opening) taken = taken || q == p;
    if (!taken) opening.push_back(p);
  }
  return opening;
}

}  // namespace kestrova::referee
