// Puzzles mined from recorded games: positions where the side to move has a VCF, must defend
// against one, or has a VCT but no VCF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/sgf/sgf.h"
#include "tools/tactics/judge.h"

namespace kestrova::tactics {

using sgf::RecordedGame;

struct MineOptions {
  JudgeOptions judge;
  int perLength = 12;  // puzzles kept of each kind and length
  int minLength = 2;   // a five on the next move is no puzzle
};

struct GameSource {
  std::string name;  // for the comment of each puzzle
  std::vector<RecordedGame> games;
};

struct MineCounts {
  int positions = 0, candidates = 0, duplicates = 0, unknown = 0;
};

// Puzzle lines, grouped by kind and length, at most options.perLength of each, spread over
// the candidates; a position found twice is kept once.
std::vector<std::string> Mine(ThreatSolver& solver, Clock& clock,
                              const std::vector<GameSource>& sources, const MineOptions& options,
                              MineCounts& counts);

}  // namespace kestrova::tactics
