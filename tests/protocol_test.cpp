// The command loop in-process: bytes in, replies and game state out, on a clock that
// only moves when the engine reads it. Each command and each parsing rule is tested here;
// the end-to-end tests add only what needs the real binary and pipes.
#include "engine/protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "core/board.h"
#include "core/clock.h"
#include "engine/engine.h"
#include "tests/fuzz/reply_check.h"
#include "tests/step_clock.h"
#include "tools/referee/game_rules.h"

namespace kestrova {
namespace {

const char* const kAbout = "name=\"Kestrova\", version=\"" KESTROVA_VERSION
                           "\", author=\"Orrin Tavel\", country=\"Valdoria\"";

// An engine and its command loop, which replies to it. Every clock reading moves the
// clock on by one step and sleeping costs nothing, so a test never waits and a search
// stops after a known number of readings.
struct Session final : ReplySink {
  void WriteLine(std::string_view text) override { replies.emplace_back(text); }
  // Feeds bytes as one read and returns the replies they caused.
  std::vector<std::string> Send(std::string_view bytes) {
    replies.clear();
    loop.Feed(bytes);
    return replies;
  }
  testing::StepClock clock{1};
  Engine engine{clock, 12345};
  CommandLoop loop{engine, *this};
  std::vector<std::string> replies;
};

class ProtocolTest : public ::testing::Test {
 protected:
  void TearDown() override { ExpectRingUntouched(); }
  // No input may write outside the playing area.
  void ExpectRingUntouched() {
    Board outside = game().GameBoard, walls{};
    ClearPlayingArea(outside);
    ResetBoard(walls, game().boardSize);
    ASSERT_TRUE(outside == walls) << "a write outside the playing area";
  }
  std::vector<std::string> Send(std::string_view bytes) { return s_->Send(bytes); }
  std::string One(std::string_view bytes) {
    const auto replies = Send(bytes);
    EXPECT_EQ(replies.size(), 1u) << "for " << bytes;
    return replies.empty() ? std::string("<none>") : replies.back();
  }
  // A move request: the answer names a cell that was empty and now holds the engine's
  // stone; besides it only the opponent's stone of a TURN may appear.
  std::string ExpectLegalMove(std::string_view bytes) {
    const Board before = game().GameBoard;
    const std::string reply = One(bytes);
    const auto move = referee::ParseEngineMove(reply);
    const int n = game().boardSize;
    EXPECT_TRUE(move && referee::OnBoard(*move, n)) << reply;
    if (!move || !referee::OnBoard(*move, n)) return reply;
    EXPECT_EQ(before.at(move->x + 1, move->y + 1), Empty) << reply << " was not empty";
    EXPECT_EQ(game().GameBoard.at(move->x + 1, move->y + 1), Own) << reply;
    int changed = 0;
    for (int k = 0; k < kCells; ++k) changed += game().GameBoard.cells[k] != before.cells[k];
    EXPECT_LE(changed, 2) << reply;
    return reply;
  }
  GameState& game() { return s_->engine.game; }

