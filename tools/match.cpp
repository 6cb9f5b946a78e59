// kestrova match: a referee for two protocol engines on Linux.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/referee.h"

namespace kestrova::tools {
namespace {

using namespace kestrova::referee;

constexpr const char* kMatchUsage =
    "usage: kestrova match ENGINE_A ENGINE_B [options]\n"
    "  ENGINE_A, ENGINE_B  engine command lines (quote them when they have arguments)\n"
    "  --games N           games to play, colours alternating (default 2)\n"
    "  --seed S            seed of the random 3-stone openings (default 1)\n"
    "  --openings FILE     openings instead, one a line: x,y x,y ... ('-' for none)\n"
    "  --turn MS           time per move (default 5000)\n"
    "  --match MS          time per engine and game (default 120000)\n"
    "  --memory BYTES      sent as INFO max_memory (default 367001600)\n"
    "  --tolerance MS      lateness forgiven (default 1000)\n"
    "  --sgf FILE          write every game to FILE as SGF\n";

struct MatchOptions {
  Contestant a{"A", ""};
  Contestant b{"B", ""};
  int games = 2;
  uint64_t seed = 1;
  std::string openingsFile;
  std::string sgfFile;
  Limits limits;
};

bool ParseCount(const char* text, int64_t low, int64_t& value) {
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || parsed < low) return false;
  value = parsed;
  return true;
}

// Fills options from the command line; false (after saying why) on a bad one.
bool ParseOptions(int argc, char** argv, MatchOptions& options) {
  std::vector<std::string> engines;
  for (int k = 0; k < argc; ++k) {
    const std::string arg = argv[k];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      engines.push_back(arg);
      continue;
    }
    if (k + 1 >= argc) {
      std::fprintf(stderr, "kestrova match: %s needs a value\n", arg.c_str());
      return false;
    }
    const char* value = argv[++k];
    int64_t number = 0;
    bool ok = true;
    if (arg == "--openings") {
      options.openingsFile = value;
    } else if (arg == "--sgf") {
      options.sgfFile = value;
    } else if (arg == "--games") {
      ok = ParseCount(value, 1, number) && number <= 1000000;
      options.games = int(number);
    } else if (arg == "--seed") {
      ok = ParseCount(value, 0, number);
      options.seed = uint64_t(number);
    } else if (arg == "--turn") {
      ok = ParseCount(value, 1, options.limits.turnMs);
    } else if (arg == "--match") {
      ok = ParseCount(value, 1, options.limits.matchMs);
    } else if (arg == "--memory") {
      ok = ParseCount(value, 0, options.limits.memoryBytes);
    } else if (arg == "--tolerance") {
      ok = ParseCount(value, 0, options.limits.toleranceMs);
    } else {
      std::fprintf(stderr, "kestrova match: unknown option %s\n%s", arg.c_str(), kMatchUsage);
      return false;
    }
    if (!ok) {
      std::fprintf(stderr, "kestrova match: bad value '%s' for %s\n", value, arg.c_str());
      return false;
    }
  }
  if (engines.size() != 2) {
    std::fprintf(stderr, "kestrova match: two engines are needed\n%s", kMatchUsage);
    return false;
  }
  options.a.commandLine = engines[0];
  options.b.commandLine = engines[1];
  return true;
}

bool ReadOpenings(const std::string& path, std::vector<Opening>& openings) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "kestrova match: cannot read %s\n", path.c_str());
    return false;
  }
  std::string line, error;
  for (int number = 1; std::getline(in, line); ++number) {
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    Opening opening;
    if (!ParseOpening(line, opening, error)) {
      std::fprintf(stderr, "kestrova match: %s:%d: %s\n", path.c_str(), number, error.c_str());
      return false;
    }
    openings.push_back(opening);
  }
  if (openings.empty()) {
    std::fprintf(stderr, "kestrova match: %s has no openings\n", path.c_str());
    return false;
  }
  return true;
}

std::string Megabytes(int64_t bytes) {
  if (bytes < 0) return "?";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / (1024.0 * 1024.0));
  return text;
}

struct Tally {
  int wins = 0, draws = 0, losses = 0;  // from A's side
  int faults[2] = {0, 0};               // games A, B lost by time or forfeit
  int64_t peakBytes[2] = {-1, -1};
  std::string names[2];
};

}  // namespace

