// Ctrl-C and SIGTERM sent to the kestrova tool's running commands, through the binary: play
// ends its engine whatever it is doing. Every wait is on an event (a line printed, an engine
// told a command), bounded only generously.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "tests/engine_process.h"

namespace kestrova::testing {
namespace {

constexpr int64_t kPatienceMs = 60000;  // for events that come within a second or two

std::string TempPath(const std::string& name) {
  const std::string path =
      ::testing::TempDir() + "kestrova_signal_" + std::to_string(getpid()) + "_" + name;
  std::remove(path.c_str());
  return path;
}

std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Waits until the file has a line equal to text.
bool AwaitLine(const std::string& path, const std::string& text) {
  const int64_t deadline = MonotonicMs() + kPatienceMs;
  for (;;) {
    for (const std::string& line : FileLines(path))
      if (line == text) return true;
    if (MonotonicMs() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
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

// Every process whose id is in the file is gone (exited and reaped); returns their count.
int ExpectAllGone(const std::string& pids) {
  const std::vector<pid_t> started = PidsInFile(pids);
  for (pid_t pid : started) EXPECT_TRUE(ProcessGone(pid)) << "engine " << pid << " still runs";
  return int(started.size());
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
    EngineProcess tool(ToolPath() +
                       " play --turn 60000 --engine '" KESTROVA_FAKE_ENGINE_PATH " pid=" + pids +
                       " log=" + log + " " + row.engine + "' 2>&1");
    tool.Send(row.input);
    std::string output;
    ASSERT_TRUE(AwaitLine(log, row.told));
    if (*row.printed) {
      ASSERT_TRUE(AwaitOutput(tool, row.printed, output)) << output;
    }
    kill(tool.process().pid(), row.signal);
    output += tool.ReadAll(kPatienceMs);
    int code = -1;
    EXPECT_TRUE(tool.Exited(kPatienceMs, &code)) << output;
    EXPECT_EQ(code, 128 + row.signal) << output;
    EXPECT_NE(output.find("interrupted: the game is left unfinished and the engine ended"),
              std::string::npos)
        << output;
    EXPECT_EQ(ExpectAllGone(pids), 1);
  }
}

}  // namespace
}  // namespace kestrova::testing