  std::unique_ptr<Session> s_ = std::make_unique<Session>();
};

TEST(ParseNumberTest, SignsBasesBlanksAndJunk) {
  // clang-format off
  const std::tuple<const char*, int64_t, bool> rows[] = {  // field, value, has digits
      {"12", 12, true}, {"  7", 7, true}, {"\t \t9", 9, true}, {"-3", -3, true}, {"+5", 5, true},
      {"007", 7, true}, {"12abc", 12, true}, {"1 2", 1, true}, {"$1F", 31, true}, {"$fG", 15, true},
      {"-$10", -16, true}, {"%1012", 5, true}, {"-%11", -3, true}, {"9999999999", 9999999999, true},
      {"", 0, false}, {"   ", 0, false}, {"abc", 0, false}, {"-", 0, false}, {"$", 0, false},
      {"$g", 0, false}, {"%", 0, false}, {"%2", 0, false}, {"--1", 0, false}, {"$-5", 0, false}};
  // clang-format on
  for (const auto& [field, value, hasDigits] : rows) {
    bool digits = !hasDigits;
    EXPECT_EQ(ParseNumber(field, &digits), value) << '"' << field << '"';
    EXPECT_EQ(digits, hasDigits) << '"' << field << '"';
  }
}

// What each command answers, fed as one read; "*" stands for a move on the board. Line ends,
// split lines, trailing blanks, NUL bytes and END are the end-to-end tests' rows.
TEST_F(ProtocolTest, Replies) {
  const std::string junk(100000, 'Q');
  // clang-format off
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      // A command is its whole first word.
      {"STARTLE 20\r\nSTAR 20\r\nABOUTFACE\r\nBEGINNER\r\nTURNIP 1,1\r\nDONEZO\r\n"
       "ENDS\r\nINFOS timeout_turn 5\r\nBOARDS\r\n1,1,1\r\nABOUT\r\n",
       {"UNKNOWN", "UNKNOWN", "UNKNOWN", "UNKNOWN", "UNKNOWN", "UNKNOWN", "UNKNOWN", "UNKNOWN",
        "UNKNOWN", "UNKNOWN", kAbout}},
      // A block the engine does not know gets one reply, its stone lines and DONE none; a
      // command ends it.
      {"SWAP2BOARD\r\n7,7\r\n8,8\r\nDONE\r\nSWAP2BOARD\r\n7,7\r\nABOUT\r\n8,8\r\n",
       {"UNKNOWN", "UNKNOWN", kAbout, "UNKNOWN"}},
      // Overlong lines are survived, and a long tail does not hide a command.
      {junk + "\r\nABOUT " + junk + "\r\nTURN 3,3 " + junk + "\r\nBOARD\r\n1,1,1" + junk
       + "\r\nDONE\r\n", {"UNKNOWN", kAbout, "*", "*"}},
      // Command words are exact and upper case.
      {{"start 20\r\n START 20\r\nStart 20\r\nabout\r\nrestart\r\nPLAYING 1,1\r\n0,10\r\nx\r\n"
        "ENDGAME\r\nend\r\n END\r\nEN\r\n"},
       std::vector<std::string>(12, "UNKNOWN")},
  };
  // clang-format on
  for (const auto& [read, replies] : rows) {
    s_ = std::make_unique<Session>();
    std::vector<std::string> got = Send(read);
    for (size_t k = 0; k < got.size() && k < replies.size(); ++k) {
      const auto move = referee::ParseEngineMove(got[k]);
      if (replies[k] == "*" && move && referee::OnBoard(*move)) got[k] = replies[k];
    }
    EXPECT_EQ(got, replies) << read.substr(0, 80);
    ExpectRingUntouched();
  }
}

// START n (5..20; no number means 20) starts an n x n game: walls round it, an empty board,
// a fresh game clock and tree, limits kept. Any other size is refused and changes nothing.
// Coordinates, BEGIN's centre and BOARD's stones follow the size; BOARD clears stones only.
TEST_F(ProtocolTest, StartSizesAndBoardReset) {
  Send("INFO timeout_turn 1000\r\nINFO timeout_match 180000\r\n");
  EXPECT_EQ(One("BEGIN\r\n"), "10,10");
  EXPECT_EQ(s_->clock.slept(), 100);  // BEGIN pauses after it answers
  // The manager may have sent the next move during the pause: that turn is 100 ms shorter
  // (900 ms of search, less the reserve of 100 ms).
  int64_t start = s_->clock.now();
  ExpectLegalMove("TURN 9,9\r\n");
  EXPECT_NEAR(s_->clock.now() - start, 800, 3);
  start = s_->clock.now();
  ExpectLegalMove("TURN 8,8\r\n");
  EXPECT_NEAR(s_->clock.now() - start, 900, 3);
  // START line, the size it starts (0: refused), BEGIN's reply on it.
  // clang-format off
  const std::tuple<const char*, int, const char*> rows[] = {
      {"START 15", 15, "7,7"}, {"START 4", 0, ""}, {"START 5", 5, "2,2"}, {"START 21", 0, ""},
      {"START", 20, "10,10"}, {"START -20", 0, ""},
      {"START 18446744073709551631", 0, ""}};  // 15 after wrapping
  // clang-format on
  for (const auto& [line, size, centre] : rows) {
    ExpectLegalMove("TURN 0,0\r\n");
    game().GameRunningTime = 77;  // time spent in this game so far
    const GameState before = game();
    if (size == 0) {
      EXPECT_EQ(One(std::string(line) + "\r\n"), "ERROR unsupported board size") << line;
      EXPECT_TRUE(game().GameBoard == before.GameBoard && game().boardSize == before.boardSize &&
                  game().GameRunningTime == before.GameRunningTime)
          << line;
      Send("START 20\r\n");
      continue;
    }
    EXPECT_EQ(One(std::string(line) + "\r\n"), "OK");
    Board fresh{};
    ResetBoard(fresh, size);
    EXPECT_TRUE(game().GameBoard == fresh && game().boardSize == size &&
                game().GameRunningTime == 0 && s_->engine.search.lastNodeIndex == 0)
        << line;
    EXPECT_TRUE(game().msTurnTime == 1000 && game().msMatchTime == 180000) << line;
    EXPECT_EQ(One("BEGIN\r\n"), centre) << line;
    const std::string edge = std::to_string(size);
    EXPECT_EQ(One("TURN " + edge + ",0\r\n"), "ERROR coordinates outside the board") << line;
    EXPECT_EQ(One("TURN 0," + edge + "\r\n"), "ERROR coordinates outside the board") << line;
    Send("BOARD\r\n" + edge + ",1,2\r\n1," + edge + ",1\r\n");
    ClearPlayingArea(fresh);
    EXPECT_TRUE(game().GameBoard == fresh) << line << ": old stones kept or off-board ones put";
    Send(std::to_string(size - 1) + "," + std::to_string(size - 1) + ",2\r\n");
    EXPECT_EQ(game().GameBoard.at(size, size), Opponent) << line;
    ExpectLegalMove("DONE\r\n");
  }
}

// The replies the fuzz target accepts: a move must name an empty cell of the board asked.
TEST(ReplyCheckTest, AcceptsOnlyProtocolFormsAndEmptyCells) {
  Board asked{};
  ResetBoard(asked, 15);
  asked.at(4, 4) = Own;
  asked.at(5, 5) = Opponent;
  const std::pair<const char*, bool> rows[] = {
      {"5,5", true},   {"4,4", false},    {"4,4\r", false},  {"14,14", true},     {"15,0", false},
      {"0,15", false}, {"03,1", false},   {"-1,2", false},   {"1,", false},       {"x", false},
      {"OK", true},    {"UNKNOWN", true}, {"ERROR ", false}, {"ERROR why", true}, {"2,3 ", false}};
  for (const auto& [reply, ok] : rows)
    EXPECT_EQ(testing::ReplyProblem(reply, asked, 15).empty(), ok) << reply;
  EXPECT_FALSE(testing::ReplyProblem("3,3", asked, 15).empty()) << "onto its own stone";
}

// INFO sets a limit and answers nothing. A value that is no number, or a negative one, means
// nothing; one past 64 bits or too large for the clock arithmetic is "no limit", under which
// the next move still comes in the usual time.
TEST_F(ProtocolTest, InfoSetsTheLimitsSilently) {
  constexpr int64_t kNone = int64_t(1) << 50;
  // clang-format off
  // Line, then msTurnTime, msMatchTime and MaxMemory after it.
  const std::tuple<const char*, int64_t, int64_t, int64_t> rows[] = {
      {"INFO timeout_turn 5000", 5000, 0, 0},
      {"INFO timeout_match 180000", 5000, 180000, 0},
      {"INFO timeout_match 0", 5000, 10000000, 0},  // no limit
      {"INFO timeout_turn 0", 0, 10000000, 0},
      {"INFO max_memory 367001600", 0, 10000000, 367001600},
      {"INFO time_left 1234", 0, 10000000, 367001600},
      {"INFO rule 1", 0, 10000000, 367001600},
      {"INFO", 0, 10000000, 367001600},
      {"INFO max_memory $", 0, 10000000, 367001600},
      {"INFO timeout_turn $3E8", 1000, 10000000, 367001600},
      {"INFO timeout_turn abc", 1000, 10000000, 367001600},
      {"INFO timeout_turn ", 1000, 10000000, 367001600},
      {"INFO timeout_turn 12ms", 1000, 10000000, 367001600},
      {"INFO timeout_match 30000000000", 1000, 30000000000, 367001600},
      {"INFO timeout_turn -1", 1000, 30000000000, 367001600},
      {"INFO max_memory -99999999999999999999", 1000, 30000000000, 367001600},
      {"INFO timeout_turn 9223372036854775807", kNone, 30000000000, 367001600},
      {"INFO timeout_match 18446744073709551615", kNone, kNone, 367001600},
      {"INFO max_memory 99999999999999999999", kNone, kNone, kNone},
  };
  // clang-format on
  for (const auto& [line, turn, match, memory] : rows) {
    EXPECT_TRUE(Send(std::string(line) + "\r\n").empty()) << line;
    EXPECT_TRUE(game().msTurnTime == turn && game().msMatchTime == match &&
                game().MaxMemory == memory)
        << line;
  }
  // The memory limit bounds the search tree.
  Send("INFO max_memory 0\r\n");
  const int64_t unbounded = s_->engine.search.maxNodes;
  Send("INFO max_memory 67108864\r\n");
  EXPECT_TRUE(s_->engine.search.maxNodes > 0 && s_->engine.search.maxNodes < unbounded);
  for (const char* key : {"timeout_turn", "timeout_match", "max_memory"}) {
    s_ = std::make_unique<Session>();
    Send("INFO timeout_turn 1000\r\nINFO timeout_match 180000\r\nINFO " + std::string(key) +
         " 9223372036854775807\r\n");
    const int64_t start = s_->clock.now();
    ExpectLegalMove("TURN 9,9\r\n");
    EXPECT_LE(s_->clock.now() - start, 7010) << key;
  }
}

// INFO thread_num asks for search threads: at least one, at most one per core; 0, a negative
// number or no number asks for the engine's default. The memory bound makes room for them.
TEST_F(ProtocolTest, ThreadNumSetsAndClampsTheSearchThreads) {
  const int cores = ClampThreads(0);
  Search& search = s_->engine.search;
  Send("INFO max_memory 367001600\r\n");
  const int64_t oneThreadNodes = search.maxNodes;
  // Line, then the threads it leaves, for the defaults 1 (a manager's) and 2 (--threads 2).
  const std::tuple<const char*, int, int> rows[] = {
      {"INFO thread_num 2", std::min(2, cores), std::min(2, cores)},
      {"INFO thread_num 0", 1, std::min(2, cores)},
      {"INFO thread_num 1", 1, 1},
      {"INFO thread_num 1000", cores, cores},
      {"INFO thread_num -1", 1, std::min(2, cores)},
      {"INFO thread_num many", 1, std::min(2, cores)},
      {"INFO thread_num", 1, std::min(2, cores)},
      {"INFO thread_num 99999999999999999999", cores, cores},
  };
  for (const int defaultThreads : {1, 2}) {
    s_->engine.defaultThreads = std::min(defaultThreads, cores);
    for (const auto& [line, one, two] : rows) {
      EXPECT_TRUE(Send(std::string(line) + "\r\n").empty()) << line;
      EXPECT_EQ(search.threads, defaultThreads == 1 ? one : two) << line;
    }
  }
  if (cores > 1) {
    Send("INFO thread_num 2\r\n");
    EXPECT_LT(search.maxNodes, oneThreadNodes);  // the helper's scan counts against the limit
  }
  // With more threads the engine still answers every request with a legal move.
  UseThreads(search, 2);
  Send("INFO timeout_turn 300\r\n");
  ExpectLegalMove("TURN 9,9\r\n");
  // The reply may well be 10,10 itself: the second move goes where the engine has not played.
  ExpectLegalMove(game().GameBoard.at(11, 11) == Empty ? "TURN 10,10\r\n" : "TURN 8,8\r\n");
}

// Between BOARD and DONE a line of three numbers places a stone (1 own, 2 the opponent's,
// which becomes the last move) on an empty cell; any other line is dropped with a MESSAGE
// that names it; commands stay commands.
TEST_F(ProtocolTest, BoardEntry) {
  // clang-format off
  // Line, the board cell it sets (or 0) and to what, then LastOpponentMove.
  const std::tuple<const char*, int, int, uint8_t, int, int> rows[] = {
      {"9,9,3", 0, 0, 0, 0, 0}, {"9,9,1", 10, 10, Own, 0, 0}, {"4,5,2", 5, 6, Opponent, 5, 6},
      {"0,0,1", 1, 1, Own, 5, 6}, {"19,19,2", 20, 20, Opponent, 20, 20},
      {"20,5,1", 0, 0, 0, 20, 20}, {"5,-1,1", 0, 0, 0, 20, 20}, {"3,3,0", 0, 0, 0, 20, 20},
      {"3,3", 0, 0, 0, 20, 20}, {",,2", 0, 0, 0, 20, 20},  // no number is no cell, not the corner
      {"4294967297,3,2", 0, 0, 0, 20, 20}, {"$a,%11,2", 11, 4, Opponent, 11, 4},
      {"INFO timeout_turn 777", 0, 0, 0, 11, 4}, {"ABOUT", 0, 0, 0, 11, 4},
      {"10,10,2", 11, 11, Opponent, 11, 11}, {"10,10,1", 0, 0, 0, 11, 11},  // taken
      {"9,9,1 ", 0, 0, 0, 11, 11}};  // already placed
  // clang-format on
  game().LastOpponentMove = Move{0, 0};
  EXPECT_TRUE(Send("BOARD\r\n").empty());
  for (const auto& [line, x, y, cell, lastX, lastY] : rows) {
    Board expected = game().GameBoard;
    if (x) expected.at(x, y) = cell;
    const auto replies = Send(std::string(line) + "\r\n");
    const std::string_view text = line;
    const bool dropped = x == 0 && !text.starts_with("INFO") && text != "ABOUT";
    EXPECT_EQ(replies.size(), dropped || text == "ABOUT" ? 1u : 0u) << line;
    if (dropped && !replies.empty()) {
      EXPECT_TRUE(replies[0].starts_with("MESSAGE stone line '" + std::string(text.substr(0, 5))))
          << replies[0];
    }
    EXPECT_TRUE(game().GameBoard == expected) << line;
    EXPECT_TRUE(game().LastOpponentMove.x == lastX && game().LastOpponentMove.y == lastY) << line;
    EXPECT_EQ(s_->loop.BoardMode(), 1);
  }
  EXPECT_EQ(game().msTurnTime, 777);
  ExpectLegalMove("DONE\r\n");
  EXPECT_EQ(s_->loop.BoardMode(), 0);
  ExpectLegalMove("BEGIN\r\n");  // the centre is taken: BEGIN must play elsewhere
  // START gives up an unfinished block: the lines after it are no stone lines.
  EXPECT_TRUE(Send("BOARD\r\n1,1,1\r\n").empty());
  EXPECT_EQ(Send("START 20\r\nx,y\r\n"), (std::vector<std::string>{"OK", "UNKNOWN"}));
  EXPECT_EQ(s_->loop.BoardMode(), 0);
  EXPECT_FALSE(s_->loop.Feed("END\r\n"));
}

TEST_F(ProtocolTest, TurnPlaysTheOpponentOrIsRefusedAndChangesNothing) {
  const std::string own = ExpectLegalMove("TURN 9,9\r\n");
  EXPECT_TRUE(game().GameBoard.at(10, 10) == Opponent && game().LastOpponentMove.x == 10 &&
              game().LastOpponentMove.y == 10 && game().TurnStartTime > 0);
  const std::string outside = "ERROR coordinates outside the board",
                    occupied = "ERROR cell is occupied", malformed = "ERROR malformed coordinates";
  // clang-format off
  const std::pair<std::string, std::string> rows[] = {
      // Rows the end-to-end test sends too are left to it.
      {"TURN 5,-1", outside}, {"TURN 4294967306,1", outside},  // not 10,1
      {"TURN 18446744073709551626,1", outside}, {"TURN " + own, occupied},
      {"TURN 5", malformed}, {"TURN ,5", malformed},
      {"TURN  9,9", malformed}};  // the argument is the empty field 2
  // clang-format on
  for (const auto& [line, reply] : rows) {
    const GameState before = game();
    const int64_t readings = s_->clock.now();
    EXPECT_EQ(One(line + "\r\n"), reply);
    EXPECT_TRUE(game().GameBoard == before.GameBoard && game().LastOpponentMove.x == 10 &&
                game().LastOpponentMove.y == 10 && game().TurnStartTime == before.TurnStartTime &&
                game().GameRunningTime == before.GameRunningTime)
        << "changed by " << line;
    EXPECT_EQ(s_->clock.now(), readings) << "no search for " << line;
  }
}

}  // namespace
}  // namespace kestrova