int Match(int argc, char** argv) {
  MatchOptions options;
  if (!ParseOptions(argc, argv, options)) return 2;
  std::vector<Opening> openings;
  if (!options.openingsFile.empty() && !ReadOpenings(options.openingsFile, openings)) return 2;
  std::FILE* sgf = nullptr;
  if (!options.sgfFile.empty()) {
    sgf = std::fopen(options.sgfFile.c_str(), "w");
    if (!sgf) {
      std::fprintf(stderr, "kestrova match: cannot write %s: %s\n", options.sgfFile.c_str(),
                   std::strerror(errno));
      return 2;
    }
  }

  const Limits& limits = options.limits;
  std::printf("A: %s\nB: %s\n", options.a.commandLine.c_str(), options.b.commandLine.c_str());
  std::printf("%d games; turn %lld ms, game %lld ms, tolerance %lld ms, memory %lld bytes; ",
              options.games, (long long)limits.turnMs, (long long)limits.matchMs,
              (long long)limits.toleranceMs, (long long)limits.memoryBytes);
  if (openings.empty())
    std::printf("random openings, seed %llu\n", (unsigned long long)options.seed);
  else
    std::printf("%zu openings from %s\n", openings.size(), options.openingsFile.c_str());
  std::fflush(stdout);

  std::mt19937_64 rng(options.seed);
  Opening opening;
  Tally tally;
  for (int g = 0; g < options.games; ++g) {
    // Both games of a pair share the opening, so neither engine gets the better side of it.
    if (g % 2 == 0)
      opening = openings.empty() ? RandomOpening(rng) : openings[(g / 2) % openings.size()];
    const bool aIsBlack = g % 2 == 0;
    const Contestant& black = aIsBlack ? options.a : options.b;
    const Contestant& white = aIsBlack ? options.b : options.a;
    const GameRecord game = PlayGame(black, white, opening, limits);

    const int aSide = aIsBlack ? 0 : 1;  // index of A in the record's black/white pairs
    const Stone aStone = aIsBlack ? Stone::Black : Stone::White;
    std::string outcome = "draw";
    if (game.winner == aStone) {
      ++tally.wins;
      outcome = "A wins";
    } else if (game.winner != Stone::None) {
      ++tally.losses;
      outcome = "B wins";
    } else {
      ++tally.draws;
    }
    if (game.ending == Ending::Time || game.ending == Ending::Forfeit) {
      if (game.winner != aStone) ++tally.faults[0];
      if (game.winner != Other(aStone)) ++tally.faults[1];
    }
    tally.names[0] = aIsBlack ? game.blackName : game.whiteName;
    tally.names[1] = aIsBlack ? game.whiteName : game.blackName;
    for (int k = 0; k < 2; ++k) {
      const int64_t peak = game.peakBytes[k == 0 ? aSide : 1 - aSide];
      tally.peakBytes[k] = std::max(tally.peakBytes[k], peak);
    }
    const double scoreA = tally.wins + 0.5 * tally.draws;
    std::printf("game %d: %s (black) vs %s (white): %s: %s; %zu moves [A %g - %g B]\n", g + 1,
                black.label.c_str(), white.label.c_str(), outcome.c_str(), game.reason.c_str(),
                game.moves.size(), scoreA, (g + 1) - scoreA);
    std::fflush(stdout);
    if (sgf) {
      std::fputs(GameSgf(game).c_str(), sgf);
      std::fflush(sgf);
    }
  }
  if (sgf) std::fclose(sgf);

  const int games = options.games;
  const double scoreA = tally.wins + 0.5 * tally.draws;
  const EloEstimate elo = EstimateElo(tally.wins, tally.draws, tally.losses);
  std::printf("A = %s, B = %s\n", tally.names[0].c_str(), tally.names[1].c_str());
  std::printf("A: %d wins, %d draws, %d losses\n", tally.wins, tally.draws, tally.losses);
  std::printf("score: A %g - %g B (%.1f %%)\n", scoreA, games - scoreA, 100.0 * scoreA / games);
  std::printf("Elo difference A - B: %s (95 %% interval %s .. %s)\n", FormatElo(elo.elo).c_str(),
              FormatElo(elo.low).c_str(), FormatElo(elo.high).c_str());
  std::printf("lost by time or forfeit: A %d, B %d; peak memory: A %s, B %s\n", tally.faults[0],
              tally.faults[1], Megabytes(tally.peakBytes[0]).c_str(),
              Megabytes(tally.peakBytes[1]).c_str());
  return 0;
}

}  // namespace kestrova::tools
