// kestrova eval through the built tool: people and scripts read its output, so stdout is
// checked to the character; bad input fails with one line on stderr and status 2.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/engine_process.h"

namespace kestrova::testing {
namespace {

using Cells = std::vector<std::pair<int, int>>;

// A position in the tool's text form; stones in protocol coordinates.
std::string Position(const Cells& x, const Cells& o = {}, const char* lineEnd = "\n",
                     int size = 20) {
  std::vector<std::string> rows(size, std::string(size, '.'));
  for (const auto& [px, py] : x) rows[py][px] = 'X';
  for (const auto& [px, py] : o) rows[py][px] = 'O';
  std::string text;
  for (const std::string& row : rows) text += row + lineEnd;
  return text;
}

// The hand-worked list of a pair on (9,9) and (9,10): the fifties along the pair, then
// the four cells where two diagonal thirties of its side cross.
std::string PairList(int side, int mover) {
  std::string text = side == 2 ? "value 50\n" : "value -50\n";
  const char* cells[] = {"9,7", "9,8", "9,11", "9,12", "10,10", "8,9", "10,9", "8,10"};
  for (int k = 0; k < 8; ++k)
    text += std::string(cells[k]) + (k < 4 ? " 50 " : " 42 ") + std::to_string(side) +
            (k < 4 ? " 0 " : " 1 ") + std::to_string(mover) + "\n";
  return text;
}

// Each row: arguments, stdin, and then stdout for status 0, or the one stderr line (after
// "kestrova eval: ") for status 2.
TEST(EvalTool, OutputAndErrorsToTheCharacter) {
  const Cells pair = {{9, 9}, {9, 10}};
  const std::string good = Position({{9, 9}}, {{3, 3}});
  std::string badChar = good;
  badChar[21 * 5 + 7] = 'Z';
  // clang-format off
  const std::tuple<std::string, std::string, std::string, int> rows[] = {
      {"", Position(pair), PairList(2, 1), 0}, {"", Position(pair, {}, "\r\n"), PairList(2, 1), 0},
      {"--to-move 3", Position(pair), PairList(2, 0), 0},
      {"--to-move 3", Position({}, pair), PairList(3, 1), 0},
      {"", Position({{4, 4}, {4, 5}, {4, 6}, {4, 7}, {4, 8}}), "value 220\n", 0},
      {"--to-move 3", Position({}, {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}), "value -220\n", 0},
      {"", Position({}), "value 0\n", 0},
      {"", Position({{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}, {}, "\n", 5), "value 220\n", 0},
      {"", good.substr(0, good.size() - 21), "row 0 has 20 cells, expected 19 (one per row)", 2},
      {"", good + std::string(20, '.') + "\n", "expected 5 to 20 rows, got 21", 2},
      {"", Position({}, {}, "\n", 4), "expected 5 to 20 rows, got 4", 2},
      {"", "." + good, "row 0 has 21 cells, expected 20 (one per row)", 2},
      {"", badChar, "row 5 column 7: unexpected character 'Z'", 2},
      {"--to-move 4", good, "bad value '4' for --to-move (expected a whole number from 2 to 3)", 2},
      {"--to-move", good, "--to-move needs a value: a whole number from 2 to 3", 2},
      {"--fast", good, "unknown option --fast (--help lists the options)", 2}};
  // clang-format on
  for (const auto& [args, input, expected, exitStatus] : rows) {
    const ToolRun run = RunTool("eval " + args, input, true);
    EXPECT_EQ(run.exitCode, exitStatus) << args;
    EXPECT_EQ(run.output + "<stderr>" + run.err,
              exitStatus ? "<stderr>kestrova eval: " + expected + "\n" : expected + "<stderr>")
        << args << " <<\n"
        << input;
  }
}

// Every command refuses a value that is not wholly a number in range, and an unknown flag,
// naming both, with exit 2; --help prints the usage and exits 0. One parser serves every
// command, so each of its refusals is shown once (eval's are shown above to the character).
TEST(ToolArgs, StrictValuesAndHelpEverywhere) {
  // clang-format off
  const std::tuple<const char*, int, const char*> rows[] = {
      {"think --ms 100x", 2, "bad value '100x' for --ms"},
      {"think --ms 9000", 2, "bad value '9000' for --ms"},
      {"bench --iterations", 2, "--iterations needs a value"},
      {"play --turn ' 5'", 2, "bad value ' 5' for --turn"},
      {"serve --port 65536", 2, "bad value '65536' for --port"},
      {"match a b --sprt 0 inf", 2, "bad value 'inf' for --sprt"},
      {"match a b --sprt x 5", 2, "bad value 'x' for --sprt"},
      {"match a b --games 0", 2, "bad value '0' for --games"},
      {"match a b c", 2, "two engines are needed, 3 given"},
      {"match a b --colour red", 2, "unknown option --colour"},
      {"think --threads -1", 2, "bad value '-1' for --threads"},
      {"bench --threads 0", 2, "bad value '0' for --threads"},
      {"play --threads two", 2, "bad value 'two' for --threads"}};
  // clang-format on
  for (const auto& [args, exitCode, wanted] : rows) {
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.exitCode, exitCode) << args;
    EXPECT_TRUE(Holds(run.output, wanted)) << args;
  }
  // A full board leaves think no move: its error, and a failure.
  const ToolRun think = RunTool("think --ms 50 --threads 2", "XXOOX\nOOXXO\nXXOOX\nOOXXO\nXXOOX\n");
  EXPECT_EQ(think.exitCode, 1);
  EXPECT_TRUE(Holds(think.output, "kestrova think: no empty cell"));
  for (const std::string command : {"eval", "bench", "think", "match", "play", "serve"}) {
    const ToolRun help = RunTool(command + " --help", "", true);
    EXPECT_EQ(help.exitCode, 0) << command;
    EXPECT_EQ(help.output.rfind("usage: kestrova " + command, 0), 0u) << help.output;
  }
}

}  // namespace
}  // namespace kestrova::testing
