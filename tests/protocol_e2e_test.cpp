// The protocol through the real engine binary and pipes: only what in-process tests cannot
// show (writes split and merged as a pipe delivers them, the raw bytes of the replies, the
// exit). The engine may be another build (KESTROVA_ENGINE, for example the Windows one
// under wine), so every wait is generous.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/engine_process.h"
#include "tools/referee/game_rules.h"

namespace kestrova::testing {
namespace {

using namespace std::string_literals;

constexpr int64_t kReplyMs = 20000;
constexpr int64_t kExitMs = 10000;
const std::string kAbout = "name=\"Kestrova\", version=\"" KESTROVA_VERSION
                           "\", author=\"Orrin Tavel\", country=\"Valdoria\"\r\n";

// Each write is given time to arrive as a read of its own; then input ends by END or by
// closing the pipe, and the engine must exit with status 0 having written exactly output.
TEST(ProtocolE2E, RawRepliesToWritesAsAPipeDeliversThem) {
  // clang-format off
  const std::tuple<const char*, std::vector<std::string>, bool, std::string> rows[] = {
      // What, the writes, whether input then closes, the output.
      {"several lines in one write", {"START 20\r\nABOUT\r\nBEGIN\r\nHELLO\r\nEND\r\n"}, false,
       "OK\r\n" + kAbout + "10,10\r\nUNKNOWN\r\n"},
      {"a line split across writes, and CR LF too", {"STA", "RT 20\r", "\nABOUT\r", "\nEND\r\n"},
       false, "OK\r\n" + kAbout},
      {"LF, CR and empty lines",
       {"START 20\nABOUT\rHELLO\r\n\r\n\n\n\r\rSTART 21\n\rABOUT\n", "\r\n\r\nEND\n"}, false,
       "OK\r\n" + kAbout + "UNKNOWN\r\nERROR unsupported board size\r\n" + kAbout},
      {"bad input",
       {"START 20\r\nBEGIN\r\nSTART 4\r\nTURN 20,0\r\nTURN 10,10\r\nTURN\r\nstart 20\r\n",
        "ABOUT\r\nTURN 10,10\r\nEND\r\n"}, false,
       "OK\r\n10,10\r\nERROR unsupported board size\r\nERROR coordinates outside the board\r\n"
       "ERROR cell is occupied\r\nERROR malformed coordinates\r\nUNKNOWN\r\n" + kAbout +
       "ERROR cell is occupied\r\n"},
      {"smaller boards", {"START 15\r\nBEGIN\r\nTURN 15,0\r\nTURN 7,7\r\n",
                          "START 6\r\nBEGIN\r\nTURN 0,6\r\nEND\r\n"}, false,
       "OK\r\n7,7\r\nERROR coordinates outside the board\r\nERROR cell is occupied\r\n"
       "OK\r\n3,3\r\nERROR coordinates outside the board\r\n"},
      {"END in board entry", {"START 20\r\nBOARD\r\n1,1,1\r\nEND\r\nDONE\r\nABOUT\r\n"}, false,
       "OK\r\n"},
      {"a NUL is a byte of its line", {"ABOUT\0\r\nSTART 15\r\nTURN 7,7\0\r\nAB"s,
                                        "OUT\r\n\0\r\nEND\r\n"s}, false,
       "UNKNOWN\r\nOK\r\nUNKNOWN\r\n" + kAbout + "UNKNOWN\r\n"},
      {"trailing blanks", {"START 20 \r\nABOUT\t\r\nEND \t\r\nABOUT\r\n"}, false, "OK\r\n" + kAbout},
      {"START and END end a BOARD block; dropped stone lines are named",
       {"START 20\r\nBOARD\r\n7,7,1\r\n7,7,2\r\n30,1,1\r\n1,1,3\r\n1;1\r\n",
        "START 20\r\nDONEX\r\nBOARD\r\n3,3,2\r\nEND\r\nDONE\r\n"}, false,
       "OK\r\nMESSAGE stone line '7,7,2' dropped: the cell already has a stone\r\n"
       "MESSAGE stone line '30,1,1' dropped: off the board\r\n"
       "MESSAGE stone line '1,1,3' dropped: who is neither 1 nor 2\r\n"
       "MESSAGE stone line '1;1' dropped: not a stone line x,y,who\r\nOK\r\nUNKNOWN\r\n"},
      {"an empty board, by BOARD or DONE alone, opens in the centre",
       {"START 20\r\nBOARD\r\nDONE\r\nSTART 15\r\nDONE\r\nSTART 6\r\nBOARD\r\nDONE\r\nEND\r\n"},
       false, "OK\r\n10,10\r\nOK\r\n7,7\r\nOK\r\n3,3\r\n"},
      {"end of input", {"START 20\r\n"}, true, "OK\r\n"},
      {"end of input inside a line", {"START 20\r\nBOARD\r\n1,1,1\r\n2,2"}, true, "OK\r\n"}};
  // clang-format on
  for (const auto& [what, writes, closeInput, output] : rows) {
    EngineProcess engine;
    for (size_t k = 0; k < writes.size(); ++k) {
      if (k > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
      ASSERT_TRUE(engine.Send(writes[k])) << what;
    }
    if (closeInput) engine.process().CloseStdin();
    EXPECT_EQ(engine.ReadAll(kReplyMs), output) << what;
    EXPECT_TRUE(engine.ExitsWith(0, kExitMs)) << what;
  }
}

// A BOARD block of 1289 bytes in one write, longer than one read of the engine: no stone
// may be lost. The colours keep any five from lining up: along every direction
// (x + 2y) % 4 runs through both halves within five cells.
TEST(ProtocolE2E, BoardBlockLongerThanOneReadLosesNoStone) {
  std::string block = "BOARD\r\n";
  std::vector<std::pair<int, int>> cells;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) {
      const std::string line = std::to_string(x) + "," + std::to_string(y) + "," +
                               ((x + 2 * y) % 4 < 2 ? "1" : "2") + "\r\n";
      if ((x * 3 + y * 7) % 8 >= 3 || block.size() + line.size() + 6 > 1289) continue;
      block += line;
      cells.push_back({x, y});
    }
  block += "DONE\r\n";
  block.insert(7, 1289 - block.size(), '0');  // leading zeros read as the same number
  ASSERT_GT(cells.size(), 120u);

  EngineProcess engine;
  ASSERT_TRUE(engine.Send("START 20\r\n" + block));
  EXPECT_EQ(engine.Reply(kReplyMs), "OK");
  const auto move = referee::ParseEngineMove(engine.Reply(kReplyMs));
  ASSERT_TRUE(move && referee::OnBoard(*move));
  cells.push_back({move->x, move->y});
  // Every stone of the block, and the engine's move, must now be taken.
  std::string turns;
  for (const auto& [x, y] : cells)
    turns += "TURN " + std::to_string(x) + "," + std::to_string(y) + "\r\n";
  ASSERT_TRUE(engine.Send(turns));
  for (const auto& [x, y] : cells)
    EXPECT_EQ(engine.Reply(kReplyMs), "ERROR cell is occupied") << x << "," << y;
}

}  // namespace
}  // namespace kestrova::testing
