// One strict command-line parser for every kestrova command: a value is the whole argument
// or it is refused, and the message names the flag and the value.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::tools {

class ArgParser {
 public:
  // command as in messages ("kestrova think"); usage printed for --help and after errors.
  ArgParser(std::string command, std::string usage)
      : command_(std::move(command)), usage_(std::move(usage)) {}

  void Flag(const std::string& name, bool& value, bool setTo = true);
  void Integer(const std::string& name, int64_t low, int64_t high, int64_t& value);
  void Integer(const std::string& name, int64_t low, int64_t high, int& value);
  void Real(const std::string& name, double low, double high, double& value);
  void Text(const std::string& name, std::string& value);
  void Choice(const std::string& name, std::vector<std::string> choices, std::string& value);
  // An option of `values` words read by parse, which returns -1 when they are good, else
  // the index of the word to name in the refusal; expected says what it wants.
  void Custom(const std::string& name, int values, std::string expected,
              std::function<int(const std::vector<std::string>&)> parse);
  // Words that are no option go to positionals; without it they are refused.
  void Positionals(std::vector<std::string>& positionals) { positionals_ = &positionals; }

  // The exit status to return at once (0 after --help, 2 after a refusal), or nullopt
  // when the command should go on.
  std::optional<int> Parse(int argc, char** argv);

  // "kestrova think: <message>" on stderr; returns 2 for the caller to exit with.
  int Refuse(const std::string& message) const;

 private:
  struct Option {
    std::string name;
    int values = 1;
    std::string expected;
    std::function<int(const std::vector<std::string>&)> parse;
  };
  const Option* Find(const std::string& name) const;

  std::string command_, usage_;
  std::vector<Option> options_;
  std::vector<std::string>* positionals_ = nullptr;
};

// A whole decimal number within [low, high], nothing before or after it.
bool ParseInteger(const std::string& text, int64_t low, int64_t high, int64_t& value);
// A finite decimal number within [low, high], nothing before or after it.
bool ParseReal(const std::string& text, double low, double high, double& value);

}  // namespace kestrova::tools
