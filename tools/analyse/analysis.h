// A recorded game replayed position by position: the threat solver's verdict for both sides
// after each move, the engine's own choice before it, and the first move that let the
// opponent prove a forced win.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "threats/threat_solver.h"
#include "tools/sgf/sgf.h"

namespace kestrova::analyse {

struct AnalyseOptions {
  int64_t engineMs = 200;        // the engine's search of each position; 0: none
  int64_t vcfNodes = 1'000'000;  // each VCF search
  int64_t vctNodes = 200'000;    // each VCT search
  bool vct = true;
};

// What the solver says of one side's chances if it were to move.
struct SideVerdict {
  Verdict vcf = Verdict::Unknown;
  Verdict vct = Verdict::Unknown;  // Unknown also when not searched (see vctSearched)
  bool vctSearched = false;
  std::vector<Move> line;  // the VCF, else the VCT, when one is proven
  bool Wins() const { return vcf == Verdict::Win || vct == Verdict::Win; }
};

struct EngineChoice {
  Move move{};
  bool searched = false;  // false: a five, a forced block or a solver's proof, not searched
  double value = 0;       // mean score of the move for the engine's side, -220..220
  int visits = 0;
  int8_t proof = 0;  // kProvenWin or kProvenLoss when the tree proved the move
};

struct PlyReport {
  int ply = 0;  // from 1
  uint8_t side = Own;
  Move move{};
  std::optional<EngineChoice> engine;  // in the position before the move
  bool five = false;                   // the move made five: the game is over
  bool full = false;                   // no empty cell is left after the move
  // After the move: [0] the side to move, [1] the side that moved (a threat only).
  SideVerdict toMove, mover;
  bool losing = false;  // the first move after which the side to move has a proven win
  // The move blocked the opponent's only five when it had none of its own to make: when it
  // is the losing move, the loss came earlier, where the solver's budget could not prove it.
  bool forced = false;
  // Likewise when the opponent threatened a win by fours before the move and every move that
  // stopped it lost to one of its forced wins.
  bool nothingSaved = false;
};

struct Analysis {
  std::vector<PlyReport> plies;
  int losingPly = 0;  // 0: none
  std::string error;  // the record's first illegal move; the plies before it are reported
};

// Analyses game; each ply goes to report as soon as it is known.
Analysis AnalyseGame(const sgf::RecordedGame& game, const AnalyseOptions& options, Clock& clock,
                     const std::function<void(const PlyReport&)>& report = {});

// Whether side's move on board (before it) blocks the opponent's one five to make, with no five
// of side's own to make instead: the only move that does not lose at once.
bool ForcedBlock(const Board& board, uint8_t side, Move move, Rule rule);

// Whether line, attacker first and alternating, is legal on board and ends with attacker's five.
bool LineEndsInFive(const Board& board, uint8_t attacker, const std::vector<Move>& line, Rule rule);

// "black", "white".
std::string SideName(uint8_t side);
// "6 white 14,14 | engine 7,6 eval +12.5 (830 visits) | black to move: VCF 10,7 11,7 ... |
// white: none".
std::string FormatPly(const PlyReport& ply, int maxVctDepth);
// "first losing move: 6 (white 14,14): black wins by VCF 10,7 11,7 6,7", or
// "no proven losing move".
std::string FormatSummary(const Analysis& analysis);

}  // namespace kestrova::analyse
