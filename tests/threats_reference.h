// A plain reference for the threat solver's tests: five cells by counting runs over the whole
// board, a check of a VCF line move by move, and a brute-force VCF search that tries every
// empty cell. Slow on purpose; nothing here is shared with the solver.
#pragma once

#include <string>
#include <vector>

#include "core/board.h"
#include "core/game_state.h"

namespace kestrova::testing {

inline int RunThrough(const Board& board, int x, int y, int dx, int dy, uint8_t side) {
  const int size = PlayingSize(board);
  int run = 1;
  for (int k = 1;
       InPlayingArea(x + k * dx, y + k * dy, size) && board.at(x + k * dx, y + k * dy) == side; ++k)
    ++run;
  for (int k = 1;
       InPlayingArea(x - k * dx, y - k * dy, size) && board.at(x - k * dx, y - k * dy) == side; ++k)
    ++run;
  return run;
}

inline bool PlainMakesFive(const Board& board, int x, int y, uint8_t side, bool exact) {
  constexpr int kDirs[4][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}};
  for (const auto& d : kDirs) {
    const int run = RunThrough(board, x, y, d[0], d[1], side);
    if (exact ? run == 5 : run >= 5) return true;
  }
  return false;
}

inline std::vector<Move> PlainFiveCells(const Board& board, uint8_t side, bool exact) {
  std::vector<Move> cells;
  const int size = PlayingSize(board);
  for (int x = 1; x <= size; ++x)
    for (int y = 1; y <= size; ++y)
      if (board.at(x, y) == Empty && PlainMakesFive(board, x, y, side, exact))
        cells.push_back({x, y});
  return cells;
}

// Whether some stone already stands in five or more in a row (exactly five: in a run of five).
inline bool HoldsFive(const Board& board, bool exact = false) {
  const int size = PlayingSize(board);
  for (int x = 1; x <= size; ++x)
    for (int y = 1; y <= size; ++y)
      if (board.at(x, y) >= Own && PlainMakesFive(board, x, y, board.at(x, y), exact)) return true;
  return false;
}

inline bool Contains(const std::vector<Move>& cells, Move m) {
  for (Move c : cells)
    if (c.x == m.x && c.y == m.y) return true;
  return false;
}

// Empty when line is a sound VCF for attacker, else what is wrong with it.
inline std::string ValidVcfLine(Board board, uint8_t attacker, const std::vector<Move>& line,
                                bool exact) {
  const uint8_t defender = attacker == Own ? Opponent : Own;
  if (line.empty() || line.size() % 2 == 0) return "a line ends with the attacker's move";
  for (size_t k = 0; k < line.size(); k += 2) {
    const Move a = line[k];
    if (board.at(a.x, a.y) != Empty) return "move " + std::to_string(k) + " on a stone";
    if (k + 1 == line.size())
      return PlainMakesFive(board, a.x, a.y, attacker, exact) ? "" : "the last move is no five";
    const std::vector<Move> threats = PlainFiveCells(board, defender, exact);
    if (!threats.empty() && (threats.size() > 1 || !Contains(threats, a)))
      return "move " + std::to_string(k) + " leaves a five of the defender's";
    board.at(a.x, a.y) = attacker;
    const std::vector<Move> fives = PlainFiveCells(board, attacker, exact);
    const Move d = line[k + 1];
    if (fives.empty()) return "move " + std::to_string(k) + " is no four";
    if (!Contains(fives, d)) return "defender move " + std::to_string(k + 1) + " is no block";
    if (board.at(d.x, d.y) != Empty) return "defender move on a stone";
    board.at(d.x, d.y) = defender;
  }
  return "unreachable";
}

// The shortest VCF of at most maxLength attacker moves, or 0: every empty cell tried as a four.
inline int BruteVcfLength(Board board, uint8_t attacker, int maxLength, bool exact) {
  const uint8_t defender = attacker == Own ? Opponent : Own;
  if (!PlainFiveCells(board, attacker, exact).empty()) return 1;
  if (maxLength < 2) return 0;
  const std::vector<Move> threats = PlainFiveCells(board, defender, exact);
  if (threats.size() >= 2) return 0;
  const int size = PlayingSize(board);
  int best = 0;
  for (int x = 1; x <= size; ++x)
    for (int y = 1; y <= size; ++y) {
      if (board.at(x, y) != Empty) continue;
      if (!threats.empty() && (threats[0].x != x || threats[0].y != y)) continue;
      board.at(x, y) = attacker;
      const std::vector<Move> fives = PlainFiveCells(board, attacker, exact);
      if (fives.size() >= 2) return 2;
      if (fives.size() == 1 && (best == 0 || best > 2)) {
        Board blocked = board;
        blocked.at(fives[0].x, fives[0].y) = defender;
        const int rest =
            BruteVcfLength(blocked, attacker, (best ? best - 1 : maxLength) - 1, exact);
        if (rest > 0) best = rest + 1;
      }
      board.at(x, y) = Empty;
    }
  return best;
}

}  // namespace kestrova::testing
