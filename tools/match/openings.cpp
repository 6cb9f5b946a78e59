#include "tools/match/openings.h"

#include <cctype>
#include <fstream>
#include <optional>

namespace kestrova::referee {
namespace {

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::optional<int> ParseOffset(std::string_view text) {
  text = Trim(text);
  const bool negative = !text.empty() && (text[0] == '-' || text[0] == '+');
  const std::string_view digits = negative ? text.substr(1) : text;
  if (digits.empty() || digits.size() > 2) return std::nullopt;
  int value = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return text[0] == '-' ? -value : value;
}

// A sign, or a word with more than one comma or ending in one: only the offset form has them.
bool IsOffsetForm(std::string_view line) {
  if (line.find_first_of("-+") != std::string_view::npos) return true;
  size_t commas = 0;
  for (size_t k = 0; k <= line.size(); ++k) {
    const bool wordEnds = k == line.size() || line[k] == ' ' || line[k] == '\t';
    if (!wordEnds) {
      commas += line[k] == ',';
      continue;
    }
    if (commas > 1 || (k > 0 && line[k - 1] == ',')) return true;
    commas = 0;
  }
  return false;
}

}  // namespace

bool ParseOpeningLine(std::string_view line, int size, Opening& opening, std::string& error) {
  line = Trim(line);
  if (line.empty() || line == "-" || !IsOffsetForm(line))
    return ParseOpening(line, opening, error, size);
  std::vector<int> numbers;
  for (size_t start = 0; start <= line.size();) {
    const size_t comma = std::min(line.find(',', start), line.size());
    const std::string_view part = line.substr(start, comma - start);
    start = comma + 1;
    if (comma == line.size() && Trim(part).empty() && !numbers.empty()) break;  // trailing comma
    const auto number = ParseOffset(part);
    if (!number) {
      error = "not an offset: '" + std::string(Trim(part)) + "'";
      return false;
    }
    numbers.push_back(*number);
  }
  if (numbers.size() % 2 != 0) {
    error = "an odd count of offsets: each stone takes x,y";
    return false;
  }
  const int centre = size / 2;
  std::string cells;
  for (size_t k = 0; k < numbers.size(); k += 2) {
    const Point p{centre + numbers[k], centre + numbers[k + 1]};
    if (!OnBoard(p, size)) {
      error = "offset " + std::to_string(numbers[k]) + "," + std::to_string(numbers[k + 1]) +
              " is off the " + std::to_string(size) + "x" + std::to_string(size) + " board";
      return false;
    }
    cells += ProtocolText(p) + " ";
  }
  if (ParseOpening(cells, opening, error, size)) return true;
  error += " (offsets from " + std::to_string(centre) + "," + std::to_string(centre) + ")";
  return false;
}

bool ReadOpeningsFile(const std::string& path, int size, std::vector<Opening>& openings,
                      std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string_view text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    Opening opening;
    if (!ParseOpeningLine(text, size, opening, error)) {
      error = path + ":" + std::to_string(number) + ": " + error;
      return false;
    }
    openings.push_back(opening);
  }
  if (openings.empty()) {
    error = path + " has no openings";
    return false;
  }
  return true;
}

}  // namespace kestrova::referee
