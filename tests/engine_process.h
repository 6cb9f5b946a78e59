// Drives a real engine binary through pipes, for end-to-end tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/referee/subprocess.h"

namespace kestrova::testing {

// The engine command line: $KESTROVA_ENGINE, or the pbrain-kestrova of this build.
std::string EngineCommand();
// The kestrova tool of this build.
std::string ToolPath();

// The process ids that test engines appended to a file, one a line.
std::vector<pid_t> PidsInFile(const std::string& path);
// True once the process has exited and its parent has reaped it.
bool ProcessGone(pid_t pid);

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
  Subprocess& process() { return process_; }

 private:
  Subprocess process_;
};

}  // namespace kestrova::testing
