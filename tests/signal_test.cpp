// Ctrl-C and SIGTERM sent to the kestrova tool's running commands, through the binary: a
// match stops with the summary of its finished games and valid files, play ends its engine
// whatever it is doing, and an interrupted bench keeps every line it finished. Every wait is
// on an event (a line printed, an engine started), bounded only generously.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "tests/engine_process.h"

namespace kestrova::testing {
namespace {

constexpr int64_t kPatienceMs = 60000;  // for events that come within a second or two

// Waits until the file has a line equal to text, or (text empty) count lines at least.
bool AwaitFile(const std::string& path, size_t count, const std::string& text = "") {
  for (const int64_t deadline = MonotonicMs() + kPatienceMs; MonotonicMs() < deadline;) {
    const std::vector<std::string> lines = FileLines(path);
    if (text.empty() ? lines.size() >= count
                     : std::find(lines.begin(), lines.end(), text) != lines.end())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// Reads the tool's output until a line contains text, keeping all it read in output.
bool AwaitOutput(EngineProcess& tool, const std::string& text, std::string& output) {
  const int64_t deadline = MonotonicMs() + kPatienceMs;
  while (MonotonicMs() < deadline) {
    const std::string line = tool.Reply(deadline - MonotonicMs());
    if (line == "<closed>" || line == "<timeout>") return false;
    output += line + "\n";
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

const char* SignalName(int signal) {
  return signal == SIGINT ? "SIGINT" : "SIGTERM";
}

// Sends the signal and reads the rest of the output: the tool must exit with its status.
void ExpectStopsOn(int signal, EngineProcess& tool, std::string& output) {
  kill(tool.process().pid(), signal);
  output += tool.ReadAll(kPatienceMs);
  int code = -1;
  EXPECT_TRUE(tool.Exited(kPatienceMs, &code)) << output;
  EXPECT_EQ(code, 128 + signal) << output;
}

// A, along row 0, against B, along row 19: the games of the empty openings are won by black
// in a few moves; in those of the third opening B never answers, so they last until the
// signal. Colours alternate, so of the fast games A wins the odd-numbered ones.
TEST(Signals, MatchStopsWithTheSummaryOfItsFinishedGames) {
  struct Row {
    int signal;
    int concurrency;
    const char* waitFor;  // the last fast game to end before the signal
    int started;          // engines started by then: every game has begun
    const char* tally;
  } const rows[] = {
      // Game 3 hangs: two games finished.
      {SIGINT, 1, "game 2: ", 6, "A: 1 wins, 0 draws, 1 losses"},
      // Games 3 and 6 hang; 4 and 5, played beside them, finished and count too.
      {SIGTERM, 2, "game 5: ", 12, "A: 2 wins, 0 draws, 2 losses"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(SignalName(row.signal));
    const std::string openings = TempFile("openings", "-\n-\n4,4 5,5 6,6\n");
    const std::string pids = TempPath("pids");
    const std::string results = TempPath("results.json"), sgf = TempPath("games.sgf");
    EngineProcess tool(ToolPath() + " match " + FakeEngine("row=0 pid=" + pids) + " " +
                       FakeEngine("row=19 fault=silent when=4,4 pid=" + pids) + " --openings " +
                       openings + " --no-repeat --games 6 --turn 60000 --concurrency " +
                       std::to_string(row.concurrency) + " --force-concurrency --results " +
                       results + " --sgf " + sgf + " 2>&1");
    std::string output;
    ASSERT_TRUE(AwaitOutput(tool, row.waitFor, output)) << output;
    ASSERT_TRUE(AwaitFile(pids, size_t(row.started)));
    ExpectStopsOn(row.signal, tool, output);

    const int finished = row.concurrency == 1 ? 2 : 4;
    for (const std::string& piece :
         {std::string("game 3: A (black) vs B (white): not counted: stopped: the match was "
                      "interrupted"),
          "match interrupted (" + std::string(SignalName(row.signal)) + ") after " +
              std::to_string(finished) + " games",
          std::string(row.tally), std::string("Elo difference A - B: +0")})
      EXPECT_TRUE(Holds(output, piece));
    EXPECT_EQ(output.find("game 7"), std::string::npos) << output;
    EXPECT_EQ(ExpectAllGone(pids), row.started);

    // The files hold the finished games whole: the results merge, the SGF has each game.
    const std::string merged = RunTool("match --merge " + results).output;
    EXPECT_TRUE(Holds(merged, std::to_string(finished) + " games from 1 files"));
    EXPECT_TRUE(Holds(merged, row.tally));
    const std::string games = ReadFile(sgf);
    const std::regex whole(
        R"((\(;FF\[4\][^\n]*RE\[[BW]\+\][^\n]*\n(;[BW]\[[a-t]{2}\]C\[\d+ ms\]\n)+\)\n)*)");
    EXPECT_TRUE(std::regex_match(games, whole)) << games;
    const std::regex game(R"(\(;FF)");
    EXPECT_EQ(std::distance(std::sregex_iterator(games.begin(), games.end(), game), {}), finished)
        << games;
  }
}

// The engine is ended whether it is thinking (for far longer than the test waits) or waiting
// for the person's move; play says so and exits with the signal's status.
TEST(Signals, PlayEndsItsEngine) {
  struct Row {
    const char* name;
    int signal;
    const char* input;    // sent, with stdin left open
    const char* engine;   // the fake engine's options
    const char* told;     // the engine has been sent this line...
    const char* printed;  // ...and play has printed this one, if any
  } const rows[] = {
      {"thinking", SIGINT, "h8\n", "fault=slow ms=30000", "TURN 7,7", ""},
      {"waiting", SIGTERM, "", "", "INFO rule 0", "You play X"},
      {"waiting after a move", SIGINT, "h8\n", "", "TURN 7,7", "fake-engine 0.1 plays a1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string pids = TempPath("play.pids"), log = TempPath("play.log");
    EngineProcess tool(ToolPath() + " play --turn 60000 --engine " +
                       FakeEngine("pid=" + pids + " log=" + log + " " + row.engine) + " 2>&1");
    tool.Send(row.input);
    std::string output;
    ASSERT_TRUE(AwaitFile(log, 1, row.told));
    if (*row.printed) {
      ASSERT_TRUE(AwaitOutput(tool, row.printed, output)) << output;
    }
    ExpectStopsOn(row.signal, tool, output);
    EXPECT_TRUE(Holds(output, "interrupted: the game is left unfinished and the engine ended"));
    EXPECT_EQ(ExpectAllGone(pids), 1);
  }
}

// Stopped in the middle of its searches, bench leaves whole lines only, each one a finished
// position's.
TEST(Signals, BenchKeepsItsFinishedLines) {
  const std::string lines = TempPath("bench.out");
  // Searches long enough that the signal comes in the middle of one.
  EngineProcess tool(ToolPath() + " bench --iterations 300000 > " + lines);
  ASSERT_TRUE(AwaitFile(lines, 2));
  kill(tool.process().pid(), SIGINT);
  int status = 0;
  ASSERT_TRUE(tool.process().Wait(kPatienceMs, &status));
  EXPECT_TRUE(WIFSIGNALED(status) ? WTERMSIG(status) == SIGINT : WEXITSTATUS(status) == 130);
  const std::string text = ReadFile(lines);
  const std::regex finished(R"(( ?\d+: move \d+,\d+ nodes \d+ root visits 300000\n)+)");
  EXPECT_TRUE(std::regex_match(text, finished)) << text;
  const size_t count = FileLines(lines).size();
  EXPECT_TRUE(count >= 2 && count < 24) << text;
}

}  // namespace
}  // namespace kestrova::testing
