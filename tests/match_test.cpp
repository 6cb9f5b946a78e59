// kestrova match end to end: every judgement of the referee against scripted engines that
// misbehave on purpose, what engines are told, a short real match, openings, SPRT, concurrent
// and sharded matches; plus the referee's five-in-a-row rule and Elo arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/game_state.h"
#include "tests/engine_process.h"
#include "tools/match/openings.h"
#include "tools/match/sprt.h"
#include "tools/referee/game_rules.h"
#include "tools/referee/game_session.h"
#include "tools/referee/referee.h"

namespace kestrova::testing {
namespace {

using namespace kestrova::referee;

// The lines of text that start with one of the prefixes, sorted, since concurrent games end
// in any order; times and memory sizes blanked, since they differ from run to run.
std::string Lines(const std::string& text, std::vector<std::string> prefixes) {
  std::vector<std::string> kept;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (std::any_of(prefixes.begin(), prefixes.end(),
                    [&](const std::string& p) { return line.rfind(p, 0) == 0; }))
      kept.push_back(std::regex_replace(line, std::regex("[0-9.]+ (ms|MiB)"), "N $1"));
  std::sort(kept.begin(), kept.end());
  std::string joined;
  for (const std::string& line : kept) joined += line + "\n";
  return joined;
}

// Five or more under the freestyle rule; exactly five under rule 1, where six win nothing.
TEST(Referee, FiveOrMoreInARow) {
  struct Row {
    const char* stones;  // "x,y x,y ...", black but those marked w
    Point probe;
    bool five, exactFive;
  } const rows[] = {
      {"0,0 1,0 3,0 4,0 5,0 2,0w", {3, 0}, false, false},  // broken by the other colour
      {"5,5 6,5 7,5 8,5 9,5 10,5", {10, 5}, true, false},  // six
      {"5,5 6,5 7,5 8,5 9,5 11,5", {9, 5}, true, true},    // five, one apart from a sixth
      {"4,15 3,16 2,17 1,18 0,19", {2, 17}, true, true},
      {"19,15w 19,16w 19,17w 19,18w 19,19w", {19, 19}, true, true},
      {"17,3 18,3 19,3 0,4 1,4", {19, 3}, false, false},  // lines do not wrap around the edge
      // Six across and five down through one stone: the five wins.
      {"0,9 1,9 2,9 3,9 4,9 5,9 2,5 2,6 2,7 2,8", {2, 9}, true, true},
  };
  for (const auto& [rule, wins] :
       {std::pair{kFreestyle, &Row::five}, {kExactFive, &Row::exactFive}})
    for (const Row& row : rows) {
      Grid grid(BoardSize, rule);
      std::istringstream moves(row.stones);
      for (std::string m; moves >> m;)
        grid.Put(*ParseEngineMove(m.substr(0, m.find('w'))),
                 m.back() == 'w' ? Stone::White : Stone::Black);
      EXPECT_EQ(MakesFive(grid, row.probe), row.*wins) << row.stones << " rule " << rule;
      const size_t line = FiveThrough(grid, row.probe).size();
      EXPECT_TRUE(row.*wins ? (rule == kExactFive ? line == 5 : line >= 5) : line == 0)
          << row.stones << " rule " << rule;
    }
}

TEST(Referee, EloFromResults) {
  const EloEstimate some = EstimateElo(3, 0, 1), draws = EstimateElo(0, 2, 0);
  EXPECT_NEAR(some.elo, 190.8, 0.1);  // the interval reaches past a 100 % score
  EXPECT_NEAR(some.low, -126.4, 0.1);
  EXPECT_EQ(some.high, INFINITY);
  EXPECT_TRUE(draws.elo == 0 && draws.low == 0 && draws.high == 0);  // no spread at all
  EXPECT_EQ(EstimateElo(0, 0, 3).high, -INFINITY);
}

// Every match here starts from the empty board, so black moves first: of two engines that
// fill rows 0 and 19, black makes five on its fifth move.
constexpr const char* kQuick = "--turn 300 --tolerance 200";
constexpr const char* kMemory = "--memory 200000000 --turn 2000";

struct Judgement {
  const char* name;
  const char *a, *b;            // the fake engines' options, after row=0 and row=19
  const char* winners;          // of each game: 'A', 'B' or '=' for a draw; A is black first
  const char* reason;           // a part of both games' reasons
  const char* limits = kQuick;  // match options
  friend void PrintTo(const Judgement& j, std::ostream* out) { *out << j.name; }
};

class RefereeJudges : public ::testing::TestWithParam<Judgement> {};

TEST_P(RefereeJudges, EveryGameAndTheTally) {
  const Judgement& j = GetParam();
  const std::string openings = TempFile(std::string(j.name) + ".openings", "-\n");
  const std::string pids = TempPath(std::string(j.name) + ".pids");
  const std::string pid = " pid=" + pids;
  const ToolRun run = RunTool("match " + FakeEngine("row=0 " + std::string(j.a) + pid) + " " +
                              FakeEngine("row=19 " + std::string(j.b) + pid) + " --openings " +
                              openings + " " + j.limits);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string sides[] = {": A (black) vs B (white): ", ": B (black) vs A (white): "};
  for (int g = 0; g < 2; ++g) {
    const std::string head = "game " + std::to_string(g + 1) + sides[g] +
                             (j.winners[g] == '=' ? "draw" : j.winners[g] + std::string(" wins"));
    const size_t at = run.output.find(head);
    ASSERT_NE(at, std::string::npos) << run.output << "\nwanted " << head;
    const std::string game = run.output.substr(at, run.output.find('\n', at) - at);
    EXPECT_TRUE(Holds(game, j.reason));
  }
  const auto count = [&](char c) {
    return std::to_string(std::count(j.winners, j.winners + 2, c));
  };
  const std::string total =
      "A: " + count('A') + " wins, " + count('=') + " draws, " + count('B') + " losses\n";
  EXPECT_TRUE(Holds(run.output, total));
  EXPECT_EQ(ExpectAllGone(pids), 4);
}

// The first: MESSAGE and DEBUG lines pass, and an engine that lingers after END is ended.
const Judgement kJudgements[] = {
    {"clean", "fault=chatter", "fault=ignore-end", "AB", "made five in a row with 4,"},
    {"late", "fault=late at=2 ms=1000", "", "BB", "A exceeded the turn limit: sent no"},
    {"tolerated", "fault=late at=2 ms=600", "", "AB", "made five", "--turn 200 --tolerance 800"},
    {"game_clock", "fault=slow ms=300", "", "BB", "A ran out of its game clock",
     "--turn 2000 --match 1000 --tolerance 100"},
    {"endless_messages", "fault=flood at=2", "", "BB", "A exceeded the turn limit"},
    {"silent", "fault=silent at=2", "", "BB", "A exceeded the turn limit"},
    {"occupied", "fault=occupied at=2", "", "BB", "A played 0,0, an occupied cell"},
    {"off_board", "fault=say at=2 text=20,5", "", "BB", "A played 20,5, off the board"},
    {"trailing_space", "fault=say 'text=5,0 '", "", "BB", "A sent a malformed reply '5,0 '"},
    {"error_reply", "", "fault=say at=2 'text=ERROR no'", "AA",
     "B sent a malformed reply 'ERROR no'"},
    {"crash", "fault=crash at=2", "", "BB", "A crashed: closed its output (killed by signal 6)"},
    {"closed_output", "fault=close at=2", "", "BB", "A crashed: closed its output"},
    {"small_board_full", "fault=fill", "fault=fill", "==", "the board is full; 81 moves",
     "--size 9 --turn 300"},
    {"memory_over", "fault=alloc at=2 mb=300", "", "BB", "A went over the memory limit", kMemory},
    {"memory_of_a_child_over", "", "fault=alloc mb=300 child=1", "AA",
     "B went over the memory limit", kMemory},
    {"memory_under", "fault=alloc at=2 mb=30 child=1", "", "AB", "made five", kMemory},
};

INSTANTIATE_TEST_SUITE_P(MisbehavingEngines, RefereeJudges, ::testing::ValuesIn(kJudgements),
                         [](const auto& info) { return std::string(info.param.name); });

// An engine that starts slowly is waited for (--startup, a few seconds by default) and its
// late ABOUT reply is not taken for START's; one that cannot start stops the match with
// the reason and a failing exit, as does an opening that leaves no move.
TEST(Referee, StartUpAndItsFailures) {
  // Black and white in turn on rows of XXOO shifted by two: no five on the 5x5 board.
  const std::string full = TempFile("full.openings",
                                    "0,0 2,0 1,0 3,0 4,0 0,1 2,1 1,1 3,1 4,1 0,2 2,2 1,2 3,2 4,2 "
                                    "0,3 2,3 1,3 3,3 4,3 0,4 2,4 1,4 3,4 4,4 \n");
  const std::tuple<std::string, std::string, int, const char*> rows[] = {
      {FakeEngine("row=0 startup=1500"), "--games 2", 0, "A: 1 wins, 0 draws, 1 losses"},
      {FakeEngine("row=0 startup=1500"), "--games 2 --startup 300", 1,
       "an engine cannot start: A did not answer START within 300 ms"},
      {FakeEngine("fault=refuse-start"), "--games 4", 1,
       "an engine cannot start: A refused START: 'ERROR unsupported board size'"},
      {"/nonexistent/a", "--games 4", 1, "an engine cannot start: A closed its output at START"},
      {FakeEngine("row=0"), "--size 5 --openings " + full, 2, "fills the board"}};
  for (const auto& [a, options, exitCode, wanted] : rows) {
    const ToolRun run =
        RunTool("match " + a + " " + FakeEngine("row=19") + " " + kQuick + " " + options);
    EXPECT_EQ(run.exitCode, exitCode) << run.output;
    EXPECT_TRUE(Holds(run.output, wanted));
    EXPECT_EQ(run.output.find("Elo") != std::string::npos, exitCode == 0)
        << "a finished match gives its summary, one that stopped has none:\n"
        << run.output;
  }
}

// Each engine's log for one game, from a 3-stone opening (white moves first) and from the
// empty board; T stands for INFO time_left.
TEST(Referee, SpeaksToEnginesAsManagersDo) {
  struct Row {
    const char* opening;
    const char *toA, *toB;  // A plays black along row 0, B white along row 19
  } const rows[] = {
      {"9,9 10,10 9,10",
       "T|BOARD|9,9,1|10,10,2|9,10,1|0,19,2|DONE|T|TURN 1,19|T|TURN 2,19|T|TURN 3,19|END",
       "T|BOARD|9,9,2|10,10,1|9,10,2|DONE|T|TURN 0,0|T|TURN 1,0|T|TURN 2,0|T|TURN 3,0|END"},
      {"-", "T|BEGIN|T|TURN 0,19|T|TURN 1,19|T|TURN 2,19|T|TURN 3,19|END",
       "T|BOARD|0,0,2|DONE|T|TURN 1,0|T|TURN 2,0|T|TURN 3,0|END"},
  };
  const std::regex timeLeft("INFO time_left (\\d+)");
  const std::string header =
      "ABOUT|START 20|INFO timeout_turn 1000|INFO timeout_match 7000|INFO max_memory 123456789|"
      "INFO rule 0|";
  for (const Row& row : rows) {
    const std::string openings = TempFile("speaks.openings", row.opening);
    const std::string logA = TempPath("speaks.a"), logB = TempPath("speaks.b");
    const ToolRun run = RunTool("match " + FakeEngine("row=0 log=" + logA) + " " +
                                FakeEngine("row=19 log=" + logB) + " --games 1 --openings " +
                                openings + " --turn 1000 --match 7000 --memory 123456789");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    for (const auto& [path, expected] : {std::pair{logA, row.toA}, std::pair{logB, row.toB}}) {
      std::string told;
      for (const std::string& line : FileLines(path)) told += (told.empty() ? "" : "|") + line;
      for (std::sregex_iterator m(told.begin(), told.end(), timeLeft), end; m != end; ++m)
        EXPECT_TRUE(std::stoi((*m)[1]) <= 7000 && std::stoi((*m)[1]) > 5000) << m->str();
      EXPECT_EQ(std::regex_replace(told, timeLeft, "T"), header + expected) << row.opening;
    }
  }
}

TEST(Referee, ShortMatchOfTheEngineAgainstItself) {
  const std::string sgf = TempPath("self.sgf"), engine = "\"" + EngineCommand() + "\"";
  // On a 15x15 board, the openings near its centre; 150 ms moves keep the games short.
  const ToolRun run =
      RunTool("match " + engine + " " + engine + " --size 15 --turn 150 --sgf " + sgf);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string name = "Kestrova " + GameState{}.Version;  // as the engine's ABOUT says
  for (const std::string& piece : {"A = " + name + ", B = " + name + "\n",
                                   std::string("lost by time, memory or forfeit: A 0, B 0")})
    EXPECT_TRUE(Holds(run.output, piece));
  // Two games: the root with the result and its reason, then every move with its time.
  const std::regex games(
      R"((\(;FF\[4\]GM\[4\]SZ\[15\].*PB\[Kestrova .*RE\[(B\+|W\+|0)\]C\[.*)"
      R"((five in a row with \d+,\d+|board is full)\]\n)"
      R"((;[BW]\[[e-k]{2}\]C\[opening\]\n){3}(;[BW]\[[a-o]{2}\]C\[\d+ ms\]\n)+\)\n?){2})");
  const std::string text = ReadFile(sgf);
  EXPECT_TRUE(std::regex_match(text, games)) << text;
}

// Ratios worked out apart from this code (the same maximum-likelihood fit, solved in a few
// lines of Python), for pairs counted as [lost both, 0.5, 1, 1.5, won both] points for A.
TEST(Sprt, LogLikelihoodRatioOfPairs) {
  struct Row {
    PairCounts pairs;
    double elo0, elo1, llr;
  } const rows[] = {
      {{1, 2, 3, 2, 1}, 0, 50, -0.273834},  // even results lean to H0
      {{0, 1, 2, 4, 1}, 0, 50, 1.054116},       {{0, 1, 2, 4, 1}, -5, 5, 0.230010},
      {{0, 0, 0, 0, 1}, 0, 50, 0.133837},  // won both: the empty cells count 0.001 pairs
      {{10, 30, 60, 20, 10}, 0, 50, -7.556168},
  };
  for (const Row& row : rows)
    EXPECT_NEAR(PentanomialLlr(row.pairs, row.elo0, row.elo1), row.llr, 1e-5)
        << ::testing::PrintToString(row.pairs) << " for " << row.elo0 << " " << row.elo1;
}

// Both published forms of an opening, told apart line by line; cells or the error's gist.
TEST(Openings, BothFormsAndTheirErrors) {
  struct Row {
    const char* line;
    int size;
    const char* cells;  // "x,y x,y ...", or "!" and a part of the error
  } const rows[] = {
      {"0,0, 1,-1, -2,3", 20, "10,10 11,9 8,13"},
      {"1,2", 9, "1,2"},  // a lone pair is a cell
      {"-", 20, ""},
      {"0,0, -5,0", 9, "!offset -5,0 is off the 9x9 board"},
      {"9,9 10,9", 10, "!10,9 is off the board"},
      {"0,0, 1,1, 0,0", 20, "!10,10 is played twice (offsets from 10,10)"},
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
  const std::string openings =
      TempFile("bad.openings", "# two good lines and a bad one\n0,0, 1,1\n5,5 6,6\n0,0, 1,30\n");
  const std::string pids = TempPath("bad.pids");
  const ToolRun run = RunTool("match " + FakeEngine("pid=" + pids) + " " + FakeEngine("") +
                              " --openings " + openings);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(Holds(run.output, openings + ":4: offset 1,30 is off the 20x20 board"));
  EXPECT_EQ(ReadFile(pids), "");
}

// Three openings, played twice each with both colours: B misbehaves in the games of the
// first (its cell 4,0 taken), the others are won by whoever moves first.
const char* const kThreeOpenings = "4,0 10,10 11,11\n0,0, 1,1, -1,2\n10,10 11,11 12,10\n";

TEST(Match, ConcurrentGamesCountAsASequentialRun) {
  const std::string openings = TempFile("concurrent.openings", kThreeOpenings);
  const std::string pids = TempPath("concurrent.pids");
  std::string runs[2], sgfs[2];
  for (int k = 0; k < 2; ++k) {
    const std::string sgf = TempPath("concurrent" + std::to_string(k) + ".sgf");
    const ToolRun run = RunTool("match " + FakeEngine("row=0 pid=" + pids) + " " +
                                FakeEngine("row=19 fault=silent when=4,0 pid=" + pids) +
                                " --openings " + openings + " --games 8 " + kQuick + " --sgf " +
                                sgf + (k == 1 ? " --concurrency 3 --force-concurrency" : ""));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    runs[k] = run.output;
    sgfs[k] = std::regex_replace(ReadFile(sgf), std::regex("\\d+ ms"), "N ms");
  }
  EXPECT_TRUE(Holds(runs[1], ", 3 at once;"));
  const std::vector<std::string> results = {"game ", "A: ", "score", "Elo", "lost"};
  EXPECT_EQ(Lines(runs[1], results), Lines(runs[0], results));
  for (const char* piece : {"A: 6 wins, 0 draws, 2 losses",
                            "game 2: B (black) vs A (white): A wins: B exceeded the turn limit"})
    EXPECT_TRUE(Holds(runs[1], piece));
  EXPECT_EQ(sgfs[1], sgfs[0]);
  const std::regex game(R"(\(;FF\[4\]GM\[4\]SZ\[20\])");
  EXPECT_EQ(std::distance(std::sregex_iterator(sgfs[1].begin(), sgfs[1].end(), game), {}), 8);
  EXPECT_EQ(ExpectAllGone(pids), 32);
}

TEST(Match, SprtStopsAClearlyUnequalMatch) {
  const std::string pids = TempPath("sprt.pids");
  // B always loses both games of a pair: about 0.134 of LLR a pair, 2.944 needed.
  const ToolRun run = RunTool("match " + FakeEngine("row=0 pid=" + pids) + " " +
                              FakeEngine("row=19 fault=occupied at=2 pid=" + pids) +
                              " --games 200 --sprt 0 50 --concurrency 2 --force-concurrency");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  for (const std::string piece :
       {"after game 2: LLR 0.13 (-2.94, 2.94)\n", "after game 46: LLR 3.07 (-2.94, 2.94)\n",
        "SPRT: H1 accepted after 46 games; the match stops\n", "46 games counted",
        "A: 46 wins, 0 draws, 0 losses\n", "after 23 pairs [0 0 0 0 23]: H1 accepted\n"})
    EXPECT_TRUE(Holds(run.output, piece));
  EXPECT_EQ(run.output.find("after game 48:"), std::string::npos) << run.output;
  ExpectAllGone(pids);
}

TEST(Match, ShardsMergedGiveTheWholeMatch) {
  const std::string openings = TempFile("shards.openings", kThreeOpenings);
  const std::string match = "match " + FakeEngine("row=0") + " " +
                            FakeEngine("row=19 fault=occupied when=4,0") + " --openings " +
                            openings + " --games 12 --turn 300 --sprt -10 10";
  const ToolRun whole = RunTool(match);
  ASSERT_EQ(whole.exitCode, 0) << whole.output;
  EXPECT_TRUE(Holds(whole.output, "A: 8 wins, 0 draws, 4 losses"));
  std::string files;
  for (const std::string shard : {"0", "1", "2"}) {
    const std::string results = TempPath("shard" + shard + ".json");
    files += " " + results;
    ASSERT_EQ(RunTool(match + " --shard " + shard + "/3 --results " + results).exitCode, 0);
  }
  const ToolRun merged = RunTool("match --merge" + files);
  ASSERT_EQ(merged.exitCode, 0) << merged.output;
  const std::vector<std::string> summary = {"A = ", "score", "Elo", "lost", "SPRT"};
  EXPECT_EQ(Lines(merged.output, summary), Lines(whole.output, summary));
  EXPECT_TRUE(Holds(merged.output, "A: 8 wins, 0 draws, 4 losses"));
  EXPECT_TRUE(Holds(merged.output, "12 games from 3 files"));
  // Results of a match with other settings do not merge.
  const std::string other = TempPath("other.json");
  ASSERT_EQ(RunTool(match + " --turn 301 --games 2 --results " + other).exitCode, 0);
  const ToolRun refused = RunTool("match --merge" + files + " " + other);
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_TRUE(Holds(refused.output, other + ":1: the match settings differ"));
}

}  // namespace
}  // namespace kestrova::testing
