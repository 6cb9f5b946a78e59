#include "tests/engine_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace kestrova::testing {

std::string EngineCommand() {
  const char* fromEnv = std::getenv("KESTROVA_ENGINE");
  return fromEnv && *fromEnv ? fromEnv : KESTROVA_ENGINE_PATH;
}

std::string ToolPath() {
#ifdef KESTROVA_TOOL_PATH
  return KESTROVA_TOOL_PATH;
#else
  return "kestrova-not-built";
#endif
}

std::vector<pid_t> PidsInFile(const std::string& path) {
  std::ifstream in(path);
  std::vector<pid_t> pids;
  for (pid_t pid; in >> pid;) pids.push_back(pid);
  return pids;
}

bool ProcessGone(pid_t pid) {
  return kill(pid, 0) != 0 && errno == ESRCH;
}

EngineProcess::EngineProcess() : EngineProcess(EngineCommand()) {}

EngineProcess::EngineProcess(const std::string& commandLine) {
  std::string error;
  if (!process_.Start(Subprocess::Shell(commandLine), &error))
    ADD_FAILURE() << "cannot start " << commandLine << ": " << error;
}

std::string EngineProcess::Reply(int64_t timeoutMs) {
  std::string line;
  switch (process_.ReadLine(line, timeoutMs)) {
    case Subprocess::ReadStatus::Line:
      return line;
    case Subprocess::ReadStatus::Timeout:
      return "<timeout>";
    case Subprocess::ReadStatus::Closed:
      return "<closed>";
  }
  return "<closed>";
}

bool EngineProcess::Exited(int64_t timeoutMs, int* exitCode) {
  int status = 0;
  if (!process_.Wait(timeoutMs, &status)) return false;
  if (!WIFEXITED(status)) return false;
  if (exitCode) *exitCode = WEXITSTATUS(status);
  return true;
}

}  // namespace kestrova::testing
