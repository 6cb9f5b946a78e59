// The referee's own view of a game: stones on an n x n grid (5..20), moves as text, five in
// a row.
// Deliberately independent of the engine's board, so a bug there cannot hide in the judge.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/board.h"

namespace kestrova::referee {

enum class Stone : uint8_t { None, Black, White };

inline Stone Other(Stone s) {
  return s == Stone::Black ? Stone::White : Stone::Black;
}

// Protocol coordinates, counted from 0.
struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

inline bool ValidBoardSize(int size) {
  return size >= kMinBoardSize && size <= BoardSize;
}

inline bool OnBoard(Point p, int size = BoardSize) {
  return p.x >= 0 && p.x < size && p.y >= 0 && p.y < size;
}

// What wins, as INFO rule's values tell the engines: five or more in a row, or exactly five
// (six or more then win nothing).
inline constexpr int kFreestyle = 0;
inline constexpr int kExactFive = 1;

// Cells are laid out in rows of the largest board whatever the size, so a point's cell
// never depends on it.
struct Grid {
  explicit Grid(int boardSize = BoardSize, int winRule = kFreestyle)
      : size(boardSize), rule(winRule) {}

  std::array<Stone, BoardSize * BoardSize> cells{};
  int stones = 0;
  int size;
  int rule;

  Stone at(Point p) const { return cells[p.y * BoardSize + p.x]; }
  bool OnBoard(Point p) const { return referee::OnBoard(p, size); }
  void Put(Point p, Stone s);
  bool Full() const { return stones == size * size; }
};

// True when the stone on p belongs to an unbroken line of its colour that wins under the
// grid's rule: five or more, or exactly five.
bool MakesFive(const Grid& grid, Point p);

// A move as an engine must send it: "x,y", digits only, nothing before or after.
std::optional<Point> ParseEngineMove(std::string_view text);
// A move as a person types it: "x,y" (protocol coordinates, spaces allowed) or a column
// letter and a row number, "h8" being 7,7.
std::optional<Point> ParseHumanMove(std::string_view text);

std::string ProtocolText(Point p);  // "7,7"
std::string LetterText(Point p);    // "h8"

// Stones placed before the engines take over, black first and colours alternating.
using Opening = std::vector<Point>;

// One line of an openings file, "x,y x,y ..." ("-" is the empty opening); false with the
// reason in error when a move is malformed, off the size x size board, repeated or the
// line has a five.
bool ParseOpening(std::string_view line, Opening& opening, std::string& error,
                  int size = BoardSize);
// Three stones on distinct cells of the 7x7 square around the centre (size / 2, size / 2),
// or of the whole board when it is smaller than that square.
Opening RandomOpening(std::mt19937_64& rng, int size = BoardSize);

}  // namespace kestrova::referee
