#include "tools/args.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestrova::tools {

bool ParseReal(const std::string& text, double low, double high, double& value) {
  char* end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(parsed) || parsed < low || parsed > high)
    return false;
  value = parsed;
  return true;
}

bool ParseInteger(const std::string& text, int64_t low, int64_t high, int64_t& value) {
  // strtoll would skip leading blanks and take "+": a value is digits, with "-" at most.
  if (text.empty() || (text[0] != '-' && (text[0] < '0' || text[0] > '9'))) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || parsed < low || parsed > high)
    return false;
  value = parsed;
  return true;
}

namespace {

// A one-word option's check as the parser wants it: -1 when the word is good, else 0.
std::function<int(const std::vector<std::string>&)> OneWord(
    std::function<bool(const std::string&)> good) {
  return [good](const std::vector<std::string>& words) { return good(words[0]) ? -1 : 0; };
}

}  // namespace

void ArgParser::Flag(const std::string& name, bool& value, bool setTo) {
  options_.push_back({name, 0, "", [&value, setTo](const std::vector<std::string>&) {
                        value = setTo;
                        return -1;
                      }});
}

void ArgParser::Integer(const std::string& name, int64_t low, int64_t high, int64_t& value) {
  options_.push_back({name, 1,
                      "a whole number from " + std::to_string(low) + " to " + std::to_string(high),
                      OneWord([&value, low, high](const std::string& word) {
                        return ParseInteger(word, low, high, value);
                      })});
}

void ArgParser::Integer(const std::string& name, int64_t low, int64_t high, int& value) {
  options_.push_back({name, 1,
                      "a whole number from " + std::to_string(low) + " to " + std::to_string(high),
                      OneWord([&value, low, high](const std::string& word) {
                        int64_t parsed = 0;
                        if (!ParseInteger(word, low, high, parsed)) return false;
                        value = int(parsed);
                        return true;
                      })});
}

void ArgParser::Real(const std::string& name, double low, double high, double& value) {
  char expected[96];
  std::snprintf(expected, sizeof expected, "a number from %g to %g", low, high);
  options_.push_back({name, 1, expected, OneWord([&value, low, high](const std::string& word) {
                        return ParseReal(word, low, high, value);
                      })});
}

void ArgParser::Text(const std::string& name, std::string& value) {
  options_.push_back({name, 1, "a text that is not empty", OneWord([&value](const std::string& w) {
                        if (w.empty()) return false;
                        value = w;
                        return true;
                      })});
}

void ArgParser::Choice(const std::string& name, std::vector<std::string> choices,
                       std::string& value) {
  std::string expected;
  for (const std::string& c : choices) expected += (expected.empty() ? "" : " or ") + c;
  options_.push_back({name, 1, expected, OneWord([&value, choices](const std::string& word) {
                        for (const std::string& c : choices)
                          if (word == c) return value = c, true;
                        return false;
                      })});
}

void ArgParser::Custom(const std::string& name, int values, std::string expected,
                       std::function<int(const std::vector<std::string>&)> parse) {
  options_.push_back({name, values, std::move(expected), std::move(parse)});
}

const ArgParser::Option* ArgParser::Find(const std::string& name) const {
  for (const Option& o : options_)
    if (o.name == name) return &o;
  return nullptr;
}

int ArgParser::Refuse(const std::string& message) const {
  std::fprintf(stderr, "%s: %s\n", command_.c_str(), message.c_str());
  return 2;
}

std::optional<int> ArgParser::Parse(int argc, char** argv) {
  for (int k = 0; k < argc; ++k) {
    const std::string arg = argv[k];
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage_.c_str(), stdout);
      return 0;
    }
    const bool isOption = arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
    if (!isOption) {
      if (positionals_) {
        positionals_->push_back(arg);
        continue;
      }
      return Refuse("unexpected argument '" + arg + "' (--help lists the options)");
    }
    const Option* option = Find(arg);
    if (!option) return Refuse("unknown option " + arg + " (--help lists the options)");
    if (k + option->values >= argc) {
      return Refuse(arg + " needs " +
                    (option->values == 1 ? std::string("a value: ") : "two values: ") +
                    option->expected);
    }
    std::vector<std::string> words(argv + k + 1, argv + k + 1 + option->values);
    k += option->values;
    const int bad = option->parse(words);
    if (bad >= 0)
      return Refuse("bad value '" + words[size_t(bad)] + "' for " + arg + " (expected " +
                    option->expected + ")");
  }
  return std::nullopt;
}

}  // namespace kestrova::tools
