// kestrova match: a referee for two protocol engines on Linux, many games at once, stopped by
// a sequential test as soon as the answer is known, and split over machines by shards.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tools/args.h"
#include "tools/commands.h"
#include "tools/match/match_results.h"
#include "tools/match/openings.h"
#include "tools/referee/referee.h"
#include "tools/signals/stop_signals.h"

namespace kestrova::tools {
namespace {

using namespace kestrova::referee;

constexpr const char* kMatchUsage =
    "usage: kestrova match ENGINE_A ENGINE_B [options]\n"
    "       kestrova match --merge RESULTS_FILE...\n"
    "  ENGINE_A, ENGINE_B  engine command lines (quote them when they have arguments)\n"
    "  --games N           games to play (default 2)\n"
    "  --seed S            seed of the random 3-stone openings (default 1)\n"
    "  --openings FILE     openings instead, one a line: offsets from the centre\n"
    "                      'x,y, x,y, ...' or cells 'x,y x,y ...' ('-' for none)\n"
    "  --repeat            each opening with both colours (the default)\n"
    "  --no-repeat         each opening once, colours alternating\n"
    "  --size N            board size, 5..20 (default 20)\n"
    "  --rule R            0: five or more wins (default); 1: exactly five wins\n"
    "  --startup MS        time an engine has to answer ABOUT and START (default 5000)\n"
    "  --turn MS           time per move (default 5000)\n"
    "  --match MS          time per engine and game (default 120000)\n"
    "  --turn-a/--turn-b MS, --match-a/--match-b MS  the same for one engine\n"
    "  --memory BYTES      of each engine with its children, enforced; 0 for none\n"
    "                      (default 367001600)\n"
    "  --tolerance MS      lateness forgiven (default 1000)\n"
    "  --concurrency N     games at once, each with its own engines (default 1; at most\n"
    "                      the cores unless --force-concurrency)\n"
    "  --sprt ELO0 ELO1    stop once the pentanomial SPRT (logistic Elo) accepts either\n"
    "  --alpha A, --beta B its error rates (default 0.05 each)\n"
    "  --shard I/K         only the games whose number is I modulo K\n"
    "  --results FILE      append one JSON line per finished game\n"
    "  --sgf FILE          write every game to FILE as SGF\n";

struct MatchOptions {
  Contestant a{"A", "", {}};
  Contestant b{"B", "", {}};
  int games = 2;
  uint64_t seed = 1;
  std::string openingsFile;
  std::string sgfFile;
  std::string resultsFile;
  Limits limits;
  bool repeat = true;
  int concurrency = 1;
  bool forceConcurrency = false;
  std::optional<Sprt> sprt;
  int shard = 0, shards = 1;
  std::vector<std::string> mergeFiles;
};

// Fills options from the command line; the exit status when the command is to stop (after
// --help or a refusal that says why).
std::optional<int> ParseOptions(int argc, char** argv, MatchOptions& options) {
  ArgParser args("kestrova match", kMatchUsage);
  std::vector<std::string> words;
  std::optional<int64_t> turn[2], match[2];
  int64_t turnAll = 5000, matchAll = 120000;
  bool merging = false, noRepeat = false;
  args.Positionals(words);
  args.Flag("--merge", merging);
  args.Flag("--repeat", noRepeat, false);
  args.Flag("--no-repeat", noRepeat);
  args.Flag("--force-concurrency", options.forceConcurrency);
  args.Text("--openings", options.openingsFile);
  args.Text("--sgf", options.sgfFile);
  args.Text("--results", options.resultsFile);
  args.Integer("--games", 1, 1000000, options.games);
  int64_t seed = 1;
  args.Integer("--seed", 0, INT64_MAX, seed);
  args.Integer("--size", kMinBoardSize, BoardSize, options.limits.boardSize);
  args.Integer("--rule", kFreestyle, kExactFive, options.limits.rule);
  args.Integer("--startup", 1, INT32_MAX, options.limits.startupMs);
  args.Integer("--turn", 1, INT64_MAX, turnAll);
  args.Integer("--match", 1, INT64_MAX, matchAll);
  for (int k = 0; k < 2; ++k) {
    const std::string side = k == 0 ? "-a" : "-b";
    args.Custom("--turn" + side, 1, "a whole number from 1", [&turn, k](const auto& w) {
      int64_t v = 0;
      return ParseInteger(w[0], 1, INT64_MAX, v) ? (turn[k] = v, -1) : 0;
    });
    args.Custom("--match" + side, 1, "a whole number from 1", [&match, k](const auto& w) {
      int64_t v = 0;
      return ParseInteger(w[0], 1, INT64_MAX, v) ? (match[k] = v, -1) : 0;
    });
  }
  args.Integer("--memory", 0, int64_t(1) << 50, options.limits.memoryBytes);
  args.Integer("--tolerance", 0, INT32_MAX, options.limits.toleranceMs);
  args.Integer("--concurrency", 1, 1024, options.concurrency);
  args.Custom("--shard", 1, "I/K with 0 <= I < K <= 1000000", [&options](const auto& w) {
    int64_t i = 0, k = 0;
    const size_t slash = w[0].find('/');
    if (slash == std::string::npos || !ParseInteger(w[0].substr(0, slash), 0, 999999, i) ||
        !ParseInteger(w[0].substr(slash + 1), 1, 1000000, k) || i >= k)
      return 0;
    options.shard = int(i);
    options.shards = int(k);
    return -1;
  });
  args.Custom("--sprt", 2, "two finite Elo values, ELO0 below ELO1", [&options](const auto& w) {
    Sprt& sprt = options.sprt ? *options.sprt : options.sprt.emplace();
    const double kAny = 1e6;
    if (!ParseReal(w[0], -kAny, kAny, sprt.elo0)) return 0;
    if (!ParseReal(w[1], -kAny, kAny, sprt.elo1) || sprt.elo1 <= sprt.elo0) return 1;
    return -1;
  });
  for (const char* name : {"--alpha", "--beta"})
    args.Custom(name, 1, "a number between 0 and 0.5", [&options, name](const auto& w) {
      Sprt& sprt = options.sprt ? *options.sprt : options.sprt.emplace();
      double& rate = std::string(name) == "--alpha" ? sprt.alpha : sprt.beta;
      return ParseReal(w[0], 0, 0.5, rate) && rate > 0 && rate < 0.5 ? -1 : 0;
    });
  if (const auto exit = args.Parse(argc, argv)) return exit;
  options.seed = uint64_t(seed);
  options.repeat = !noRepeat;
  if (merging) {
    if (words.empty()) return args.Refuse("--merge needs results files");
    options.mergeFiles = words;
    return std::nullopt;
  }
  if (words.size() != 2) {
    std::fputs(kMatchUsage, stderr);
    return args.Refuse("two engines are needed, " + std::to_string(words.size()) + " given");
  }
  if (options.sprt && options.sprt->elo1 <= options.sprt->elo0)
    return args.Refuse("--alpha and --beta need --sprt ELO0 ELO1");
  options.a.commandLine = words[0];
  options.b.commandLine = words[1];
  Contestant* sides[2] = {&options.a, &options.b};
  for (int k = 0; k < 2; ++k)
    sides[k]->time = {turn[k].value_or(turnAll), match[k].value_or(matchAll)};
  return std::nullopt;
}

// Everything that decides the games' results, in one line: results files of matches whose
// settings differ are not merged. The shard is left out on purpose.
std::string SettingsLine(const MatchOptions& o, const std::vector<Opening>& openings) {
  std::string text =
      "A=" + o.a.commandLine + "; B=" + o.b.commandLine + "; games=" + std::to_string(o.games) +
      "; size=" + std::to_string(o.limits.boardSize) +
      (o.limits.rule != kFreestyle ? "; rule=" + std::to_string(o.limits.rule) : "") +
      "; repeat=" + (o.repeat ? "yes" : "no") + "; openings=";
  if (openings.empty()) text += "random seed " + std::to_string(o.seed);
  for (const Opening& opening : openings) {
    for (const Point& p : opening) text += ProtocolText(p) + " ";
    text += "/";
  }
  for (const Contestant* c : {&o.a, &o.b})
    text += "; " + c->label + " time=" + std::to_string(c->time.turnMs) + "/" +
            std::to_string(c->time.matchMs);
  text += "; memory=" + std::to_string(o.limits.memoryBytes) +
          "; tolerance=" + std::to_string(o.limits.toleranceMs);
  if (o.sprt) {
    char sprt[128];
    std::snprintf(sprt, sizeof sprt, "; sprt=%.17g %.17g %.17g %.17g", o.sprt->elo0, o.sprt->elo1,
                  o.sprt->alpha, o.sprt->beta);
    text += sprt;
  }
  return text;
}

// The SPRT of a settings line, for merging.
std::optional<Sprt> SprtOfSettings(const std::string& settings) {
  const size_t at = settings.find("; sprt=");
  if (at == std::string::npos) return std::nullopt;
  Sprt sprt;
  if (std::sscanf(settings.c_str() + at, "; sprt=%lf %lf %lf %lf", &sprt.elo0, &sprt.elo1,
                  &sprt.alpha, &sprt.beta) != 4)
    return std::nullopt;
  return sprt;
}

struct ScheduledGame {
  int number = 0;
  bool aIsBlack = true;
  Opening opening;
};

// Every game of the full match with its opening and colours, so a shard or a concurrent run
// plays exactly the games a sequential run would.
std::vector<ScheduledGame> Schedule(const MatchOptions& options,
                                    const std::vector<Opening>& openings) {
  std::mt19937_64 rng(options.seed);
  std::vector<ScheduledGame> games;
  Opening opening;
  for (int g = 0; g < options.games; ++g) {
    // With repeat both games of a pair share the opening, so neither engine gets the better
    // side of it.
    const int index = options.repeat ? g / 2 : g;
    if (!options.repeat || g % 2 == 0)
      opening = openings.empty() ? RandomOpening(rng, options.limits.boardSize)
                                 : openings[index % openings.size()];
    games.push_back({g + 1, g % 2 == 0, opening});
  }
  return games;
}

std::string GameLine(const ScheduledGame& scheduled, const GameRecord& game) {
  const char* black = scheduled.aIsBlack ? "A" : "B";
  const char* white = scheduled.aIsBlack ? "B" : "A";
  const Stone aStone = scheduled.aIsBlack ? Stone::Black : Stone::White;
  const std::string outcome = game.ending == Ending::Stopped ? "not counted"
                              : game.winner == Stone::None   ? "draw"
                              : game.winner == aStone        ? "A wins"
                                                             : "B wins";
  return "game " + std::to_string(scheduled.number) + ": " + black + " (black) vs " + white +
         " (white): " + outcome + ": " + game.reason + "; " + std::to_string(game.moves.size()) +
         " moves\n";
}

// The games being played by the workers and the ones they finished, in the order played.
struct GameQueue {
  std::mutex mutex;
  std::condition_variable finished;
  size_t next = 0;
  std::vector<std::optional<GameRecord>> records;
  std::vector<size_t> done;  // indices, as they finished
  std::atomic<bool> stop{false};
};

void Worker(const MatchOptions& options, const std::vector<ScheduledGame>& games,
            GameQueue& queue) {
  for (;;) {
    size_t index;
    {
      std::lock_guard<std::mutex> lock(queue.mutex);
      if (queue.stop || queue.next >= games.size()) return;
      index = queue.next++;
    }
    const ScheduledGame& g = games[index];
    const Contestant& black = g.aIsBlack ? options.a : options.b;
    const Contestant& white = g.aIsBlack ? options.b : options.a;
    GameRecord record = PlayGame(black, white, g.opening, options.limits, &queue.stop);
    {
      std::lock_guard<std::mutex> lock(queue.mutex);
      queue.records[index] = std::move(record);
      queue.done.push_back(index);
    }
    queue.finished.notify_one();
  }
}

int Merge(const MatchOptions& options) {
  std::map<int, GameOutcome> games;
  std::string settings;
  for (const std::string& path : options.mergeFiles) {
    std::ifstream in(path);
    if (!in) {
      std::fprintf(stderr, "kestrova match: cannot read %s\n", path.c_str());
      return 2;
    }
    std::string line, lineSettings, error;
    for (int number = 1; std::getline(in, line); ++number) {
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
      GameOutcome game;
      if (!ParseResultJson(line, lineSettings, game, error)) {
        std::fprintf(stderr, "kestrova match: %s:%d: %s\n", path.c_str(), number, error.c_str());
        return 2;
      }
      if (settings.empty()) settings = lineSettings;
      if (lineSettings != settings) {
        std::fprintf(stderr,
                     "kestrova match: %s:%d: the match settings differ from the first file's:\n"
                     "  %s\n  %s\n",
                     path.c_str(), number, lineSettings.c_str(), settings.c_str());
        return 2;
      }
      if (!games.emplace(game.number, game).second) {
        std::fprintf(stderr, "kestrova match: %s:%d: game %d is already in\n", path.c_str(), number,
                     game.number);
        return 2;
      }
    }
  }
  if (games.empty()) {
    std::fprintf(stderr, "kestrova match: no games in the results files\n");
    return 2;
  }
  MatchTally tally;
  for (const auto& [number, game] : games) tally.Add(game);
  std::printf("%d games from %zu files; settings: %s\n", tally.games(), options.mergeFiles.size(),
              settings.c_str());
  tally.PrintSummary(stdout, SprtOfSettings(settings));
  return 0;
}

}  // namespace

int Match(int argc, char** argv) {
  MatchOptions options;
  if (const auto exit = ParseOptions(argc, argv, options)) return *exit;
  if (!options.mergeFiles.empty()) return Merge(options);
  std::vector<Opening> openings;
  std::string error;
  if (!options.openingsFile.empty() &&
      !ReadOpeningsFile(options.openingsFile, options.limits.boardSize, openings, error)) {
    std::fprintf(stderr, "kestrova match: %s\n", error.c_str());
    return 2;
  }
  std::FILE* sgf = nullptr;
  std::FILE* results = nullptr;
  for (auto [path, file, mode] :
       {std::tuple{&options.sgfFile, &sgf, "w"}, std::tuple{&options.resultsFile, &results, "a"}}) {
    if (path->empty()) continue;
    *file = std::fopen(path->c_str(), mode);
    if (!*file) {
      std::fprintf(stderr, "kestrova match: cannot write %s: %s\n", path->c_str(),
                   std::strerror(errno));
      return 2;
    }
  }

  std::vector<ScheduledGame> games;
  for (ScheduledGame& g : Schedule(options, openings))
    if (g.number % options.shards == options.shard) games.push_back(std::move(g));
  const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
  int concurrency = std::min<int>(options.concurrency, int(std::max<size_t>(1, games.size())));
  if (options.concurrency > cores && !options.forceConcurrency) {
    // More games than cores would time the engines on a shared core: refused, not shrunk.
    std::fprintf(stderr,
                 "kestrova match: --concurrency %d is more than the %d cores of this machine "
                 "(--force-concurrency to go past)\n",
                 options.concurrency, cores);
    return 2;
  }
  // A shard sees too few pairs to stop on; the merged results carry the test.
  const bool sprtStops = options.sprt && options.shards == 1;

  std::printf("A: %s\nB: %s\n", options.a.commandLine.c_str(), options.b.commandLine.c_str());
  std::printf(
      "%d games on %dx%d, %d at once; A turn %lld ms, game %lld ms; B turn %lld ms, game "
      "%lld ms; tolerance %lld ms, memory %lld bytes; ",
      options.games, options.limits.boardSize, options.limits.boardSize, concurrency,
      (long long)options.a.time.turnMs, (long long)options.a.time.matchMs,
      (long long)options.b.time.turnMs, (long long)options.b.time.matchMs,
      (long long)options.limits.toleranceMs, (long long)options.limits.memoryBytes);
  if (openings.empty())
    std::printf("random openings, seed %llu", (unsigned long long)options.seed);
  else
    std::printf("%zu openings from %s", openings.size(), options.openingsFile.c_str());
  std::printf("%s\n", options.repeat ? ", each with both colours" : "");
  if (options.shards > 1)
    std::printf("shard %d/%d: %zu of the games%s\n", options.shard, options.shards, games.size(),
                options.sprt ? "; the SPRT is for the merged results" : "");
  std::fflush(stdout);

  const std::string settings = SettingsLine(options, openings);
  GameQueue queue;
  queue.records.resize(games.size());
  // Ctrl-C stops the match as a decided SPRT does: no more games start, the games being
  // played stop and their engines are ended; the finished games are counted.
  StopSignals signals([&queue](int) {
    {
      std::lock_guard<std::mutex> lock(queue.mutex);
      queue.stop = true;
    }
    queue.finished.notify_all();
  });
  std::vector<std::thread> workers;
  for (int k = 0; k < concurrency; ++k)
    workers.emplace_back(Worker, std::cref(options), std::cref(games), std::ref(queue));

  // Games count in their order, whatever order they finish in, so the tally, the files and
  // the point where the SPRT stops are those of a sequential run.
  MatchTally tally;
  size_t counted = 0, reported = 0;
  std::string startFailure;  // an engine that cannot start would forfeit every game
  auto reportFinished = [&] {
    for (; reported < queue.done.size(); ++reported) {
      const size_t index = queue.done[reported];
      GameRecord& record = *queue.records[index];
      if (record.ending == Ending::Stopped && signals.Stopped())
        record.reason = "stopped: the match was interrupted";
      std::fputs(GameLine(games[index], record).c_str(), stdout);
      if (record.startFailed && startFailure.empty()) {
        startFailure = record.reason;
        queue.stop = true;
      }
    }
  };
  auto count = [&](size_t index) {
    const ScheduledGame& g = games[index];
    const GameRecord& record = *queue.records[index];
    const GameOutcome outcome = OutcomeOf(g.number, g.aIsBlack, g.opening, record);
    tally.Add(outcome);
    if (sgf) std::fputs(GameSgf(record).c_str(), sgf);
    if (results) std::fprintf(results, "%s\n", ResultJson(settings, outcome).c_str());
  };
  std::unique_lock<std::mutex> lock(queue.mutex);
  while (counted < games.size() && !queue.stop) {
    queue.finished.wait(lock, [&] { return queue.done.size() > reported || queue.stop; });
    reportFinished();
    for (; counted < games.size() && queue.records[counted] && !queue.stop; ++counted) {
      count(counted);
      const int number = games[counted].number;
      if (!sprtStops || tally.PairPoints(number) < 0) continue;
      const double llr = PentanomialLlr(tally.pairs(), options.sprt->elo0, options.sprt->elo1);
      const SprtVerdict verdict = Judge(*options.sprt, llr);
      std::printf("after game %d: %s\n", number, DescribeLlr(*options.sprt, llr).c_str());
      if (verdict != SprtVerdict::Continue) {
        std::printf("SPRT: %s accepted after %d games; the match stops\n",
                    verdict == SprtVerdict::H1 ? "H1" : "H0", number);
        queue.stop = true;
      }
    }
    std::fflush(stdout);
    for (std::FILE* file : {sgf, results})
      if (file) std::fflush(file);
  }
  lock.unlock();
  for (std::thread& worker : workers) worker.join();
  reportFinished();
  // Interrupted, every game that was finished counts, also one after a game cut short.
  const bool interrupted = signals.Stopped();
  if (interrupted)
    for (size_t index = counted; index < games.size(); ++index)
      if (queue.records[index] && queue.records[index]->ending != Ending::Stopped) count(index);
  for (std::FILE* file : {sgf, results})
    if (file) std::fclose(file);
  if (!startFailure.empty() && !interrupted) {
    std::fflush(stdout);
    std::fprintf(stderr, "kestrova match: stopped, an engine cannot start: %s\n",
                 startFailure.c_str());
    return 1;
  }
  if (interrupted)
    std::printf("match interrupted (%s) after %d games; the games being played are not counted\n",
                signals.SignalName(), tally.games());
  else if (counted < games.size())
    std::printf("%zu games counted; the games after them are not\n", counted);
  tally.PrintSummary(stdout, options.sprt);
  return interrupted ? signals.ExitStatus() : 0;
}

}  // namespace kestrova::tools
