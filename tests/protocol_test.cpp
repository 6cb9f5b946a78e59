// The command loop in-process: bytes in, replies and game state out, on a clock that
// only moves when the engine reads it.
#include "engine/protocol.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/board.h"
#include "engine/clock.h"
#include "engine/engine.h"
#include "tests/step_clock.h"
#include "tools/game_rules.h"

namespace kestrova {
namespace {

// Every reading moves the clock on by one step and sleeping costs nothing, so a test never
// waits and a search stops after a known number of readings.
using testing::StepClock;

class CapturingSink final : public ReplySink {
 public:
  void WriteLine(std::string_view text) override { lines.emplace_back(text); }
  std::vector<std::string> lines;
};

Board EmptyGameBoard() {
  Board board{};
  ResetBoard(board);
  return board;
}

class ProtocolTest : public ::testing::Test {
 protected:
  // Feeds bytes as one read and returns the replies they caused.
  std::vector<std::string> Send(std::string_view bytes) {
    const size_t before = out_.lines.size();
    loop_.Feed(bytes);
    return {out_.lines.begin() + long(before), out_.lines.end()};
  }
  std::string One(std::string_view bytes) {
    const auto replies = Send(bytes);
    EXPECT_EQ(replies.size(), 1u) << "for " << bytes;
    return replies.empty() ? std::string("<none>") : replies.back();
  }
  // Sends a move request and checks that the answer names a cell that was empty and now
  // holds the engine's stone.
  void ExpectLegalMove(std::string_view bytes) {
    const Board before = game().GameBoard;
    const std::string reply = One(bytes);
    const auto move = referee::ParseEngineMove(reply);
    ASSERT_TRUE(move && referee::OnBoard(*move)) << reply;
    const int x = move->x, y = move->y;
    EXPECT_EQ(before.at(x + 1, y + 1), Empty) << reply << " was not empty";
    EXPECT_EQ(game().GameBoard.at(x + 1, y + 1), Own) << reply;
    // Besides the reply's cell only the opponent's stone of a TURN may appear.
    int changed = 0;
    for (int i = 0; i < kGrid; ++i)
      for (int j = 0; j < kGrid; ++j) changed += game().GameBoard.at(i, j) != before.at(i, j);
    EXPECT_LE(changed, 2) << reply;
  }
  GameState& game() { return engine_->game; }

