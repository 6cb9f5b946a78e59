// kestrova tactics: the parts its solving, engine and mining modes share.
#pragma once

#include <string>
#include <vector>

#include "tools/tactics/judge.h"

namespace kestrova::tactics {

struct TacticsOptions {
  JudgeOptions judge;
  std::string engine;  // a protocol engine's command line: score its moves
  int64_t turnMs = 1000;
  int64_t toleranceMs = 1000;
  bool mine = false;
  int perLength = 12;
  int minLength = 2;
  std::vector<std::string> files;
};

// One position of a puzzle file as read: the puzzle, or why the line is not one.
struct FilePosition {
  int lineNumber = 0;
  bool valid = false;
  PuzzleLine puzzle;
  std::string error;
};

// The positions of a puzzle file (blank and comment lines left out); false when it cannot be
// read.
bool ReadPuzzleFile(const std::string& path, std::vector<FilePosition>& positions);

// "vcf:5 x wins by VCF: 7,7 ..."; the verdict of a line without its timing.
std::string DescribeAnswer(const Answer& a, uint8_t toMove, int maxVctDepth);

int ScoreEngine(const TacticsOptions& options, const std::vector<FilePosition>& positions);

}  // namespace kestrova::tactics
