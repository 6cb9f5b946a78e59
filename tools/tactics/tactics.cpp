// kestrova tactics: the threat solver's verdict on each position of a file, an engine's moves
// scored against it, or puzzles mined from recorded games.
#include "tools/tactics/tactics.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

#include "threats/line_index.h"
#include "tools/args.h"
#include "tools/commands.h"
#include "tools/tactics/mine.h"

namespace kestrova::tactics {
namespace {

constexpr const char* kTacticsUsage =
    "usage: kestrova tactics FILE [options]          the solver's verdict on each position\n"
    "       kestrova tactics FILE --engine CMD [--turn MS]  score an engine's moves\n"
    "       kestrova tactics --mine GAMES.sgf... [--per-length K]  puzzles from games\n"
    "  FILE lines: SIZE TOMOVE ROWS [EXPECTATION] [# comment], see tools/tactics/README.md\n"
    "  --nodes N        node budget of each search (default 1000000)\n"
    "  --ms N           time budget of each position (default none)\n"
    "  --vct            also look for a VCT when neither side has a VCF\n"
    "  --engine CMD     a protocol engine's command line; --turn MS its time a move\n"
    "                   (default 1000), --tolerance MS lateness forgiven (default 1000)\n"
    "  --mine           read SGF games, print puzzle lines\n"
    "  --per-length K   puzzles kept of each kind and length (default 12)\n"
    "  --min-length N   shortest win kept (default 2)\n";

// The exit status to return at once, or nullopt when the command should go on.
std::optional<int> ParseOptions(int argc, char** argv, TacticsOptions& options) {
  tools::ArgParser args("kestrova tactics", kTacticsUsage);
  args.Flag("--vct", options.judge.vct);
  args.Flag("--mine", options.mine);
  args.Text("--engine", options.engine);
  args.Integer("--nodes", 1, INT64_MAX, options.judge.maxNodes);
  args.Integer("--ms", 1, INT64_MAX, options.judge.maxMs);
  args.Integer("--turn", 1, INT32_MAX, options.turnMs);
  args.Integer("--tolerance", 0, INT32_MAX, options.toleranceMs);
  args.Integer("--per-length", 1, 1000, options.perLength);
  args.Integer("--min-length", 1, 1000, options.minLength);
  args.Positionals(options.files);
  if (const auto exit = args.Parse(argc, argv)) return exit;
  if (options.files.empty() || (!options.mine && options.files.size() != 1))
    return args.Refuse(options.mine ? "--mine needs SGF files" : "give one puzzle file");
  if (options.mine && !options.engine.empty()) return args.Refuse("--mine takes no --engine");
  return std::nullopt;
}

int MineGames(const TacticsOptions& options) {
  std::vector<GameSource> sources;
  for (const std::string& path : options.files) {
    GameSource source;
    const size_t slash = path.rfind('/');
    source.name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string error;
    bool ok = sgf::ReadSgfFile(path, source.games, error);
    for (size_t g = 0; ok && g < source.games.size(); ++g)
      if (!sgf::Replayable(source.games[g], error))
        ok = false, error = "game " + std::to_string(g + 1) + ": " + error;
    if (!ok) {
      std::fprintf(stderr, "kestrova tactics: %s: %s\n", path.c_str(), error.c_str());
      return 1;
    }
    sources.push_back(std::move(source));
  }
  SteadyClock clock;
  ThreatSolver solver;
  MineOptions mine{options.judge, options.perLength, options.minLength};
  MineCounts counts;
  for (const std::string& line : Mine(solver, clock, sources, mine, counts))
    std::printf("%s\n", line.c_str());
  std::fprintf(stderr,
               "kestrova tactics: %d positions, %d with a puzzle (%d repeated), %d unknown\n",
               counts.positions, counts.candidates, counts.duplicates, counts.unknown);
  return 0;
}

int SolveFile(const TacticsOptions& options, const std::vector<FilePosition>& positions) {
  SteadyClock clock;
  ThreatSolver solver;
  int invalid = 0, unknown = 0, expected = 0, met = 0;
  for (const FilePosition& p : positions) {
    if (!p.valid) {
      std::printf("%d: invalid: %s\n", p.lineNumber, p.error.c_str());
      ++invalid;
      continue;
    }
    const auto start = std::chrono::steady_clock::now();
    const Answer a = Judge(solver, clock, p.puzzle.board, p.puzzle.toMove, options.judge);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::string check;
    if (p.puzzle.expected) {
      ++expected;
      const bool ok = a.status == Answer::Status::Solved && Meets(a.found, *p.puzzle.expected);
      met += ok;
      check = ok ? " ok" : " MISMATCH, expected " + FormatExpectation(*p.puzzle.expected);
    }
    invalid += a.status == Answer::Status::Invalid;
    unknown += a.status == Answer::Status::Unknown;
    const std::string verdict = DescribeAnswer(a, p.puzzle.toMove, solver.options().maxVctDepth);
    if (a.status == Answer::Status::Invalid)
      std::printf("%d: %s%s\n", p.lineNumber, verdict.c_str(), check.c_str());
    else
      std::printf("%d: %s (%.1f ms, %" PRId64 " nodes)%s\n", p.lineNumber, verdict.c_str(), ms,
                  a.nodes, check.c_str());
  }
  std::printf("%zu positions, %d invalid, %d unknown; %d of %d as expected\n", positions.size(),
              invalid, unknown, met, expected);
  return invalid == 0 && met == expected ? 0 : 1;
}

}  // namespace

bool ReadPuzzleFile(const std::string& path, std::vector<FilePosition>& positions) {
  std::ifstream file(path);
  if (!file) return false;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    FilePosition p;
    p.lineNumber = number;
    bool empty = false;
    p.valid = ParsePuzzleLine(line, p.puzzle, empty, p.error);
    if (!empty) positions.push_back(std::move(p));
  }
  return !file.bad();
}

