#include "tests/engine_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

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

std::string TempPath(const std::string& name) {
  const std::string path =
      ::testing::TempDir() + "kestrova_" + std::to_string(getpid()) + "_" + name;
  std::remove(path.c_str());
  return path;
}

std::string TempFile(const std::string& name, const std::string& content) {
  const std::string path = TempPath(name);
  std::ofstream(path) << content;
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
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

int ExpectAllGone(const std::string& pids) {
  const std::vector<pid_t> started = PidsInFile(pids);
  for (pid_t pid : started) EXPECT_TRUE(ProcessGone(pid)) << "engine " << pid << " still runs";
  return int(started.size());
}

ToolRun RunTool(const std::string& args, const std::string& input, bool stderrApart) {
  const std::string err = TempPath("tool.stderr");
  EngineProcess tool(ToolPath() + " " + args + (stderrApart ? " 2>" + err : " 2>&1"));
  if (!input.empty()) tool.Send(input);
  tool.process().CloseStdin();
  ToolRun run;
  run.output = tool.ReadAll(180000);
  EXPECT_TRUE(tool.Exited(5000, &run.exitCode)) << args;
  if (stderrApart) run.err = ReadFile(err);
  return run;
}

std::string BoardBlock(const std::vector<std::string>& own,
                       const std::vector<std::string>& theirs) {
  std::string block = "BOARD\r\n";
  for (const std::string& cell : own) block += cell + ",1\r\n";
  for (const std::string& cell : theirs) block += cell + ",2\r\n";
  return block + "DONE\r\n";
}

std::string Quoted(const std::vector<std::string>& args) {
  std::string words;
  for (const std::string& arg : args) words += " '" + arg + "'";
  return words;
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
