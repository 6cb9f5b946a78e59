#include "tools/tactics/puzzle_line.h"

#include <charconv>
#include <vector>

namespace kestrova::tactics {
namespace {

constexpr struct {
  Kind kind;
  const char* name;
  bool hasLength;
} kKinds[] = {{Kind::Vcf, "vcf", true},
              {Kind::Defend, "defend", true},
              {Kind::Lost, "lost", true},
              {Kind::Vct, "vct", true},
              {Kind::None, "none", false}};

std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    size_t end = at;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
    if (end > at) fields.push_back(text.substr(at, end - at));
    at = end;
  }
  return fields;
}

bool ParseInt(std::string_view text, int& value) {
  int64_t wide = 0;
  if (!ParseDecimal(text, wide) || wide > 1'000'000) return false;
  value = int(wide);
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// Fills row y of board from text; false with the reason in error.
bool ParseRow(std::string_view text, int y, int size, Board& board, std::string& error) {
  int x = 0;
  const std::string where = "row " + std::to_string(y + 1);
  for (size_t k = 0; k < text.size();) {
    const char c = text[k];
    if (c >= '0' && c <= '9') {
      size_t end = k;
      while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
      int run = 0;
      if (!ParseInt(text.substr(k, end - k), run) || run < 1 || run > size) {
        error = where + ": bad run of empty cells '" + std::string(text.substr(k, end - k)) + "'";
        return false;
      }
      x += run;
      k = end;
      if (x > size) break;
      continue;
    }
    if (c != '.' && c != 'x' && c != 'X' && c != 'o' && c != 'O') {
      error = where + ": unexpected character '" + std::string(1, c) + "' (x, o, . or a count)";
      return false;
    }
    if (x < size && c != '.') board.at(x + 1, y + 1) = (c == 'x' || c == 'X') ? Own : Opponent;
    ++x;
    ++k;
  }
  if (x != size) {
    error = where + " has " + std::to_string(x) + " cells, expected " + std::to_string(size);
    return false;
  }
  return true;
}

}  // namespace

bool ParseDecimal(std::string_view text, int64_t& value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::string FormatExpectation(const Expectation& e) {
  for (const auto& k : kKinds)
    if (k.kind == e.kind)
      return k.hasLength ? std::string(k.name) + ":" + std::to_string(e.length) : k.name;
  return "?";
}

std::optional<Expectation> ParseExpectation(std::string_view text) {
  const size_t colon = text.find(':');
  const std::string_view name = text.substr(0, colon);
  for (const auto& k : kKinds) {
    if (name != k.name) continue;
    Expectation e{k.kind, 0};
    if (!k.hasLength) return colon == std::string_view::npos ? std::optional(e) : std::nullopt;
    if (colon == std::string_view::npos || !ParseInt(text.substr(colon + 1), e.length) ||
        e.length < 1)
      return std::nullopt;
    return e;
  }
  return std::nullopt;
}

bool ParsePuzzleLine(std::string_view line, PuzzleLine& puzzle, bool& empty, std::string& error) {
  puzzle = PuzzleLine{};
  const size_t hash = line.find('#');
  if (hash != std::string_view::npos) {
    puzzle.comment = std::string(Trim(line.substr(hash + 1)));
    line = line.substr(0, hash);
  }
  const std::vector<std::string_view> fields = Fields(Trim(line));
  empty = fields.empty();
  if (empty) return false;
  if (fields.size() < 3 || fields.size() > 4) {
    error =
        "expected SIZE TOMOVE ROWS [EXPECTATION], got " + std::to_string(fields.size()) + " fields";
    return false;
  }
  int size = 0;
  if (!ParseInt(fields[0], size) || size < kMinBoardSize || size > BoardSize) {
    error = "board size '" + std::string(fields[0]) + "' is not " + std::to_string(kMinBoardSize) +
            " to " + std::to_string(BoardSize);
    return false;
  }
  if (fields[1] != "x" && fields[1] != "o") {
    error = "side to move '" + std::string(fields[1]) + "' is not x or o";
    return false;
  }
  puzzle.toMove = fields[1] == "x" ? Own : Opponent;
  std::vector<std::string_view> rows;
  for (std::string_view rest = fields[2];;) {
    const size_t slash = rest.find('/');
    rows.push_back(rest.substr(0, slash));
    if (slash == std::string_view::npos) break;
    rest = rest.substr(slash + 1);
  }
  if (int(rows.size()) != size) {
    error = "size " + std::to_string(size) + " but " + std::to_string(rows.size()) + " rows";
    return false;
  }
  ResetBoard(puzzle.board, size);
  for (int y = 0; y < size; ++y)
    if (!ParseRow(rows[y], y, size, puzzle.board, error)) return false;
  if (fields.size() == 4) {
    puzzle.expected = ParseExpectation(fields[3]);
    if (!puzzle.expected) {
      error = "expectation '" + std::string(fields[3]) +
              "' is not vcf:N, defend:N, lost:N, vct:N or none";
      return false;
    }
  }
  return true;
}

std::string FormatRows(const Board& board) {
  const int size = PlayingSize(board);
  std::string text;
  for (int y = 1; y <= size; ++y) {
    if (y > 1) text += '/';
    int run = 0;
    for (int x = 1; x <= size + 1; ++x) {
      const uint8_t c = x <= size ? board.at(x, y) : uint8_t(Wall);
      if (c == Empty) {
        ++run;
        continue;
      }
      if (run > 0) text += std::to_string(run);
      run = 0;
      if (x <= size) text += c == Own ? 'x' : 'o';
    }
  }
  return text;
}

std::string FormatPuzzleLine(const Board& board, uint8_t toMove,
                             const std::optional<Expectation>& expected,
                             const std::string& comment) {
  std::string line = std::to_string(PlayingSize(board));
  line += toMove == Own ? " x " : " o ";
  line += FormatRows(board);
  if (expected) {
    line += ' ';
    line += FormatExpectation(*expected);
  }
  if (!comment.empty()) {
    line += " # ";
    line += comment;
  }
  return line;
}

}  // namespace kestrova::tactics
