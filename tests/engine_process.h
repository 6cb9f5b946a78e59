// Drives a real engine binary through pipes, for end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tools/referee/subprocess.h"

namespace kestrova::testing {

// The engine command line: $KESTROVA_ENGINE, or the pbrain-kestrova of this build.
std::string EngineCommand();
// The kestrova tool of this build.
std::string ToolPath();

// A path private to this test process, not yet taken; TempFile writes it with the content.
std::string TempPath(const std::string& name);
std::string TempFile(const std::string& name, const std::string& content);
// The whole file ("" when there is none), and its lines.
std::string ReadFile(const std::string& path);
std::vector<std::string> FileLines(const std::string& path);

// The process ids that test engines appended to a file, one a line.
std::vector<pid_t> PidsInFile(const std::string& path);
// True once the process has exited and its parent has reaped it.
bool ProcessGone(pid_t pid);
// Every process whose id is in the file must be gone; returns their count.
int ExpectAllGone(const std::string& pids);

struct ToolRun {
  int exitCode = -1;   // -1 when it did not exit normally
  std::string output;  // stdout, and stderr unless kept apart
  std::string err;     // stderr kept apart
};
// This build's kestrova with a shell command line of arguments, fed input and then the end
// of its input.
ToolRun RunTool(const std::string& args, const std::string& input = "", bool stderrApart = false);
// A BOARD block: the engine's stones ("x,y", who 1), then the opponent's (who 2).
std::string BoardBlock(const std::vector<std::string>& own, const std::vector<std::string>& theirs);

// Succeeds when text holds piece; a failure shows both.
inline ::testing::AssertionResult Holds(const std::string& text, const std::string& piece) {
  if (text.find(piece) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no '" << piece << "' in\n" << text;
}

// The arguments as shell words, each quoted.
std::string Quoted(const std::vector<std::string>& args);

#ifdef KESTROVA_FAKE_ENGINE_PATH
// The scripted engine as one shell word; the referee runs it through the shell again, so the
// options may quote.
inline std::string FakeEngine(const std::string& options) {
  return "\"" KESTROVA_FAKE_ENGINE_PATH " " + options + "\"";
}
#endif

class EngineProcess {
 public:
  // Starts the engine; the test fails if it cannot.
  EngineProcess();
  explicit EngineProcess(const std::string& commandLine);

  // Sends bytes exactly as given, in one write.
  bool Send(std::string_view bytes) { return process_.Write(bytes); }
  // Next reply line (line end removed), or "<timeout>" / "<closed>".
  std::string Reply(int64_t timeoutMs = 10000);
  // Raw bytes until the engine closes stdout or the time is up.
  std::string ReadAll(int64_t timeoutMs) { return process_.ReadAll(timeoutMs); }
  // Waits for the engine to exit; true with its exit code when it exited normally.
  bool Exited(int64_t timeoutMs, int* exitCode);
  // Whether it exits normally with the code.
  bool ExitsWith(int code, int64_t timeoutMs = 10000) {
    int got = -1;
    return Exited(timeoutMs, &got) && got == code;
  }
  Subprocess& process() { return process_; }

 private:
  Subprocess process_;
};

}  // namespace kestrova::testing
