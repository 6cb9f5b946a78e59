// kestrova analyse: the first losing move of hand-made games, in-process and through the
// real tool, and the records it must refuse.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/engine_process.h"
#include "tests/search_support.h"
#include "tests/threats_reference.h"
#include "tools/analyse/analysis.h"
#include "tools/referee/referee.h"
#include "tools/sgf/sgf.h"

namespace kestrova::testing {
namespace {

using namespace kestrova::analyse;

// Black makes an open three at move 5; white plays in a corner instead of blocking it, and
// black then wins by an open four.
constexpr const char* kIgnoredThree =
    "(;FF[4]GM[4]SZ[15]AP[kestrova match]PB[a]PW[b]RE[B+]C[B made five]\n"
    ";B[hh]C[opening]\n;W[aa]C[opening]\n;B[ih]C[opening]\n;W[ao]C[5 ms]\n"
    ";B[jh]C[5 ms]\n;W[oo]C[5 ms]\n;B[kh]C[5 ms]\n;W[oa]C[5 ms]\n;B[lh]C[5 ms]\n)\n";

sgf::RecordedGame ParseOne(const std::string& text) {
  std::vector<sgf::RecordedGame> games;
  std::string error;
  EXPECT_TRUE(sgf::ParseSgf(text, games, error)) << error;
  EXPECT_EQ(games.size(), 1u);
  return games.empty() ? sgf::RecordedGame{} : games[0];
}

Board BoardAfter(const sgf::RecordedGame& game, int plies) {
  sgf::Replay replay(game);
  std::string error;
  for (int k = 0; k < plies; ++k) EXPECT_TRUE(replay.Next(error)) << error;
  return replay.board();
}

TEST(AnalyseTest, MarksTheMoveThatIgnoredTheThreeAndAWinningLine) {
  const sgf::RecordedGame game = ParseOne(kIgnoredThree);
  SteadyClock clock;
  for (const bool vct : {true, false}) {
    const AnalyseOptions options{.engineMs = 0, .vct = vct};
    int reported = 0;
    const Analysis a = AnalyseGame(game, options, clock, [&](const PlyReport&) { ++reported; });
    ASSERT_EQ(a.plies.size(), 9u);
    EXPECT_EQ(reported, 9);
    EXPECT_TRUE(a.error.empty()) << a.error;
    // Before move 6 white could still block the three; after it black wins by force.
    ASSERT_EQ(a.losingPly, 6) << "vct " << vct;
    for (const PlyReport& ply : a.plies) EXPECT_EQ(ply.losing, ply.ply == 6) << ply.ply;
    EXPECT_FALSE(a.plies[5].forced);
    EXPECT_FALSE(a.plies[5].nothingSaved) << "white could still block the three";
    const PlyReport& six = a.plies[5];
    EXPECT_EQ(six.side, Opponent);
    EXPECT_EQ(six.toMove.vcf, Verdict::Win);
    EXPECT_EQ(ValidVcfLine(BoardAfter(game, 6), Own, six.toMove.line, false), "");
    EXPECT_TRUE(six.mover.vcf == Verdict::NoWin);
    // The three was a threat already, but white to move held it.
    EXPECT_EQ(a.plies[4].mover.vcf, Verdict::Win);
    EXPECT_FALSE(a.plies[4].toMove.Wins());
    EXPECT_TRUE(a.plies[8].five);
    EXPECT_EQ(FormatSummary(a).rfind("first losing move: 6 (white 14,14): black wins by VCF ", 0),
              0u)
        << FormatSummary(a);
    EXPECT_TRUE(Holds(FormatPly(six, 8), "<- first losing move"));
  }
}

// Black builds two open threes crossing at 7,7 (move 9) while white plays in the corners;
// white's block of one of them at move 10 lets the other become an open four.
constexpr const char* kFork =
    "(;FF[4]GM[4]SZ[15]RE[B+]\n;B[gh];W[aa];B[ih];W[oa];B[hg];W[ao];B[hi];W[oo];B[hh];W[fh]"
    ";B[hj];W[hk];B[hf])\n";

TEST(AnalyseTest, AMoveAfterWhichNothingSavedIsNotTheMistake) {
  const sgf::RecordedGame game = ParseOne(kFork);
  SteadyClock clock;
  // By fours alone the block is the first move after which black wins; but nothing white
  // could play there stopped both threes. By threes an earlier corner move is.
  const struct {
    bool vct;
    int losingPly;
    bool nothingSaved;
  } rows[] = {{false, 10, true}, {true, 6, false}};
  for (const auto& row : rows) {
    const Analysis a = AnalyseGame(game, AnalyseOptions{.engineMs = 0, .vct = row.vct}, clock);
    ASSERT_EQ(a.losingPly, row.losingPly) << "vct " << row.vct;
    const PlyReport& losing = a.plies[size_t(row.losingPly - 1)];
    EXPECT_FALSE(losing.forced);
    EXPECT_EQ(losing.nothingSaved, row.nothingSaved) << "vct " << row.vct;
    EXPECT_EQ(Holds(FormatSummary(a), "every move there lost"), row.nothingSaved)
        << FormatSummary(a);
  }
}

// Black's 1,2,3,4,_,6 on row 7, left open at move 10: a five for freestyle, an overline for
// exact five, which is no win at all.
TEST(AnalyseTest, FollowsTheRecordsRule) {
  const std::string moves = ";B[bh];W[aa];B[ch];W[ah];B[gh];W[ao];B[dh];W[oo];B[eh];W[oa];B[aj])";
  const struct {
    const char* header;
    int losingPly;
  } rows[] = {{"(;SZ[15]", 10}, {"(;SZ[15]RU[0]", 10}, {"(;SZ[15]RU[1]", 0}};
  SteadyClock clock;
  for (const auto& row : rows) {
    const AnalyseOptions options{.engineMs = 0, .vct = false};
    const Analysis a = AnalyseGame(ParseOne(row.header + moves), options, clock);
    EXPECT_EQ(a.losingPly, row.losingPly) << row.header;
    EXPECT_EQ(a.plies.size(), 11u) << row.header;
  }
}

// What kestrova match writes is what the analyser reads: size, rule, every move and its colour.
TEST(AnalyseTest, ReadsBackTheRecordsOfMatches) {
  for (const int rule : {referee::kFreestyle, referee::kExactFive}) {
    referee::GameRecord record;
    record.boardSize = 12;
    record.rule = rule;
    record.blackName = "a]b\\c";
    record.reason = "B made five";
    const referee::Point points[] = {{5, 5}, {0, 11}, {6, 5}};
    for (size_t k = 0; k < 3; ++k)
      record.moves.push_back(
          {{points[k], k % 2 ? referee::Stone::White : referee::Stone::Black}, 12});
    const sgf::RecordedGame game = ParseOne(referee::GameSgf(record));
    EXPECT_EQ(game.size, 12);
    EXPECT_EQ(game.rule, rule == referee::kFreestyle ? Rule::Freestyle : Rule::ExactFive);
    ASSERT_EQ(game.moves.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
      EXPECT_EQ(game.moves[k].first, k % 2 == 0 ? Own : Opponent);
      EXPECT_EQ(game.moves[k].second.x, points[k].x + 1);
      EXPECT_EQ(game.moves[k].second.y, points[k].y + 1);
    }
  }
}

// Row y = 7 of a 15 x 15 board, from x = 0; the mover is black ('X'), move in board indices.
TEST(AnalyseTest, TellsAForcedBlockFromAFreeMove) {
  const struct {
    const char* rows;
    Move move;
    bool forced;
  } cases[] = {
      {"XOOOO..........", {6, 8}, true},   // blocks white's one five, at x = 5
      {"XOOOO..........", {7, 8}, false},  // plays beside it: not the block
      {".OOOO..........", {6, 8}, false},  // two fives for white: nothing blocks them both
      {"XOOOO..XXXX....", {6, 8}, false},  // black had its own five to make instead
      {"XOOOO..X.XX....", {6, 8}, true},   // black's three stones make no five
  };
  for (const auto& c : cases)
    EXPECT_EQ(ForcedBlock(Sparse(15, {{7, c.rows}}), Own, c.move, Rule::Freestyle), c.forced)
        << c.rows;
}

ToolRun Analyse(const std::vector<std::string>& args) {
  return RunTool("analyse" + Quoted(args), "", true);
}

int PlyLines(const std::string& out) {
  int n = 0;
  for (size_t at = 0; (at = out.find(" | ", at)) != std::string::npos; at = out.find('\n', at)) ++n;
  return n;
}

TEST(AnalyseToolTest, ReportsTheGameWithTheEnginesChoices) {
  const ToolRun run = Analyse({TempFile("game.sgf", kIgnoredThree), "--ms", "20"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(PlyLines(run.output), 9) << run.output;
  EXPECT_TRUE(Holds(run.output, "2 white 0,0 | engine "));
  EXPECT_TRUE(Holds(run.output, "\nfirst losing move: 6 (white 14,14): black wins by VCF "));
}

TEST(AnalyseToolTest, RefusesBadRecordsAndSaysWhy) {
  const std::string won = "(;SZ[15];B[hh];W[aa];B[ih];W[ao];B[jh];W[oo];B[kh];W[oa];B[lh];W[ab])";
  const struct {
    std::string sgf;  // the file's content
    std::vector<std::string> args;
    int status;
    int plies;  // lines reported before the error
    const char* error;
  } rows[] = {
      {"(;SZ[15];B[hh]", {}, 2, 0, "never closes"},
      {"(;SZ[15];B[h])", {}, 2, 0, "move 1 'h' is not a point"},
      {"hello", {}, 2, 0, "expected '('"},
      {"", {}, 2, 0, "no game in it"},
      {"(;SZ[21];B[aa])", {}, 2, 0, "bad board size SZ[21]"},
      {"(;SZ[4];B[aa])", {}, 2, 0, "bad board size SZ[4]"},
      {"(;SZ[15];B[hh](;W[ii]))", {}, 2, 0, "variations are not replayed"},
      {"(;SZ[15:15];B[aa])", {}, 2, 0, "bad board size SZ[15:15]"},
      {"(;SZ[15]RU[renju];B[hh])", {}, 2, 0, "unsupported rule RU[renju]"},
      {"(;SZ[15]AB[hh];W[ii])", {}, 2, 0, "setup stones (AB)"},
      {"(;SZ[15];B[hh];W[zz])", {}, 1, 1, "move 2 'zz' is not a cell of the board"},
      {"(;SZ[15];B[hh];W[ii];B[hh])", {}, 1, 2, "move 3 'hh' is on a taken cell"},
      {"(;SZ[15];B[hh];B[ii])", {}, 1, 1, "move 2 'ii' is out of turn"},
      {won, {}, 1, 9, "move 10 'ab' comes after the five that ended the game"},
      {"(;SZ[15];B[hh])", {"--ms", "-1"}, 2, 0, "--ms"},
      {"(;SZ[15];B[hh])", {"--vct-nodes", "0"}, 2, 0, "--vct-nodes"},
      {"(;SZ[15];B[hh])", {"--depth", "3"}, 2, 0, "--depth"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = row.args;
    args.insert(args.begin(), TempFile("game.sgf", row.sgf));
    // The engine stays out of it: these records are refused before it would matter.
    if (row.args.empty()) args.insert(args.end(), {"--ms", "0"});
    const ToolRun run = Analyse(args);
    EXPECT_EQ(run.exitCode, row.status) << row.sgf << "\n" << run.output << run.err;
    EXPECT_EQ(PlyLines(run.output), row.plies) << row.sgf << "\n" << run.output;
    EXPECT_TRUE(Holds(run.err, row.error)) << row.sgf;
    if (row.status == 1) {
      EXPECT_TRUE(Holds(run.output, "error: " + std::string(row.error)));
    }
  }
  const ToolRun missing = Analyse({"/nonexistent/game.sgf"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_TRUE(Holds(missing.err, "cannot be read"));
}

TEST(FeaturesToolTest, OneLinePerPositionOfAWonGameWithItsWinner) {
  const ToolRun run = RunTool("features" + Quoted({TempFile("game.sgf", kIgnoredThree)}), "", true);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::vector<int>> lines;
  std::istringstream out(run.output);
  for (std::string line; std::getline(out, line);) {
    std::istringstream fields(line);
    lines.emplace_back(std::istream_iterator<int>(fields), std::istream_iterator<int>());
  }
  // The positions after moves 4 to 8: the opening's stones are drawn, the last one won.
  ASSERT_EQ(lines.size(), 5u) << run.output;
  for (size_t k = 0; k < lines.size(); ++k) {
    ASSERT_EQ(lines[k].size(), 19u);
    const int toMove = k % 2 == 0 ? Own : Opponent;
    EXPECT_EQ(lines[k][0], toMove);
    EXPECT_EQ(lines[k][1], toMove == Own);  // black made the five
  }
  // White to move after black's open three: the three is black's, filed under the other side.
  constexpr int kThreeBucket = 2, kMover = 3, kOther = 3 + 8;
  EXPECT_GT(lines[1][kOther + kThreeBucket], 0);
  EXPECT_EQ(lines[1][kMover + kThreeBucket], 0);

  const ToolRun illegal =
      RunTool("features" + Quoted({TempFile("bad.sgf", "(;SZ[15];B[hh];W[hh])")}), "", true);
  EXPECT_EQ(illegal.exitCode, 0);
  EXPECT_EQ(illegal.output, "");
  EXPECT_TRUE(Holds(illegal.err, "game 1 left out: move 2 'hh' is on a taken cell"));
  EXPECT_EQ(RunTool("features /nonexistent/game.sgf", "", true).exitCode, 2);
  EXPECT_EQ(RunTool("features", "", true).exitCode, 2);
}

}  // namespace
}  // namespace kestrova::testing
