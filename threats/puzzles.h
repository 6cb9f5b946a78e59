// The threat solver's fixed puzzle set and its deterministic score.
#pragma once

#include <cstdint>
#include <span>

namespace kestrova {

struct ThreatPuzzle {
  int length;  // attacker moves of the shortest VCF, the five included; 0 when there is none
  const char* text;
};

struct PuzzleScore {
  int solved = 0;
  int total = 0;
  int64_t nodes = 0;
};

std::span<const ThreatPuzzle> ThreatPuzzles();

// Solves every puzzle for X with a fresh solver: how many came out right, and the nodes spent.
PuzzleScore SolveThreatPuzzles(int64_t maxNodesEach = 1'000'000);

}  // namespace kestrova
