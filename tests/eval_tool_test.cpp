// kestrova eval through the built tool: its output is read by people and scripts, so the
// format is checked to the character, and bad input must fail with one line and status 2.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/engine_process.h"
#include "tools/subprocess.h"

namespace kestrova::testing {
namespace {

struct ToolRun {
  int status = -1;
  std::string output;
};

// Runs the tool with its stdin fed and closed. With mergeStderr, stdout and stderr arrive
// together, so a message on the wrong stream or an extra line shows up too.
ToolRun RunTool(const std::string& args, const std::string& input, bool mergeStderr) {
  ToolRun run;
  Subprocess tool;
  std::string error;
  std::string command = "'";
  command += ToolPath();
  command += "' " + args + (mergeStderr ? " 2>&1" : " 2>/dev/null");
  if (!tool.Start(Subprocess::Shell(command), &error)) {
    ADD_FAILURE() << "cannot start " << command << ": " << error;
    return run;
  }
  tool.Write(input);
  tool.CloseStdin();
  run.output = tool.ReadAll(20000);
  int status = 0;
  if (tool.Wait(20000, &status) && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

// A position in the tool's text form; stones given in protocol coordinates.
std::string Position(const std::vector<std::pair<int, int>>& x,
                     const std::vector<std::pair<int, int>>& o) {
  std::vector<std::string> rows(20, std::string(20, '.'));
  for (const auto& [px, py] : x) rows[py][px] = 'X';
  for (const auto& [px, py] : o) rows[py][px] = 'O';
  std::string text;
  for (const std::string& row : rows) text += row + "\n";
  return text;
}

TEST(EvalTool, TwoStonesExactOutput) {
  const std::string position = Position({{9, 9}, {9, 10}}, {});
  // The same position as a Windows editor saves it, and with blanks between the cells.
  std::string crlf, spaced;
  for (char c : position) {
    if (c == '\n') crlf += '\r';
    crlf += c;
    spaced += c;
    if (c != '\n') spaced += ' ';
  }
  for (const std::string& input : {position, crlf, spaced}) {
    const ToolRun run = RunTool("eval", input, false);
    EXPECT_EQ(run.status, 0);
    // The fifties along the pair, then the four cells where two diagonal thirties cross.
    EXPECT_EQ(run.output,
              "value 50\n"
              "9,7 50 2 0 1\n"
              "9,8 50 2 0 1\n"
              "9,11 50 2 0 1\n"
              "9,12 50 2 0 1\n"
              "10,10 42 2 1 1\n"
              "8,9 42 2 1 1\n"
              "10,9 42 2 1 1\n"
              "8,10 42 2 1 1\n")
        << input;
  }
}

TEST(EvalTool, SideToMoveSetsTheMoverFlagAndTheSignOfATie) {
  struct Row {
    std::string args, position, output;
  };
  const Row rows[] = {
      {"eval --to-move 3", Position({{9, 9}, {9, 10}}, {}),
       "value 50\n"
       "9,7 50 2 0 0\n"
       "9,8 50 2 0 0\n"
       "9,11 50 2 0 0\n"
       "9,12 50 2 0 0\n"
       "10,10 42 2 1 0\n"
       "8,9 42 2 1 0\n"
       "10,9 42 2 1 0\n"
       "8,10 42 2 1 0\n"},
      {"eval --to-move 3", Position({}, {{9, 9}, {9, 10}}),
       "value -50\n"
       "9,7 50 3 0 1\n"
       "9,8 50 3 0 1\n"
       "9,11 50 3 0 1\n"
       "9,12 50 3 0 1\n"
       "10,10 42 3 1 1\n"
       "8,9 42 3 1 1\n"
       "10,9 42 3 1 1\n"
       "8,10 42 3 1 1\n"},
      {"eval --to-move 2", Position({}, {{9, 9}, {9, 10}}),
       "value -50\n"
       "9,7 50 3 0 0\n"
       "9,8 50 3 0 0\n"
       "9,11 50 3 0 0\n"
       "9,12 50 3 0 0\n"
       "10,10 42 3 1 0\n"
       "8,9 42 3 1 0\n"
       "10,9 42 3 1 0\n"
       "8,10 42 3 1 0\n"},
      {"eval", Position({{4, 4}, {4, 5}, {4, 6}, {4, 7}, {4, 8}}, {}), "value 220\n"},
      {"eval --to-move 3", Position({}, {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}), "value -220\n"},
      {"eval", Position({}, {}), "value 0\n"},
  };
  for (const Row& row : rows) {
    const ToolRun run = RunTool(row.args, row.position, false);
    EXPECT_EQ(run.status, 0) << row.args;
    EXPECT_EQ(run.output, row.output) << row.args << "\n" << row.position;
  }
  // Two equal pairs: the tie leans a tenth toward the side to move.
  const std::string tie = Position({{9, 9}, {9, 10}}, {{2, 2}, {2, 3}});
  EXPECT_EQ(RunTool("eval", tie, false).output.substr(0, 8), "value 5\n");
  EXPECT_EQ(RunTool("eval --to-move 2", tie, false).output.substr(0, 8), "value 5\n");
  EXPECT_EQ(RunTool("eval --to-move 3", tie, false).output.substr(0, 9), "value -5\n");
}

TEST(EvalTool, MalformedInputFailsWithOneLine) {
  const std::string good = Position({{9, 9}}, {{3, 3}});
  std::string missingRow = good.substr(0, good.size() - 21);
  std::string longRow = good;
  longRow.insert(0, 1, '.');
  std::string shortRow = good;
  shortRow.erase(0, 1);
  std::string badChar = good;
  badChar[21 * 5 + 7] = 'Z';
  std::string extraRow = good + std::string(20, '.') + "\n";
  struct Row {
    const char* what;
    std::string args, input;
  };
  const Row rows[] = {
      {"19 rows", "eval", missingRow},
      {"21 rows", "eval", extraRow},
      {"no input", "eval", ""},
      {"row of 21 cells", "eval", longRow},
      {"row of 19 cells", "eval", shortRow},
      {"bad character", "eval", badChar},
      {"side to move 4", "eval --to-move 4", good},
      {"side to move missing", "eval --to-move", good},
      {"unknown option", "eval --fast", good},
  };
  for (const Row& row : rows) {
    const ToolRun run = RunTool(row.args, row.input, true);
    EXPECT_EQ(run.status, 2) << row.what;
    ASSERT_FALSE(run.output.empty()) << row.what;
    EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << row.what << ": " << run.output;
    EXPECT_EQ(run.output.rfind("kestrova eval: ", 0), 0u) << row.what << ": " << run.output;
  }
  // The same position, well formed, is accepted.
  EXPECT_EQ(RunTool("eval", good, true).status, 0);
}

}  // namespace
}  // namespace kestrova::testing
