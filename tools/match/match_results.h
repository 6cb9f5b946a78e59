// What kestrova match keeps of a finished game, the tally of many, and the one-JSON-line-a-game
// results files that let a match be split over machines and merged.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "tools/referee/referee.h"
#include "tools/match/sprt.h"

namespace kestrova::referee {

// One game as A and B see it. Index 0 is A, 1 is B.
struct GameOutcome {
  int number = 0;  // from 1; games 2k-1 and 2k make a pair
  bool aIsBlack = true;
  std::string opening;  // "x,y x,y ...", "-" for none
  char result = '=';    // 'A', 'B', or '=' for a draw
  Ending ending = Ending::Five;
  std::string reason;
  int plies = 0;  // stones on the board at the end, the opening's included
  int64_t thinkingMs[2] = {0, 0};
  int64_t peakBytes[2] = {-1, -1};
  std::string names[2];
};

GameOutcome OutcomeOf(int number, bool aIsBlack, const Opening& opening, const GameRecord& game);

std::string EndingName(Ending ending);  // "five", "full", "time", "memory", "forfeit", ...

// {"settings": ..., "game": 3, ...}: the match's settings travel with every game, so files of
// different matches are not merged by mistake.
std::string ResultJson(const std::string& settings, const GameOutcome& game);
// false with the reason in error for a line that is not one of ResultJson's.
bool ParseResultJson(const std::string& line, std::string& settings, GameOutcome& game,
                     std::string& error);

class MatchTally {
 public:
  void Add(const GameOutcome& game);
  int games() const { return wins_ + draws_ + losses_; }
  const PairCounts& pairs() const { return pairs_; }
  // A's points in the pair of game number, once both of its games are in; else -1.
  double PairPoints(int number) const;

  // The closing lines: names, tally, score, Elo, faults and memory, and the SPRT's state.
  void PrintSummary(std::FILE* out, const std::optional<Sprt>& sprt) const;

 private:
  int wins_ = 0, draws_ = 0, losses_ = 0;  // from A's side
  int faults_[2] = {0, 0};                 // games A, B lost by time, memory or forfeit
  int64_t peakBytes_[2] = {-1, -1};
  std::string names_[2];
  std::map<int, std::pair<int, double>> pairGames_;  // pair -> games in, A's points
  PairCounts pairs_{};
};

}  // namespace kestrova::referee
