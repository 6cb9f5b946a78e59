// The referee: its rules and arithmetic, every judgement against scripted engines that
// misbehave on purpose, and a short real match of the engine against itself.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "engine/game_state.h"
#include "tests/engine_process.h"
#include "tests/tool_run.h"
#include "tools/engine_player.h"
#include "tools/game_rules.h"
#include "tools/referee.h"

namespace kestrova::testing {
namespace {

using namespace kestrova::referee;

// --- rules -------------------------------------------------------------------------------

TEST(GameRules, FiveInARow) {
  struct Row {
    const char* what;
    std::vector<Point> black, white;
    Point probe;
    bool five;
  };
  const Row rows[] = {
      {"horizontal, probed in the middle",
       {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}},
       {},
       {2, 0},
       true},
      {"four only", {{0, 0}, {1, 0}, {2, 0}, {3, 0}}, {}, {3, 0}, false},
      {"broken by a gap", {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {5, 0}}, {}, {3, 0}, false},
      {"broken by the other colour",
       {{0, 0}, {1, 0}, {3, 0}, {4, 0}, {5, 0}},
       {{2, 0}},
       {3, 0},
       false},
      {"six wins too", {{5, 5}, {6, 5}, {7, 5}, {8, 5}, {9, 5}, {10, 5}}, {}, {10, 5}, true},
      {"vertical on the right edge",
       {{19, 15}, {19, 16}, {19, 17}, {19, 18}, {19, 19}},
       {},
       {19, 19},
       true},
      {"diagonal", {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}, {}, {0, 0}, true},
      {"anti-diagonal to the bottom-left corner",
       {{4, 15}, {3, 16}, {2, 17}, {1, 18}, {0, 19}},
       {},
       {2, 17},
       true},
      {"white's five", {}, {{7, 3}, {7, 4}, {7, 5}, {7, 6}, {7, 7}}, {7, 7}, true},
      {"lines do not wrap around the edge",
       {{17, 3}, {18, 3}, {19, 3}, {0, 4}, {1, 4}},
       {},
       {19, 3},
       false},
      {"empty cell", {{0, 0}, {1, 0}, {2, 0}, {3, 0}}, {}, {4, 0}, false},
  };
  for (const Row& row : rows) {
    Grid grid;
    for (Point p : row.black) grid.Put(p, Stone::Black);
    for (Point p : row.white) grid.Put(p, Stone::White);
    EXPECT_EQ(MakesFive(grid, row.probe), row.five) << row.what;
    EXPECT_EQ(grid.stones, int(row.black.size() + row.white.size())) << row.what;
  }
}

TEST(GameRules, MoveText) {
  struct Row {
    const char* text;
    bool engineMove;  // acceptable from an engine
    bool humanMove;   // acceptable from a person
    Point point;
  };
  const Row rows[] = {
      {"7,7", true, true, {7, 7}},    {"0,19", true, true, {0, 19}}, {"20,5", true, true, {20, 5}},
      {"7,7 ", false, true, {7, 7}},  {" 7,7", false, true, {7, 7}}, {"7 , 7", false, true, {7, 7}},
      {"7,7,1", false, false, {}},    {"-1,3", false, false, {}},    {"7,", false, false, {}},
      {",7", false, false, {}},       {"123,4", false, false, {}},   {"", false, false, {}},
      {"h8", false, true, {7, 7}},    {"H8", false, true, {7, 7}},   {"a1", false, true, {0, 0}},
      {"t20", false, true, {19, 19}}, {" h8 ", false, true, {7, 7}}, {"u21", false, true, {20, 20}},
      {"h0", false, false, {}},       {"h", false, false, {}},       {"8h", false, false, {}},
      {"hh", false, false, {}},
  };
  for (const Row& row : rows) {
    const auto engine = ParseEngineMove(row.text);
    EXPECT_EQ(engine.has_value(), row.engineMove) << "'" << row.text << "'";
    if (engine && row.engineMove) {
      EXPECT_EQ(*engine, row.point) << row.text;
    }
    const auto human = ParseHumanMove(row.text);
    EXPECT_EQ(human.has_value(), row.humanMove) << "'" << row.text << "'";
    if (human && row.humanMove) {
      EXPECT_EQ(*human, row.point) << row.text;
    }
  }
  EXPECT_EQ(ProtocolText({7, 12}), "7,12");
  EXPECT_EQ(LetterText({7, 12}), "h13");
  EXPECT_EQ(ParseHumanMove(LetterText({19, 0})), (Point{19, 0}));
}

TEST(GameRules, Openings) {
  struct Row {
    const char* line;
    size_t stones;      // when valid
    const char* error;  // nullptr when valid
  };
  const Row rows[] = {
      {"9,9 10,10 9,10", 3, nullptr},
      {"  9,9\t10,10  ", 2, nullptr},
      {"-", 0, nullptr},
      {"", 0, "no moves"},
      {"9,9 9,9", 0, "played twice"},
      {"20,1", 0, "off the board"},
      {"9,9 x", 0, "not a move"},
      {"0,0 0,1 1,0 1,1 2,0 2,1 3,0 3,1 4,0", 0, "already has five"},
  };
  for (const Row& row : rows) {
    Opening opening;
    std::string error;
    const bool ok = ParseOpening(row.line, opening, error);
    EXPECT_EQ(ok, row.error == nullptr) << row.line << ": " << error;
    if (ok) {
      EXPECT_EQ(opening.size(), row.stones) << row.line;
    }
    if (!ok && row.error) {
      EXPECT_NE(error.find(row.error), std::string::npos) << error;
    }
  }
  Opening opening;
  std::string error;
  ASSERT_TRUE(ParseOpening("9,9 10,10 9,10", opening, error));
  EXPECT_EQ(opening, (Opening{{9, 9}, {10, 10}, {9, 10}}));
}

TEST(GameRules, RandomOpeningsAreReproducibleCentralAndVaried) {
  std::vector<Opening> seen;
  for (uint64_t seed = 0; seed < 100; ++seed) {
    std::mt19937_64 first(seed), second(seed);
    const Opening opening = RandomOpening(first);
    EXPECT_EQ(opening, RandomOpening(second)) << "seed " << seed;
    ASSERT_EQ(opening.size(), 3u);
    for (Point p : opening) {
      EXPECT_GE(p.x, 7);
      EXPECT_LE(p.x, 13);
      EXPECT_GE(p.y, 7);
      EXPECT_LE(p.y, 13);
    }
    EXPECT_FALSE(opening[0] == opening[1] || opening[0] == opening[2] || opening[1] == opening[2]);
    bool repeated = false;
    for (const Opening& o : seen) repeated = repeated || o == opening;
    if (!repeated) seen.push_back(opening);
  }
  EXPECT_GT(seen.size(), 90u);
}

TEST(Referee, EloFromResults) {
  struct Row {
    int wins, draws, losses;
    double elo, low, high;  // NAN: not checked
  };
  const double inf = INFINITY;
  const Row rows[] = {
      {16, 0, 9, 99.9, NAN, NAN},     // 64 %
      {3, 0, 1, 190.8, -126.4, inf},  // 75 %, the upper end beyond 100 %
      {1, 0, 1, 0, -inf, inf},        // one game each: anything is possible
      {0, 2, 0, 0, 0, 0},             // only draws: no spread at all
      {2, 0, 0, inf, inf, inf},       // a clean sweep
      {0, 0, 3, -inf, -inf, -inf},
      {0, 0, 0, 0, -inf, inf},
  };
  for (const Row& row : rows) {
    const EloEstimate e = EstimateElo(row.wins, row.draws, row.losses);
    const std::string what = std::to_string(row.wins) + "/" + std::to_string(row.draws) + "/" +
                             std::to_string(row.losses);
    auto near = [&](double got, double want, const char* field) {
      if (std::isnan(want)) return;
      if (std::isinf(want)) {
        EXPECT_EQ(got, want) << what << " " << field;
      } else
        EXPECT_NEAR(got, want, 0.1) << what << " " << field;
    };
    near(e.elo, row.elo, "elo");
    near(e.low, row.low, "low");
    near(e.high, row.high, "high");
    EXPECT_LE(e.low, e.elo) << what;
    EXPECT_LE(e.elo, e.high) << what;
  }
  EXPECT_EQ(FormatElo(190.8), "+191");
  EXPECT_EQ(FormatElo(-126.4), "-126");
  EXPECT_EQ(FormatElo(-0.2), "+0");
  EXPECT_EQ(FormatElo(inf), "+inf");
  EXPECT_EQ(FormatElo(-inf), "-inf");
}

TEST(Referee, SgfOfAGame) {
  GameRecord game;
  game.blackName = "Kestrova v1.0.2";
  game.whiteName = "odd]name";
  game.moves = {{{{9, 9}, Stone::Black}, -1}, {{{0, 19}, Stone::White}, 120}};
  game.winner = Stone::Black;
  game.ending = Ending::Forfeit;
  game.reason = "B sent a malformed reply 'x]y\\z'";
  EXPECT_EQ(GameSgf(game),
            "(;FF[4]GM[4]SZ[20]AP[kestrova match]PB[Kestrova v1.0.2]PW[odd\\]name]RE[B+F]"
            "C[B sent a malformed reply 'x\\]y\\\\z']\n"
            ";B[jj]C[opening]\n"
            ";W[at]C[120 ms]\n"
            ")\n");
  game.winner = Stone::White;
  game.ending = Ending::Time;
  EXPECT_NE(GameSgf(game).find("RE[W+T]"), std::string::npos);
  game.winner = Stone::None;
  game.ending = Ending::FullBoard;
  EXPECT_NE(GameSgf(game).find("RE[0]"), std::string::npos);
}

TEST(Referee, ProtocolTexts) {
  const std::vector<PlacedStone> stones = {{{9, 9}, Stone::Black}, {{10, 10}, Stone::White}};
  EXPECT_EQ(BoardCommand(stones, Stone::White), "BOARD\r\n9,9,2\r\n10,10,1\r\nDONE\r\n");
  EXPECT_EQ(BoardCommand(stones, Stone::Black), "BOARD\r\n9,9,1\r\n10,10,2\r\nDONE\r\n");
  EXPECT_EQ(NameFromAbout("name=\"Kestrova\", version=\"v1.0.2\", author=\"O\""),
            "Kestrova v1.0.2");
  EXPECT_EQ(NameFromAbout("name=\"Solo\""), "Solo");
  EXPECT_EQ(NameFromAbout("engine_name=\"Y\", name=\"Z\""), "Z");
  EXPECT_EQ(NameFromAbout("UNKNOWN"), "");
}

// --- the referee against scripted engines --------------------------------------------------

// With this opening white moves first; two engines that fill rows 0 and 19 reach five on
// their fifth move, so the one that moves first after the opening wins.
constexpr const char* kOpening = "9,9 10,10 9,10\n";

struct Judgement {
  const char* name;
  std::string engineA, engineB;  // fake engine options
  std::vector<std::string> limits;
  const char* outcome[2];  // "A wins", "B wins" or "draw", game by game
  const char* reason[2];   // a part of the reason, game by game
  bool pidsChecked = false;
};

std::ostream& operator<<(std::ostream& out, const Judgement& j) {
  return out << j.name;
}

class RefereeJudges : public ::testing::TestWithParam<Judgement> {};

bool ProcessGone(pid_t pid) {
  return kill(pid, 0) != 0 && errno == ESRCH;
}

TEST_P(RefereeJudges, EveryGameAndTheTally) {
  const Judgement& j = GetParam();
  const std::string openings = TestPath("openings.txt");
  const std::string pids = TestPath("pids.txt");
  WriteFile(openings, kOpening);
  const std::string pidOption = j.pidsChecked ? " --pid " + pids : "";
  std::vector<std::string> args = {"match", FakeEngine(j.engineA + pidOption),
                                   FakeEngine(j.engineB + pidOption), "--openings", openings};
  args.insert(args.end(), j.limits.begin(), j.limits.end());
  const ToolRun run = RunTool(args, "", 60000);
  ASSERT_TRUE(run.finished) << "the referee hung:\n" << run.output;
  EXPECT_EQ(run.exitCode, 0) << run.output;

  const auto games = LinesStartingWith(run.output, "game ");
  ASSERT_EQ(games.size(), 2u) << run.output;
  int wins = 0, draws = 0, losses = 0;
  for (int g = 0; g < 2; ++g) {
    const std::string colours = g == 0 ? "A (black) vs B (white)" : "B (black) vs A (white)";
    const std::string head =
        "game " + std::to_string(g + 1) + ": " + colours + ": " + j.outcome[g] + ": ";
    EXPECT_EQ(games[g].compare(0, head.size(), head), 0) << games[g] << "\nwanted " << head;
    EXPECT_NE(games[g].find(j.reason[g]), std::string::npos)
        << games[g] << "\nwanted " << j.reason[g];
    const std::string outcome = j.outcome[g];
    wins += outcome == "A wins";
    losses += outcome == "B wins";
    draws += outcome == "draw";
  }
  const std::string tally = "A: " + std::to_string(wins) + " wins, " + std::to_string(draws) +
                            " draws, " + std::to_string(losses) + " losses\n";
  EXPECT_NE(run.output.find(tally), std::string::npos) << run.output << "\nwanted " << tally;

  if (j.pidsChecked) {
    const auto lines = ReadLines(pids);
    EXPECT_EQ(lines.size(), 4u);  // two engines in each of two games
    for (const std::string& pid : lines)
      EXPECT_TRUE(ProcessGone(pid_t(std::stol(pid)))) << "engine " << pid << " still runs";
  }
}

const std::vector<std::string> kQuick = {"--turn", "1000", "--tolerance", "500"};

INSTANTIATE_TEST_SUITE_P(
    MisbehavingEngines, RefereeJudges,
    ::testing::Values(
        Judgement{"clean",
                  "--row 0",
                  "--row 19",
                  kQuick,
                  {"B wins", "A wins"},
                  {"B made five in a row with 4,19", "A made five in a row with 4,0"}},
        Judgement{"late",
                  "--row 0 --fault late --at 2 --late-ms 3000",
                  "--row 19",
                  kQuick,
                  {"B wins", "B wins"},
                  {"A exceeded the turn limit: sent no move within 15",
                   "A exceeded the turn limit: sent no move within 15"}},
        Judgement{"late_but_within_the_tolerance",
                  "--row 0 --fault late --at 2 --late-ms 1000",
                  "--row 19",
                  {"--turn", "500", "--tolerance", "1500"},
                  {"B wins", "A wins"},
                  {"B made five", "A made five"}},
        Judgement{"messages_and_debug_lines_are_let_through",
                  "--row 0 --fault chatter",
                  "--row 19 --fault chatter",
                  kQuick,
                  {"B wins", "A wins"},
                  {"B made five", "A made five"}},
        Judgement{"endless_messages",
                  "--row 0 --fault flood --at 2",
                  "--row 19",
                  kQuick,
                  {"B wins", "B wins"},
                  {"A exceeded the turn limit", "A exceeded the turn limit"}},
        Judgement{"game_clock",
                  "--row 0 --think 900",
                  "--row 19",
                  {"--turn", "2000", "--match", "3000", "--tolerance", "300"},
                  {"B wins", "B wins"},
                  {"A ran out of its game clock", "A ran out of its game clock"}},
        Judgement{"silent_and_deaf_to_end",
                  "--row 0 --fault silent --at 2",
                  "--row 19",
                  kQuick,
                  {"B wins", "B wins"},
                  {"A exceeded the turn limit", "A exceeded the turn limit"},
                  true},
        Judgement{"ignores_end",
                  "--row 0 --fault ignore-end",
                  "--row 19 --fault ignore-end",
                  kQuick,
                  {"B wins", "A wins"},
                  {"B made five", "A made five"},
                  true},
        Judgement{"occupied",
                  "--row 0 --fault occupied --at 2",
                  "--row 19",
                  kQuick,
                  {"B wins", "B wins"},
                  {"A played 0,0, an occupied cell", "A played 0,0, an occupied cell"}},
        Judgement{"off_board",
                  "--row 0 --fault say --at 2 --text 20,5",
                  "--row 19",
                  kQuick,
                  {"B wins", "B wins"},
                  {"A played 20,5, off the board", "A played 20,5, off the board"}},
        Judgement{"garbage",
                  "--row 0 --fault say --at 3 --text hello",
                  "--row 19",
                  kQuick,
                  {"B wins", "B wins"},
                  {"A sent a malformed reply 'hello'", "A sent a malformed reply 'hello'"}},
        Judgement{"trailing_space",
                  "--row 0 --fault say --at 1 --text '5,0 '",
                  "--row 19",
                  kQuick,
                  {"B wins", "B wins"},
                  {"A sent a malformed reply '5,0 '", "A sent a malformed reply '5,0 '"}},
        Judgement{"error_instead_of_a_move",
                  "--row 19",
                  "--row 0 --fault say --at 2 --text 'ERROR no move'",
                  kQuick,
                  {"A wins", "A wins"},
                  {"B sent a malformed reply 'ERROR no move'",
                   "B sent a malformed reply 'ERROR no move'"}},
        Judgement{"crash",
                  "--row 0 --fault crash --at 2",
                  "--row 19",
                  kQuick,
                  {"B wins", "B wins"},
                  {"A crashed: closed its output (killed by signal 6)",
                   "A crashed: closed its output (killed by signal 6)"}},
        Judgement{"closed_output",
                  "--row 0 --fault close --at 2",
                  "--row 19",
                  kQuick,
                  {"B wins", "B wins"},
                  {"A crashed: closed its output", "A crashed: closed its output"},
                  true},
        Judgement{"refused_start",
                  "--row 19",
                  "--row 0 --fault refuse-start",
                  kQuick,
                  {"A wins", "A wins"},
                  {"B refused START: 'ERROR unsupported board size'",
                   "B refused START: 'ERROR unsupported board size'"}},
        Judgement{"both_refuse_start",
                  "--fault refuse-start",
                  "--fault refuse-start",
                  kQuick,
                  {"draw", "draw"},
                  {"A refused START", "B refused START"}}),
    [](const ::testing::TestParamInfo<Judgement>& info) { return std::string(info.param.name); });

// What each engine is told, line by line, for a game from a 3-stone opening and one from the
// empty board.
TEST(Referee, SpeaksToEnginesAsManagersDo) {
  struct Row {
    const char* opening;
    std::vector<std::string> blackFirstMove, whiteFirstMove;  // after the INFO time_left
  };
  const Row rows[] = {
      {"9,9 10,10 9,10",
       {"BOARD", "9,9,1", "10,10,2", "9,10,1", "0,19,2", "DONE"},
       {"BOARD", "9,9,2", "10,10,1", "9,10,2", "DONE"}},
      {"-", {"BEGIN"}, {"BOARD", "0,0,2", "DONE"}},
  };
  for (const Row& row : rows) {
    const std::string openings = TestPath("openings.txt");
    const std::string logA = TestPath(std::string("a.log") + (row.opening[0] == '-' ? "2" : ""));
    const std::string logB = TestPath(std::string("b.log") + (row.opening[0] == '-' ? "2" : ""));
    WriteFile(openings, std::string(row.opening) + "\n");
    const ToolRun run =
        RunTool({"match", FakeEngine("--row 0 --log " + logA), FakeEngine("--row 19 --log " + logB),
                 "--games", "1", "--openings", openings, "--turn", "1000", "--match", "7000",
                 "--memory", "12345", "--tolerance", "500"},
                "", 30000);
    ASSERT_TRUE(run.finished) << run.output;
    for (const std::string& log : {logA, logB}) {
      const bool black = log == logA;
      const auto lines = ReadLines(log);
      std::vector<std::string> expected = {"ABOUT",
                                           "START 20",
                                           "INFO timeout_turn 1000",
                                           "INFO timeout_match 7000",
                                           "INFO max_memory 12345",
                                           "INFO rule 0",
                                           "INFO time_left 7000"};
      const auto& first = black ? row.blackFirstMove : row.whiteFirstMove;
      expected.insert(expected.end(), first.begin(), first.end());
      ASSERT_GE(lines.size(), expected.size() + 1) << row.opening << " " << log;
      for (size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ(lines[k], expected[k]) << row.opening << " " << log << " line " << k;
      // Then INFO time_left and TURN with the other engine's last move, pair by pair.
      const std::regex timeLeft("INFO time_left (\\d+)");
      const int otherRow = black ? 19 : 0;
      int x = black == (row.opening[0] == '-') ? 0 : 1;  // the other's first TURN column
      size_t k = expected.size();
      for (; k + 1 < lines.size(); k += 2, ++x) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[k], m, timeLeft)) << log << ": " << lines[k];
        const int left = std::stoi(m[1]);
        EXPECT_LE(left, 7000);
        EXPECT_GT(left, 7000 - 4 * 1500);
        EXPECT_EQ(lines[k + 1], "TURN " + std::to_string(x) + "," + std::to_string(otherRow))
            << log;
      }
      ASSERT_LT(k, lines.size());
      EXPECT_EQ(lines[k], "END") << log;
      EXPECT_GE(x, 4) << log << ": the game ended early";
    }
  }
}