std::string DescribeAnswer(const Answer& a, uint8_t toMove, int maxVctDepth) {
  const std::string us = toMove == Own ? "x" : "o", them = toMove == Own ? "o" : "x";
  if (a.status == Answer::Status::Invalid) return "invalid: " + a.reason;
  if (a.status == Answer::Status::Unknown) return "unknown: " + a.reason;
  const std::string kind = FormatExpectation(a.found);
  switch (a.found.kind) {
    case Kind::Vcf:
      return kind + " " + us + " wins by VCF: " + LineText(a.line);
    case Kind::Vct:
      return kind + " " + us + " wins by VCT: " + LineText(a.line);
    case Kind::Defend:
      return kind + " " + them + " has a VCF if " + us + " passes: " + LineText(a.line) + "; " +
             std::to_string(a.defences.size()) + " defences: " + LineText(a.defences) +
             (a.undecided > 0 ? " (" + std::to_string(a.undecided) + " undecided)" : "");
    case Kind::Lost:
      return kind + " " + them + " has a VCF if " + us +
             " passes and nothing refutes it: " + LineText(a.line);
    case Kind::None:
      return kind + ": no VCF for either side" +
             (a.vctSearched
                  ? ", no VCT for " + us + " within " + std::to_string(maxVctDepth) + " moves"
                  : "");
  }
  return kind;
}

}  // namespace kestrova::tactics

namespace kestrova::tools {

int Tactics(int argc, char** argv) {
  using namespace kestrova::tactics;
  TacticsOptions options;
  if (const auto exit = ParseOptions(argc, argv, options)) return *exit;
  if (options.mine) return MineGames(options);
  std::vector<FilePosition> positions;
  if (!ReadPuzzleFile(options.files[0], positions)) {
    std::fprintf(stderr, "kestrova tactics: cannot read %s\n", options.files[0].c_str());
    return 2;
  }
  return options.engine.empty() ? SolveFile(options, positions) : ScoreEngine(options, positions);
}

}  // namespace kestrova::tools
