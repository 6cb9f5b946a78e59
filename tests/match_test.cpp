// kestrova match and kestrova play end to end: every judgement of the referee against
// scripted engines that misbehave on purpose, what engines are told, a short real match, and
// the play loop through a pipe; plus the referee's five-in-a-row rule and Elo arithmetic.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/game_state.h"
#include "tests/engine_process.h"
#include "tools/game_rules.h"
#include "tools/openings.h"
#include "tools/referee.h"
#include "tools/sprt.h"

namespace kestrova::testing {
namespace {

using namespace kestrova::referee;

struct ToolRun {
  int exitCode = -1;  // -1 when it did not exit in time
  std::string output;
};

// This build's kestrova with a shell command line of arguments, stderr merged into stdout.
ToolRun RunTool(const std::string& args, const std::string& input = "", int64_t timeoutMs = 30000) {
  EngineProcess tool(ToolPath() + " " + args + " 2>&1");
  tool.Send(input);
  tool.process().CloseStdin();
  ToolRun run;
  run.output = tool.ReadAll(timeoutMs);
  tool.Exited(1000, &run.exitCode);
  return run;
}

// One shell word; the referee runs it through the shell again, so the options may quote.
std::string Quoted(const std::string& commandLine) {
  return "\"" + commandLine + "\"";
}
std::string FakeEngine(const std::string& options) {
  return Quoted(std::string(KESTROVA_FAKE_ENGINE_PATH) + " " + options);
}

// A path not yet taken, private to this test process.
std::string TempPath(const std::string& name) {
  const std::string path =
      ::testing::TempDir() + "kestrova_match_" + std::to_string(getpid()) + "_" + name;
  std::remove(path.c_str());
  return path;
}

std::string ReadJoined(const std::string& path, const std::string& separator = "|") {
  std::ifstream in(path);
  std::string joined;
  for (std::string line; std::getline(in, line);)
    joined += (joined.empty() ? "" : separator) + line;
  return joined;
}

// Every engine whose id the fake engines wrote to the file must be gone; returns their count.
int ExpectAllEnded(const std::string& pids) {
  std::ifstream in(pids);
  int engines = 0;
  for (pid_t p; in >> p; ++engines)
    EXPECT_TRUE(kill(p, 0) != 0 && errno == ESRCH) << "engine " << p << " still runs";
  return engines;
}

// The lines of text that start with one of the prefixes, in order, sorted when asked; times
// and memory sizes blanked, since they differ from run to run.
std::string Lines(const std::string& text, std::vector<std::string> prefixes, bool sorted = false) {
  std::vector<std::string> kept;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    for (const std::string& prefix : prefixes)
      if (line.rfind(prefix, 0) == 0) {
        kept.push_back(std::regex_replace(line, std::regex("[0-9.]+ (ms|MB)"), "N $1"));
        break;
      }
  if (sorted) std::sort(kept.begin(), kept.end());
  std::string joined;
  for (const std::string& line : kept) joined += line + "\n";
  return joined;
}

TEST(Referee, FiveOrMoreInARow) {
  struct Row {
    const char *black, *white;  // "x,y x,y ..."
    Point probe;
    bool five;
  };
  const Row rows[] = {
      {"0,0 1,0 2,0 3,0 4,0", "", {2, 0}, true},        // found from the middle
      {"0,0 1,0 2,0 3,0", "", {3, 0}, false},           // four
      {"0,0 1,0 3,0 4,0 5,0", "2,0", {3, 0}, false},    // broken by the other colour
      {"5,5 6,5 7,5 8,5 9,5 10,5", "", {10, 5}, true},  // six
      {"", "19,15 19,16 19,17 19,18 19,19", {19, 19}, true},
      {"0,0 1,1 2,2 3,3 4,4", "", {0, 0}, true},
      {"4,15 3,16 2,17 1,18 0,19", "", {2, 17}, true},
      {"17,3 18,3 19,3 0,4 1,4", "", {19, 3}, false},  // lines do not wrap around the edge
  };
  for (const Row& row : rows) {
    Grid grid;
    for (Stone stone : {Stone::Black, Stone::White}) {
      std::istringstream moves(stone == Stone::Black ? row.black : row.white);
      for (std::string move; moves >> move;) grid.Put(*ParseEngineMove(move), stone);
    }
    EXPECT_EQ(MakesFive(grid, row.probe), row.five) << row.black << " / " << row.white;
  }
}

TEST(Referee, EloFromResults) {
  const double inf = INFINITY;
  struct Row {
    int wins, draws, losses;
    double elo, low, high;
  };
  const Row rows[] = {
      {3, 0, 1, 190.8, -126.4, inf},  // the interval reaches past a 100 % score
      {0, 2, 0, 0, 0, 0},             // only draws: no spread at all
      {2, 0, 0, inf, inf, inf},
      {0, 0, 3, -inf, -inf, -inf},
  };
  for (const Row& row : rows) {
    const EloEstimate e = EstimateElo(row.wins, row.draws, row.losses);
    const double got[] = {e.elo, e.low, e.high}, want[] = {row.elo, row.low, row.high};
    for (int k = 0; k < 3; ++k) {
      if (std::isinf(want[k]))
        EXPECT_EQ(got[k], want[k]) << row.wins << "/" << row.draws << "/" << row.losses;
      else
        EXPECT_NEAR(got[k], want[k], 0.1) << row.wins << "/" << row.draws << "/" << row.losses;
    }
  }
  EXPECT_EQ(FormatElo(190.8) + FormatElo(-0.2) + FormatElo(-inf), "+191+0-inf");
}

// Every match here starts from the empty board, so black moves first: of two engines that
// fill rows 0 and 19, black makes five on its fifth move.
struct Judgement {
  const char* name;
  const char *a, *b;       // the fake engines' options
  const char* limits;      // match options
  const char* winners;     // of each game: 'A', 'B' or '=' for a draw; A is black first
  const char* reason;      // a part of both games' reasons
  bool checkPids = false;  // every engine must be gone once the match is over
};

void PrintTo(const Judgement& j, std::ostream* out) {
  *out << j.name;
}

class RefereeJudges : public ::testing::TestWithParam<Judgement> {};

TEST_P(RefereeJudges, EveryGameAndTheTally) {
  const Judgement& j = GetParam();
  const std::string openings = TempPath(std::string(j.name) + ".openings");
  const std::string pids = TempPath(std::string(j.name) + ".pids");
  std::ofstream(openings) << "-\n";
  const std::string pid = j.checkPids ? " pid=" + pids : "";
  const ToolRun run = RunTool("match " + FakeEngine(j.a + pid) + " " + FakeEngine(j.b + pid) +
                                  " --openings " + openings + " " + j.limits,
                              "", 60000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  int tally[3] = {};  // A's wins, draws, losses
  for (int g = 0; g < 2; ++g) {
    const char winner = j.winners[g];
    const std::string head =
        "game " + std::to_string(g + 1) +
        (g == 0 ? ": A (black) vs B (white): " : ": B (black) vs A (white): ") +
        (winner == '=' ? "draw" : std::string(1, winner) + " wins") + ": ";
    const size_t at = run.output.find(head);
    ASSERT_NE(at, std::string::npos) << run.output << "\nwanted " << head;
    const std::string game = run.output.substr(at, run.output.find('\n', at) - at);
    EXPECT_NE(game.find(j.reason), std::string::npos) << game << "\nwanted " << j.reason;
    ++tally[winner == 'A' ? 0 : winner == '=' ? 1 : 2];
  }
  const std::string total = "A: " + std::to_string(tally[0]) + " wins, " +
                            std::to_string(tally[1]) + " draws, " + std::to_string(tally[2]) +
                            " losses\n";
  EXPECT_NE(run.output.find(total), std::string::npos) << run.output << "\nwanted " << total;
  if (j.checkPids) {
    EXPECT_EQ(ExpectAllEnded(pids), 4);
  }
}

const char* const kQuick = "--turn 300 --tolerance 200";

INSTANTIATE_TEST_SUITE_P(
    MisbehavingEngines, RefereeJudges,
    ::testing::Values(
        Judgement{"clean", "row=0", "row=19", kQuick, "AB", "made five in a row with 4,"},
        Judgement{"full_board", "fault=fill", "fault=fill", kQuick,
                  "==", "the board is full; 400 moves"},
        Judgement{"late", "row=0 fault=late at=2 ms=1000", "row=19", kQuick, "BB",
                  "A exceeded the turn limit: sent no move within"},
        Judgement{"late_within_the_tolerance", "row=0 fault=late at=2 ms=600", "row=19",
                  "--turn 200 --tolerance 800", "AB", "made five"},
        Judgement{"game_clock", "row=0 fault=slow ms=300", "row=19",
                  "--turn 2000 --match 1000 --tolerance 100", "BB", "A ran out of its game clock"},
        Judgement{"messages_and_debug_lines_pass", "row=0 fault=chatter", "row=19 fault=chatter",
                  kQuick, "AB", "made five"},
        Judgement{"endless_messages", "row=0 fault=flood at=2", "row=19", kQuick, "BB",
                  "A exceeded the turn limit"},
        Judgement{"silent_and_deaf_to_end", "row=0 fault=silent at=2", "row=19", kQuick, "BB",
                  "A exceeded the turn limit", true},
        Judgement{"ignores_end", "row=0 fault=ignore-end", "row=19 fault=ignore-end", kQuick, "AB",
                  "made five", true},
        Judgement{"occupied", "row=0 fault=occupied at=2", "row=19", kQuick, "BB",
                  "A played 0,0, an occupied cell"},
        Judgement{"off_board", "row=0 fault=say at=2 text=20,5", "row=19", kQuick, "BB",
                  "A played 20,5, off the board"},
        Judgement{"trailing_space", "row=0 fault=say 'text=5,0 '", "row=19", kQuick, "BB",
                  "A sent a malformed reply '5,0 '"},
        Judgement{"error_instead_of_a_move", "row=19", "row=0 fault=say at=2 'text=ERROR no'",
                  kQuick, "AA", "B sent a malformed reply 'ERROR no'"},
        Judgement{"crash", "row=0 fault=crash at=2", "row=19", kQuick, "BB",
                  "A crashed: closed its output (killed by signal 6)"},
        Judgement{"closed_output", "row=0 fault=close at=2", "row=19", kQuick, "BB",
                  "A crashed: closed its output", true},
        Judgement{"refused_start", "row=19", "fault=refuse-start", kQuick, "AA",
                  "B refused START: 'ERROR unsupported board size'"},
        Judgement{"both_refuse_start", "fault=refuse-start", "fault=refuse-start", kQuick,
                  "==", "refused START: 'ERROR unsupported board size'; "},
        Judgement{"small_board_full", "fault=fill", "fault=fill", "--size 9 --turn 300",
                  "==", "the board is full; 81 moves"},
        Judgement{"memory_over", "row=0 fault=alloc at=2 mb=300", "row=19",
                  "--memory 200000000 --turn 2000", "BB", "A went over the memory limit: "},
        Judgement{"memory_of_a_child_over", "row=19", "row=0 fault=alloc mb=300 child=1",
                  "--memory 200000000 --turn 2000", "AA", "B went over the memory limit: ", true},
        Judgement{"memory_under", "row=0 fault=alloc at=2 mb=30 child=1", "row=19",
                  "--memory 200000000 --turn 2000", "AB", "made five"},
        Judgement{"memory_unlimited", "row=0 fault=alloc at=2 mb=300", "row=19",
                  "--memory 0 --turn 2000", "AB", "made five"}),
    [](const ::testing::TestParamInfo<Judgement>& info) { return std::string(info.param.name); });

// Each engine's log for one game, from a 3-stone opening (white moves first) and from the
// empty board; T stands for INFO time_left.
TEST(Referee, SpeaksToEnginesAsManagersDo) {
  struct Row {
    const char* opening;
    const char *toA, *toB;  // A plays black along row 0, B white along row 19
  };
  const Row rows[] = {
      {"9,9 10,10 9,10",
       "T|BOARD|9,9,1|10,10,2|9,10,1|0,19,2|DONE|T|TURN 1,19|T|TURN 2,19|T|TURN 3,19|END",
       "T|BOARD|9,9,2|10,10,1|9,10,2|DONE|T|TURN 0,0|T|TURN 1,0|T|TURN 2,0|T|TURN 3,0|END"},
      {"-", "T|BEGIN|T|TURN 0,19|T|TURN 1,19|T|TURN 2,19|T|TURN 3,19|END",
       "T|BOARD|0,0,2|DONE|T|TURN 1,0|T|TURN 2,0|T|TURN 3,0|END"},
  };
  const std::string header =
      "ABOUT|START 20|INFO timeout_turn 1000|INFO timeout_match 7000|INFO max_memory 123456789|"
      "INFO rule 0|";
  int n = 0;
  for (const Row& row : rows) {
    const std::string openings = TempPath("speaks.openings"), log = TempPath("speaks.log");
    const std::string logA = log + std::to_string(++n) + "a", logB = log + std::to_string(n) + "b";
    std::ofstream(openings) << row.opening << "\n";
    const ToolRun run = RunTool("match " + FakeEngine("row=0 log=" + logA) + " " +
                                FakeEngine("row=19 log=" + logB) + " --games 1 --openings " +
                                openings + " --turn 1000 --match 7000 --memory 123456789");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    for (const auto& [path, expected] : {std::pair{logA, row.toA}, std::pair{logB, row.toB}}) {
      std::string told = ReadJoined(path);
      const std::regex timeLeft("INFO time_left (\\d+)");
      for (std::sregex_iterator m(told.begin(), told.end(), timeLeft), end; m != end; ++m)
        EXPECT_TRUE(std::stoi((*m)[1]) <= 7000 && std::stoi((*m)[1]) > 5000) << m->str();
      EXPECT_EQ(std::regex_replace(told, timeLeft, "T"), header + expected) << row.opening;
    }
  }
}

TEST(Referee, ShortMatchOfTheEngineAgainstItself) {
  const std::string sgf = TempPath("self.sgf"), engine = Quoted(EngineCommand());
  // On a 15x15 board, the openings near its centre; 150 ms moves keep the games short.
  const ToolRun run = RunTool(
      "match " + engine + " " + engine + " --size 15 --turn 150 --sgf " + sgf, "", 120000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string name = "Kestrova " + GameState{}.Version;  // as the engine's ABOUT says
  EXPECT_NE(run.output.find("A = " + name + ", B = " + name + "\n"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("lost by time, memory or forfeit: A 0, B 0"), std::string::npos)
      << run.output;
  const std::regex tally(R"(A: (\d) wins, (\d) draws, (\d) losses)");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(run.output, m, tally)) << run.output;
  EXPECT_EQ(std::stoi(m[1]) + std::stoi(m[2]) + std::stoi(m[3]), 2);
  // Two games: the root with the result and its reason, then every move with its time.
  const std::regex games(
      R"((\(;FF\[4\]GM\[4\]SZ\[15\].*PB\[Kestrova .*RE\[(B\+|W\+|0)\]C\[.*)"
      R"((five in a row with \d+,\d+|board is full)\]\n)"
      R"((;[BW]\[[e-k]{2}\]C\[opening\]\n){3}(;[BW]\[[a-o]{2}\]C\[\d+ ms\]\n)+\)\n?){2})");
  const std::string text = ReadJoined(sgf, "\n");
  EXPECT_TRUE(std::regex_match(text, games)) << text;
}

// Ratios worked out apart from this code (the same maximum-likelihood fit, solved in a few
// lines of Python), for pairs counted as [lost both, 0.5, 1, 1.5, won both] points for A.
TEST(Sprt, LogLikelihoodRatioOfPairs) {
  struct Row {
    PairCounts pairs;
    double elo0, elo1, llr;
  };
  const Row rows[] = {
      {{0, 0, 0, 0, 0}, 0, 50, 0},
      {{1, 2, 3, 2, 1}, 0, 50, -0.273834},  // even results lean to H0
      {{1, 2, 3, 2, 1}, -5, 5, 0},          // ... and sit halfway between symmetric bounds
      {{0, 1, 2, 4, 1}, 0, 50, 1.054116},
      {{0, 1, 2, 4, 1}, -5, 5, 0.230010},
      {{2, 3, 5, 1, 0}, 0, 5, -0.159308},
      {{0, 0, 0, 0, 1}, 0, 50, 0.133837},  // won both: the empty cells count 0.001 pairs
      {{0, 0, 0, 0, 14}, 0, 50, 1.870532},
      {{5, 10, 20, 30, 15}, 0, 50, 5.421995},
      {{10, 30, 60, 20, 10}, 0, 50, -7.556168},
  };
  for (const Row& row : rows)
    EXPECT_NEAR(PentanomialLlr(row.pairs, row.elo0, row.elo1), row.llr, 1e-5)
        << row.pairs[0] << " " << row.pairs[1] << " " << row.pairs[2] << " " << row.pairs[3] << " "
        << row.pairs[4] << " for " << row.elo0 << " " << row.elo1;
  const Sprt sprt{0, 50, 0.05, 0.1};
  EXPECT_NEAR(sprt.LowerBound(), std::log(0.1 / 0.95), 1e-12);
  EXPECT_NEAR(sprt.UpperBound(), std::log(0.9 / 0.05), 1e-12);
  EXPECT_EQ(Judge(sprt, 2.9), SprtVerdict::H1);
  EXPECT_EQ(Judge(sprt, -2.3), SprtVerdict::H0);
  EXPECT_EQ(Judge(sprt, 0.5), SprtVerdict::Continue);
}

// Both published forms of an opening, told apart line by line; cells or the error's gist.
TEST(Openings, BothFormsAndTheirErrors) {
  struct Row {
    const char* line;
    int size;
    const char* cells;  // "x,y x,y ...", or "!" and a part of the error
  };
  const Row rows[] = {
      {"0,0, 1,-1, -2,3", 20, "10,10 11,9 8,13"},
      {"0,0,1,1", 15, "7,7 8,8"},
      {"1,2,", 9, "5,6"},  // one stone as an offset
      {"1,2", 9, "1,2"},   // a lone pair is a cell
      {"3,4  5,6 7,8", 20, "3,4 5,6 7,8"},
      {"-", 20, ""},
      {"0,0, 10,0", 20, "!offset 10,0 is off the 20x20 board"},
      {"0,0, -5,0", 9, "!offset -5,0 is off the 9x9 board"},
      {"9,9 10,9", 10, "!10,9 is off the board"},
      {"0,0, 1,1, 0,0", 20, "!10,10 is played twice (offsets from 10,10)"},
      {"0,0, 1", 20, "!an odd count of offsets: each stone takes x,y"},
      {"0,0, a,1", 20, "!not an offset: 'a'"},
      {"1,1 x", 20, "!not a move x,y: x"},
  };
  for (const Row& row : rows) {
    Opening opening;
    std::string error, cells;
    const bool ok = ParseOpeningLine(row.line, row.size, opening, error);
    for (const Point& p : opening) cells.append(cells.empty() ? "" : " ").append(ProtocolText(p));
    EXPECT_EQ(ok ? cells : "!" + error, row.cells) << row.line;
  }
  // A bad line stops the match before any engine starts, naming the line.
  const std::string openings = TempPath("bad.openings"), pids = TempPath("bad.pids");
  std::ofstream(openings) << "# two good lines and a bad one\n0,0, 1,1\n5,5 6,6\n0,0, 1,30\n";
  const ToolRun run = RunTool("match " + FakeEngine("pid=" + pids) + " " + FakeEngine("") +
                              " --openings " + openings);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find(openings + ":4: offset 1,30 is off the 20x20 board"), std::string::npos)
      << run.output;
  EXPECT_EQ(ReadJoined(pids), "");
}

// Three openings, played twice each with both colours: B silently hangs in the games of the
// first (its cell 4,0 taken), the others are won by whoever moves first.
const char* const kThreeOpenings = "4,0 10,10 11,11\n0,0, 1,1, -1,2\n10,10 11,11 12,10\n";

TEST(Match, ConcurrentGamesCountAsASequentialRun) {
  const std::string openings = TempPath("concurrent.openings"), pids = TempPath("conc.pids");
  std::ofstream(openings) << kThreeOpenings;
  std::string runs[2], sgfs[2];
  for (int k = 0; k < 2; ++k) {
    const std::string sgf = TempPath("concurrent" + std::to_string(k) + ".sgf");
    const ToolRun run =
        RunTool("match " + FakeEngine("row=0 pid=" + pids) + " " +
                    FakeEngine("row=19 fault=silent when=4,0 pid=" + pids) + " --openings " +
                    openings + " --games 8 --turn 300 --tolerance 200 --sgf " + sgf +
                    (k == 1 ? " --concurrency 3 --force-concurrency" : ""),
                "", 60000);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    runs[k] = run.output;
    sgfs[k] = std::regex_replace(ReadJoined(sgf, "\n"), std::regex("\\d+ ms"), "N ms");
  }
  EXPECT_NE(runs[1].find(", 3 at once;"), std::string::npos) << runs[1];
  EXPECT_EQ(Lines(runs[1], {"game "}, true), Lines(runs[0], {"game "}, true));
  EXPECT_EQ(Lines(runs[1], {"A: ", "score", "Elo", "lost"}),
            Lines(runs[0], {"A: ", "score", "Elo", "lost"}));
  EXPECT_NE(runs[1].find("A: 6 wins, 0 draws, 2 losses"), std::string::npos) << runs[1];
  EXPECT_NE(runs[1].find("game 2: B (black) vs A (white): A wins: B exceeded the turn limit"),
            std::string::npos)
      << runs[1];
  EXPECT_EQ(sgfs[1], sgfs[0]);
  const std::regex game(R"(\(;FF\[4\]GM\[4\]SZ\[20\])");
  EXPECT_EQ(std::distance(std::sregex_iterator(sgfs[1].begin(), sgfs[1].end(), game),
                          std::sregex_iterator()),
            8);
  EXPECT_EQ(ExpectAllEnded(pids), 32);
}

TEST(Match, SprtStopsAClearlyUnequalMatch) {
  const std::string pids = TempPath("sprt.pids");
  // B always loses both games of a pair: about 0.134 of LLR a pair, 2.944 needed.
  const ToolRun run = RunTool("match " + FakeEngine("row=0 pid=" + pids) + " " +
                                  FakeEngine("row=19 fault=occupied at=2 pid=" + pids) +
                                  " --games 200 --sprt 0 50 --concurrency 2 --force-concurrency",
                              "", 60000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  for (const std::string piece :
       {"after game 2: LLR 0.13 (-2.94, 2.94)\n", "after game 46: LLR 3.07 (-2.94, 2.94)\n",
        "SPRT: H1 accepted after 46 games; the match stops\n", "46 games counted",
        "A: 46 wins, 0 draws, 0 losses\n", "after 23 pairs [0 0 0 0 23]: H1 accepted\n"})
    EXPECT_NE(run.output.find(piece), std::string::npos) << piece << " in\n" << run.output;
  EXPECT_EQ(run.output.find("after game 48:"), std::string::npos) << run.output;
  ExpectAllEnded(pids);
}

TEST(Match, ShardsMergedGiveTheWholeMatch) {
  const std::string openings = TempPath("shards.openings"), sgf = TempPath("shards.sgf");
  std::ofstream(openings) << kThreeOpenings;
  const std::string match = "match " + FakeEngine("row=0") + " " +
                            FakeEngine("row=19 fault=occupied when=4,0") + " --openings " +
                            openings + " --games 12 --turn 300 --sprt -10 10";
  const ToolRun whole = RunTool(match + " --sgf " + sgf);
  ASSERT_EQ(whole.exitCode, 0) << whole.output;
  EXPECT_NE(whole.output.find("A: 8 wins, 0 draws, 4 losses"), std::string::npos) << whole.output;
  std::string files;
  for (int shard = 0; shard < 3; ++shard) {
    const std::string results = TempPath("shard" + std::to_string(shard) + ".json");
    files += " " + results;
    const ToolRun part =
        RunTool(match + " --shard " + std::to_string(shard) + "/3 --results " + results);
    ASSERT_EQ(part.exitCode, 0) << part.output;
  }
  const ToolRun merged = RunTool("match --merge" + files);
  ASSERT_EQ(merged.exitCode, 0) << merged.output;
  const std::vector<std::string> summary = {"A = ", "score", "Elo", "lost", "SPRT"};
  EXPECT_EQ(Lines(merged.output, summary), Lines(whole.output, summary));
  EXPECT_NE(merged.output.find("A: 8 wins, 0 draws, 4 losses"), std::string::npos);
  EXPECT_NE(merged.output.find("12 games from 3 files"), std::string::npos) << merged.output;

  const std::string other = TempPath("other.json");
  ASSERT_EQ(RunTool(match + " --turn 301 --games 2 --results " + other).exitCode, 0);
  const ToolRun refused = RunTool("match --merge" + files + " " + other);
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.output.find(other + ":1: the match settings differ"), std::string::npos)
      << refused.output;
}

TEST(Play, MovesTakebackAndWinThroughAPipe) {
  const std::string log = TempPath("play.log");
  const ToolRun run = RunTool("play --engine " + FakeEngine("row=19 log=" + log),
                              "a1\nzz\na1\nt21\nu\nu\nb1\nc1\nd1\ne1\nf1\n");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  size_t at = 0;
  for (const std::string piece :
       {"You play X, fake-engine 0.1 plays O", "you play a1 (0,0)\n",
        "fake-engine 0.1 plays a20 (0,19)", "'zz' is not a move", "a1 (0,0) is taken",
        "t21 is off the board", "took back a20 and a1", "nothing to take back", "you play b1 (1,0)",
        "fake-engine 0.1 plays a20 (0,19)", "[X]", "five in a row at f1: you win",
        "game over: u takes back, q quits> ", "end of input\n"}) {
    at = run.output.find(piece, at);
    ASSERT_NE(at, std::string::npos) << "missing, or out of order: '" << piece << "' in\n"
                                     << run.output;
  }
  // After the takeback the engine's board is behind: it gets the position again.
  EXPECT_EQ(ReadJoined(log),
            "ABOUT|START 20|INFO timeout_turn 3000|INFO timeout_match 0|INFO rule 0|TURN 0,0|"
            "BOARD|1,0,2|DONE|TURN 2,0|TURN 3,0|TURN 4,0|END");
}

}  // namespace
}  // namespace kestrova::testing