TEST(Referee, FullBoardIsADraw) {
  const std::string openings = TestPath("openings.txt");
  const std::string sgf = TestPath("games.sgf");
  WriteFile(openings, "0,0 2,0 1,0\n");  // cells of the pattern the fillers follow
  const ToolRun run = RunTool(
      {"match", FakeEngine("--fill"), FakeEngine("--fill"), "--openings", openings, "--sgf", sgf},
      "", 60000);
  ASSERT_TRUE(run.finished) << run.output;
  const auto games = LinesStartingWith(run.output, "game ");
  ASSERT_EQ(games.size(), 2u) << run.output;
  for (const std::string& game : games)
    EXPECT_NE(game.find(": draw: the board is full; 400 moves"), std::string::npos) << game;
  EXPECT_NE(run.output.find("A: 0 wins, 2 draws, 0 losses\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Elo difference A - B: +0 (95 % interval +0 .. +0)"), std::string::npos)
      << run.output;
  const auto lines = ReadLines(sgf);
  int moves = 0;
  for (const std::string& line : lines) moves += line.size() > 1 && line[0] == ';';
  EXPECT_EQ(moves, 800);
}

TEST(Referee, WritesEveryGameAsSgf) {
  const std::string openings = TestPath("openings.txt");
  const std::string sgf = TestPath("games.sgf");
  WriteFile(openings, kOpening);
  const ToolRun run = RunTool({"match", FakeEngine("--row 0"), FakeEngine("--row 19"), "--openings",
                               openings, "--sgf", sgf},
                              "", 30000);
  ASSERT_TRUE(run.finished) << run.output;
  std::string text;
  for (const std::string& line : ReadLines(sgf)) text += line + "\n";
  // Thinking times vary from run to run; their form does not.
  const std::regex thinking(R"(C\[\d+ ms\])");
  EXPECT_EQ(std::regex_replace(text, thinking, "C[t]"),
            "(;FF[4]GM[4]SZ[20]AP[kestrova match]PB[fake-engine 0.1]PW[fake-engine 0.1]RE[W+]"
            "C[B made five in a row with 4,19]\n"
            ";B[jj]C[opening]\n;W[kk]C[opening]\n;B[jk]C[opening]\n"
            ";W[at]C[t]\n;B[aa]C[t]\n;W[bt]C[t]\n;B[ba]C[t]\n;W[ct]C[t]\n;B[ca]C[t]\n"
            ";W[dt]C[t]\n;B[da]C[t]\n;W[et]C[t]\n"
            ")\n"
            "(;FF[4]GM[4]SZ[20]AP[kestrova match]PB[fake-engine 0.1]PW[fake-engine 0.1]RE[W+]"
            "C[A made five in a row with 4,0]\n"
            ";B[jj]C[opening]\n;W[kk]C[opening]\n;B[jk]C[opening]\n"
            ";W[aa]C[t]\n;B[at]C[t]\n;W[ba]C[t]\n;B[bt]C[t]\n;W[ca]C[t]\n;B[ct]C[t]\n"
            ";W[da]C[t]\n;B[dt]C[t]\n;W[ea]C[t]\n"
            ")\n");
}

