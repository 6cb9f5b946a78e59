#include "tests/tool_run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/engine_process.h"
#include "tools/subprocess.h"

namespace kestrova::testing {

ToolRun RunTool(const std::vector<std::string>& args, const std::string& input, int64_t timeoutMs) {
  // Through the shell only to merge stderr into stdout; "$@" keeps every argument intact.
  std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", ToolPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  ToolRun run;
  Subprocess tool;
  std::string error;
  if (!tool.Start(argv, &error)) {
    ADD_FAILURE() << "cannot start the tool: " << error;
    return run;
  }
  const int64_t deadline = MonotonicMs() + timeoutMs;
  tool.Write(input);
  tool.CloseStdin();
  run.output = tool.ReadAll(timeoutMs);
  int status = 0;
  if (tool.Wait(std::max<int64_t>(0, deadline - MonotonicMs()), &status)) {
    run.finished = true;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return run;  // the destructor kills a tool that is still running
}

std::string FakeEngine(const std::string& options) {
  return std::string(KESTROVA_FAKE_ENGINE_PATH) + " " + options;
}

std::string TestPath(const std::string& name) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string test = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : test)
    if (c == '/') c = '_';
  const auto dir = std::filesystem::temp_directory_path() /
                   ("kestrova_match_tests_" + std::to_string(getpid())) / test;
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::trunc) << text;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  return lines;
}

}  // namespace kestrova::testing
