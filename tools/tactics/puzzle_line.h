// One tactics position as a line of text: board size, side to move, the rows, and what the
// answer should be.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/board.h"

namespace kestrova::tactics {

// What a position holds for the side to move, in the order the solver looks.
enum class Kind {
  Vcf,     // it wins by continuous fours
  Defend,  // it has none, the opponent has a VCF, and some move refutes it
  Lost,    // the same, but no move refutes it
  Vct,     // no VCF either side, but a win by fours and open threes
  None,    // none of these (as far as the searches that ran could prove)
};

struct Expectation {
  Kind kind = Kind::None;
  int length = 0;  // attacker moves of the shortest win (the opponent's for Defend, Lost)
  bool operator==(const Expectation&) const = default;
};

// Whether a verdict meets a line's expectation. The threat search proves a VCT without
// looking for the shortest one, so only a VCT's kind is compared, not its length.
inline bool Meets(const Expectation& found, const Expectation& expected) {
  return found.kind == expected.kind &&
         (found.kind == Kind::Vct || found.length == expected.length);
}

// Decimal digits and nothing else (a sign included), in range of int64_t.
bool ParseDecimal(std::string_view text, int64_t& value);

// "vcf:5", "defend:3", "vct:4", "none"; the form a line's expectation is written in.
std::string FormatExpectation(const Expectation& e);
std::optional<Expectation> ParseExpectation(std::string_view text);

struct PuzzleLine {
  Board board;  // 'x' stones as Own, 'o' stones as Opponent
  uint8_t toMove = Own;
  std::optional<Expectation> expected;
  std::string comment;  // after '#', trimmed
};

// "SIZE TOMOVE ROWS [EXPECTATION] [# comment]". False with the reason in error; a line that is
// blank or only a comment is neither a puzzle nor an error (empty is set).
bool ParsePuzzleLine(std::string_view line, PuzzleLine& puzzle, bool& empty, std::string& error);

// The rows of board, '/' between them, runs of empty cells as their count.
std::string FormatRows(const Board& board);
std::string FormatPuzzleLine(const Board& board, uint8_t toMove,
                             const std::optional<Expectation>& expected,
                             const std::string& comment);

}  // namespace kestrova::tactics