  StepClock clock_{1};
  std::unique_ptr<Engine> engine_ = std::make_unique<Engine>(clock_, 12345);
  CapturingSink out_;
  CommandLoop loop_{*engine_, out_};
};

TEST(ParseNumberTest, SignsBasesBlanksAndJunk) {
  struct Row {
    const char* field;
    int64_t value;
    bool digits;
  };
  const Row rows[] = {
      {"12", 12, true},
      {"  7", 7, true},
      {"\t \t9", 9, true},
      {"-3", -3, true},
      {"+5", 5, true},
      {"007", 7, true},
      {"12abc", 12, true},
      {"1 2", 1, true},
      {"$1F", 31, true},
      {"$ff", 255, true},
      {"$fG", 15, true},
      {"-$10", -16, true},
      {"+$a", 10, true},
      {"%101", 5, true},
      {"%1012", 5, true},
      {"-%11", -3, true},
      {"9999999999", 9999999999, true},
      {"", 0, false},
      {"   ", 0, false},
      {"abc", 0, false},
      {"-", 0, false},
      {"+", 0, false},
      {"$", 0, false},
      {"$g", 0, false},
      {"%", 0, false},
      {"%2", 0, false},
      {"--1", 0, false},
      {"$-5", 0, false},
      {"x12", 0, false},
  };
  for (const Row& row : rows) {
    bool digits = !row.digits;
    EXPECT_EQ(ParseNumber(row.field, &digits), row.value) << '"' << row.field << '"';
    EXPECT_EQ(digits, row.digits) << '"' << row.field << '"';
    EXPECT_EQ(ParseNumber(row.field), row.value) << '"' << row.field << '"';
  }
}

TEST(FieldTest, CountsFromOneAndIsEmptyPastTheLast) {
  struct Row {
    const char* text;
    char sep;
    int k;
    const char* field;
  };
  const Row rows[] = {
      {"INFO timeout_turn 5000", ' ', 1, "INFO"},
      {"INFO timeout_turn 5000", ' ', 2, "timeout_turn"},
      {"INFO timeout_turn 5000", ' ', 3, "5000"},
      {"INFO timeout_turn 5000", ' ', 4, ""},
      {"9,10,2", ',', 1, "9"},
      {"9,10,2", ',', 3, "2"},
      {"9,,2", ',', 2, ""},
      {"9,,2", ',', 3, "2"},
      {"9,", ',', 2, ""},
      {"9", ',', 2, ""},
      {"", ' ', 1, ""},
      {" a", ' ', 1, ""},
      {" a", ' ', 2, "a"},
      {"a  b", ' ', 3, "b"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(Field(row.text, row.sep, row.k), row.field)
        << '"' << row.text << "\" field " << row.k;
}

TEST_F(ProtocolTest, StartResetsTheBoardAndTheGameClockOnly) {
  Send("INFO timeout_turn 1000\r\nINFO timeout_match 180000\r\n");
  ExpectLegalMove("TURN 3,4\r\n");
  ASSERT_GT(game().GameRunningTime, 0);
  const Move last = game().LastOpponentMove;
  EXPECT_EQ(last.x, 4);
  EXPECT_EQ(last.y, 5);

  EXPECT_EQ(One("START 20\r\n"), "OK");
  EXPECT_TRUE(game().GameBoard == EmptyGameBoard());
  EXPECT_EQ(game().GameRunningTime, 0);
  EXPECT_EQ(game().msTurnTime, 1000);
  EXPECT_EQ(game().msMatchTime, 180000);
  EXPECT_EQ(game().LastOpponentMove.x, last.x);
  EXPECT_EQ(game().LastOpponentMove.y, last.y);
}

TEST_F(ProtocolTest, StartWithoutSizeIsTwenty) {
  Send("BOARD\r\n1,1,1\r\n");
  EXPECT_EQ(One("START\r\n"), "OK");
  EXPECT_TRUE(game().GameBoard == EmptyGameBoard());
}

TEST_F(ProtocolTest, UnsupportedSizeChangesNothing) {
  ExpectLegalMove("TURN 9,9\r\n");
  const GameState before = game();
  for (const char* line : {"START 15\r\n", "START 19\r\n", "START 0\r\n", "START -20\r\n"}) {
    EXPECT_EQ(One(line), "ERROR unsupported board size") << line;
    EXPECT_TRUE(game().GameBoard == before.GameBoard) << line;
    EXPECT_EQ(game().GameRunningTime, before.GameRunningTime) << line;
  }
  EXPECT_EQ(One("START 20\r\n"), "OK");
}

TEST_F(ProtocolTest, InfoSetsTheLimitsSilently) {
  struct Row {
    const char* line;
    int64_t msTurnTime, msMatchTime, maxMemory;
  };
  const Row rows[] = {
      {"INFO timeout_turn 5000", 5000, 0, 0},
      {"INFO timeout_match 180000", 5000, 180000, 0},
      {"INFO timeout_match 0", 5000, 10000000, 0},
      {"INFO timeout_turn 0", 0, 10000000, 0},
      {"INFO max_memory 367001600", 0, 10000000, 367001600},
      {"INFO time_left 1234", 0, 10000000, 367001600},
      {"INFO rule 1", 0, 10000000, 367001600},
      {"INFO", 0, 10000000, 367001600},
      {"INFO timeout_turn $3E8", 1000, 10000000, 367001600},
      {"INFO timeout_match 30000000000", 1000, 30000000000, 367001600},
  };
  EXPECT_EQ(game().msMatchTime, 0) << "no limit told yet";
  for (const Row& row : rows) {
    EXPECT_TRUE(Send(std::string(row.line) + "\r\n").empty()) << row.line;
    EXPECT_EQ(game().msTurnTime, row.msTurnTime) << row.line;
    EXPECT_EQ(game().msMatchTime, row.msMatchTime) << row.line;
    EXPECT_EQ(game().MaxMemory, row.maxMemory) << row.line;
  }
}

TEST_F(ProtocolTest, MaxMemoryBoundsTheTree) {
  const int64_t unbounded = engine_->search.maxNodes;
  Send("INFO max_memory 67108864\r\n");
  EXPECT_LT(engine_->search.maxNodes, unbounded);
  EXPECT_GT(engine_->search.maxNodes, 0);
  Send("INFO max_memory 0\r\n");
  EXPECT_EQ(engine_->search.maxNodes, unbounded);
}

TEST_F(ProtocolTest, BoardClearsThePlayingAreaAndKeepsTheWalls) {
  ExpectLegalMove("TURN 0,0\r\n");
  ExpectLegalMove("TURN 19,19\r\n");
  EXPECT_TRUE(Send("BOARD\r\n").empty());
  EXPECT_EQ(loop_.BoardMode(), 1);
  EXPECT_TRUE(game().GameBoard == EmptyGameBoard());
}

TEST_F(ProtocolTest, StoneLines) {
  struct Row {
    const char* line;
    int x, y;  // board cell that changes, or 0
    uint8_t cell;
    Move last;  // LastOpponentMove afterwards
  };
  const Row rows[] = {
      {"9,9,3", 0, 0, 0, {0, 0}},
      {"9,9,1", 10, 10, Own, {0, 0}},
      {"4,5,2", 5, 6, Opponent, {5, 6}},
      {"0,0,1", 1, 1, Own, {5, 6}},
      {"19,19,2", 20, 20, Opponent, {20, 20}},
      {"20,5,1", 0, 0, 0, {20, 20}},
      {"5,20,2", 0, 0, 0, {20, 20}},
      {"-1,5,2", 0, 0, 0, {20, 20}},
      {"5,-1,1", 0, 0, 0, {20, 20}},
      {"300,3,2", 0, 0, 0, {20, 20}},
      {"3,3,0", 0, 0, 0, {20, 20}},
      {"3,3", 0, 0, 0, {20, 20}},
      {"junk", 0, 0, 0, {20, 20}},
      {",,2", 0, 0, 0, {20, 20}},  // no number is no cell, not the corner
      {"4294967297,3,2", 0, 0, 0, {20, 20}},
      {"$a,%11,2", 11, 4, Opponent, {11, 4}},
  };
  game().LastOpponentMove = Move{0, 0};
  Send("BOARD\r\n");
  for (const Row& row : rows) {
    const Board before = game().GameBoard;
    EXPECT_TRUE(Send(std::string(row.line) + "\r\n").empty()) << row.line;
    Board expected = before;
    if (row.x) expected.at(row.x, row.y) = row.cell;
    EXPECT_TRUE(game().GameBoard == expected) << row.line;
    EXPECT_EQ(game().LastOpponentMove.x, row.last.x) << row.line;
    EXPECT_EQ(game().LastOpponentMove.y, row.last.y) << row.line;
    EXPECT_EQ(loop_.BoardMode(), 1);
  }
  ExpectLegalMove("DONE\r\n");
  EXPECT_EQ(loop_.BoardMode(), 0);
}

TEST_F(ProtocolTest, CommandsInsideBoardEntryAreCommands) {
  Send("BOARD\r\n5,5,1\r\n");
  EXPECT_TRUE(Send("INFO timeout_turn 777\r\n").empty());
  EXPECT_EQ(game().msTurnTime, 777);
  EXPECT_EQ(loop_.BoardMode(), 1);
  EXPECT_EQ(One("ABOUT\r\n"), AboutLine(game()));
  EXPECT_EQ(loop_.BoardMode(), 1);
  Send("6,6,2\r\n");
  EXPECT_EQ(game().GameBoard.at(7, 7), Opponent);
  EXPECT_EQ(game().GameBoard.at(6, 6), Own);
  EXPECT_TRUE(Send("END\r\n").empty());
  EXPECT_TRUE(loop_.ended());
}

TEST_F(ProtocolTest, TurnPlaysTheOpponentAndAnswers) {
  ExpectLegalMove("TURN 9,9\r\n");
  EXPECT_EQ(game().GameBoard.at(10, 10), Opponent);
  EXPECT_EQ(game().LastOpponentMove.x, 10);
  EXPECT_EQ(game().LastOpponentMove.y, 10);
  EXPECT_GT(game().TurnStartTime, 0);
  // A second move of the same game must not land on any stone.
  ExpectLegalMove("TURN 10,9\r\n");
  EXPECT_EQ(game().GameBoard.at(11, 10), Opponent);
}

TEST_F(ProtocolTest, BadTurnIsRefusedAndChangesNothing) {
  ExpectLegalMove("TURN 9,9\r\n");
  struct Row {
    const char* line;
    const char* reply;
  };
  const Row rows[] = {
      {"TURN 20,0", "ERROR coordinates outside the board"},
      {"TURN 0,20", "ERROR coordinates outside the board"},
      {"TURN -1,5", "ERROR coordinates outside the board"},
      {"TURN 5,-1", "ERROR coordinates outside the board"},
      {"TURN 9,9", "ERROR cell is occupied"},
      {"TURN", "ERROR malformed coordinates"},
      {"TURN  9,9", "ERROR malformed coordinates"},  // the argument is the empty field 2
      {"TURN 5", "ERROR malformed coordinates"},
      {"TURN ,5", "ERROR malformed coordinates"},
      {"TURN 4294967306,1", "ERROR coordinates outside the board"},  // not 10,1
      {"TURN 18446744073709551626,1", "ERROR coordinates outside the board"},
  };
  for (const Row& row : rows) {
    const GameState before = game();
    const int64_t readings = clock_.now();
    EXPECT_EQ(One(std::string(row.line) + "\r\n"), row.reply);
    EXPECT_TRUE(game().GameBoard == before.GameBoard) << row.line;
    EXPECT_EQ(game().LastOpponentMove.x, before.LastOpponentMove.x) << row.line;
    EXPECT_EQ(game().LastOpponentMove.y, before.LastOpponentMove.y) << row.line;
    EXPECT_EQ(game().TurnStartTime, before.TurnStartTime) << row.line;
    EXPECT_EQ(game().GameRunningTime, before.GameRunningTime) << row.line;
    EXPECT_EQ(clock_.now(), readings) << "no search for " << row.line;
  }
  // The engine's own stone is occupied too.
  int x = -1, y = -1;
  for (int i = 1; i <= 20; ++i)
    for (int j = 1; j <= 20; ++j)
      if (game().GameBoard.at(i, j) == Own) x = i - 1, y = j - 1;
  ASSERT_GE(x, 0);
  EXPECT_EQ(One("TURN " + std::to_string(x) + "," + std::to_string(y) + "\r\n"),
            "ERROR cell is occupied");
}

TEST_F(ProtocolTest, DoneWithoutBoardAsksForAMove) {
  ExpectLegalMove("DONE\r\n");
  EXPECT_EQ(loop_.BoardMode(), 0);
}

TEST_F(ProtocolTest, BeginOpensInTheCentre) {
  EXPECT_EQ(One("BEGIN\r\n"), "10,10");
  EXPECT_EQ(game().GameBoard.at(11, 11), Own);
  EXPECT_EQ(clock_.slept(), 100);
}

TEST_F(ProtocolTest, BeginWithTheCentreTakenStillPlaysALegalMove) {
  Send("BOARD\r\n10,10,2\r\n");
  ExpectLegalMove("DONE\r\n");
  ExpectLegalMove("BEGIN\r\n");
  EXPECT_EQ(game().GameBoard.at(11, 11), Opponent);
}

TEST_F(ProtocolTest, EndOnlyExactly) {
  for (const char* line : {"END ", "ENDGAME", "end", " END", "EN"})
    EXPECT_EQ(One(std::string(line) + "\r\n"), "UNKNOWN") << '"' << line << '"';
  EXPECT_FALSE(loop_.ended());
  EXPECT_FALSE(loop_.Feed("END\r\nABOUT\r\n"));
  EXPECT_TRUE(loop_.ended());
  EXPECT_TRUE(out_.lines.size() == 5u) << "nothing is answered after END";
}

TEST_F(ProtocolTest, CommandWordsAreCaseSensitiveAndFourLettersLong) {
  struct Row {
    const char* line;
    const char* reply;
  };
  const Row rows[] = {
      {"start 20", "UNKNOWN"},
      {" START 20", "UNKNOWN"},
      {"Start 20", "UNKNOWN"},
      {"STARTING 20", "OK"},
      {"STAR 20", "OK"},
      {"ABOUT",
       "name=\"Kestrova\", version=\"v1.0.2\", author=\"Orrin Tavel\", "
       "country=\"Valdoria\""},
      {"ABOUTME",
       "name=\"Kestrova\", version=\"v1.0.2\", author=\"Orrin Tavel\", "
       "country=\"Valdoria\""},
      {"about", "UNKNOWN"},
      {"RESTART", "UNKNOWN"},
      {"TAKEBACK 1,1", "UNKNOWN"},
      {"PLAY 1,1", "UNKNOWN"},
      {"SWAP2BOARD", "UNKNOWN"},
      {"0,10", "UNKNOWN"},
      {"x", "UNKNOWN"},
  };
  for (const Row& row : rows) EXPECT_EQ(One(std::string(row.line) + "\r\n"), row.reply) << row.line;
}

TEST_F(ProtocolTest, LineEnds) {
  struct Row {
    std::vector<std::string> reads;
    std::vector<std::string> replies;
  };
  const std::string about = AboutLine(game());
  const Row rows[] = {
      {{"START 20\r\nABOUT\r\n"}, {"OK", about}},
      {{"START 20\nABOUT\n"}, {"OK", about}},
      {{"START 20\rABOUT\r"}, {"OK", about}},
      {{"START 20\r\n\r\n\r\nABOUT\r\n"}, {"OK", about}},
      {{"\n\n\r\rABOUT\n\r\n"}, {about}},
      {{"STA", "RT 20\r\n"}, {"OK"}},
      {{"START 20\r", "\nABOUT\r", "\n"}, {"OK", about}},
      {{"ABOUT"}, {}},
      {{"ABOUT", "\r\n"}, {about}},
      // A NUL ends what its read delivered.
      {{std::string("ABOUT\r\n\0BEGIN\r\n", 14)}, {about}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> got;
    for (const std::string& read : row.reads) {
      const auto replies = Send(read);
      got.insert(got.end(), replies.begin(), replies.end());
    }
    EXPECT_EQ(got, row.replies) << "first read: " << row.reads[0];
    Send("\r\n");  // whatever was left pending ends here
    out_.lines.clear();
  }
}

TEST_F(ProtocolTest, TurnSplitAcrossReadsIsOneLine) {
  EXPECT_TRUE(Send("TURN 1").empty());
  ExpectLegalMove("0,10\r\n");
  EXPECT_EQ(game().GameBoard.at(11, 11), Opponent);
  EXPECT_EQ(game().GameBoard.at(2, 1), Empty);
}

TEST_F(ProtocolTest, OverlongLinesAreSurvived) {
  const std::string junk(100000, 'Q');
  EXPECT_EQ(One(junk + "\r\n"), "UNKNOWN");
  // A long tail after a command does not hide the command.
  EXPECT_EQ(One("ABOUT" + junk + "\r\n"), AboutLine(game()));
  ExpectLegalMove("TURN 3,3" + junk + "\r\n");
  Send("BOARD\r\n");
  EXPECT_TRUE(Send(junk + "\r\n").empty());
  EXPECT_TRUE(Send("1,1," + junk + "\r\n").empty());
  ExpectLegalMove("DONE\r\n");
  EXPECT_EQ(One("ABOUT\r\n"), AboutLine(game()));
}

TEST_F(ProtocolTest, AGameOfTurnsKeepsEveryMoveLegal) {
  Send("START 20\r\nINFO timeout_turn 1000\r\nINFO timeout_match 180000\r\n");
  const int opponent[][2] = {{9, 9}, {10, 11}, {3, 17}, {0, 0}, {19, 19}, {12, 4}};
  for (const auto& m : opponent) {
    if (game().GameBoard.at(m[0] + 1, m[1] + 1) != Empty) continue;
    const int64_t start = clock_.now();
    ExpectLegalMove("TURN " + std::to_string(m[0]) + "," + std::to_string(m[1]) + "\r\n");
    // The engine keeps within the turn limit on its own clock.
    EXPECT_LT(clock_.now() - start, 1000);
  }
}

}  // namespace
}  // namespace kestrova