TEST(Referee, RefusesBadCommandLines) {
  const std::string dir = TestPath("");
  struct Row {
    std::vector<std::string> args;
    const char* opening;  // written to the openings file when not null
    const char* message;
  };
  const Row rows[] = {
      {{"match", "x"}, nullptr, "two engines are needed"},
      {{"match", "a", "b", "--games", "0"}, nullptr, "bad value '0' for --games"},
      {{"match", "a", "b", "--turn", "5s"}, nullptr, "bad value '5s' for --turn"},
      {{"match", "a", "b", "--tolerance"}, nullptr, "--tolerance needs a value"},
      {{"match", "a", "b", "--bogus", "1"}, nullptr, "unknown option --bogus"},
      {{"match", "a", "b", "--openings", dir + "missing.txt"}, nullptr, "cannot read"},
      {{"match", "a", "b", "--sgf", dir + "no/such/dir.sgf"}, nullptr, "cannot write"},
      {{"match", "a", "b", "--openings", dir + "o.txt"}, "# comment\n9,9 9,9\n", "o.txt:2: "},
      {{"match", "a", "b", "--openings", dir + "o.txt"}, "# nothing\n\n", "has no openings"},
  };
  for (const Row& row : rows) {
    if (row.opening) WriteFile(dir + "o.txt", row.opening);
    const ToolRun run = RunTool(row.args, "", 10000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_NE(run.output.find(row.message), std::string::npos)
        << run.output << "\nwanted " << row.message;
  }
}

// --- the real engine -----------------------------------------------------------------------

TEST(Referee, ShortMatchOfTheEngineAgainstItself) {
  // 600 ms per move leaves the engine about 100 ms of search.
  const ToolRun run = RunTool(
      {"match", EngineCommand(), EngineCommand(), "--games", "2", "--turn", "600"}, "", 120000);
  ASSERT_TRUE(run.finished) << run.output;
  EXPECT_EQ(run.exitCode, 0) << run.output;
  const auto games = LinesStartingWith(run.output, "game ");
  ASSERT_EQ(games.size(), 2u) << run.output;
  for (const std::string& game : games)
    EXPECT_TRUE(game.find("made five in a row") != std::string::npos ||
                game.find("the board is full") != std::string::npos)
        << game;
  const std::string name = "Kestrova " + GameState{}.Version;  // as the engine's ABOUT says
  EXPECT_NE(run.output.find("A = " + name + ", B = " + name + "\n"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("lost by time or forfeit: A 0, B 0"), std::string::npos) << run.output;
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(run.output, m, std::regex(R"(A: (\d+) wins, (\d+) draws, (\d+) losses)")));
  EXPECT_EQ(std::stoi(m[1]) + std::stoi(m[2]) + std::stoi(m[3]), 2);
}

}  // namespace
}  // namespace kestrova::testing
