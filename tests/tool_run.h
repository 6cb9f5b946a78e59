// Runs the kestrova tool of this build end to end, for the tests of match and play.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::testing {

struct ToolRun {
  bool finished = false;  // exited before the time was up (it is killed otherwise)
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};

ToolRun RunTool(const std::vector<std::string>& args, const std::string& input, int64_t timeoutMs);

// The scripted engine's command line with the given options.
std::string FakeEngine(const std::string& options);

// A path of the temporary directory private to the running test.
std::string TestPath(const std::string& name);
void WriteFile(const std::string& path, const std::string& text);
std::vector<std::string> ReadLines(const std::string& path);
// The lines of text that start with prefix.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix);

}  // namespace kestrova::testing
