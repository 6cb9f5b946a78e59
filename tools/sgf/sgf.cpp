#include "tools/sgf/sgf.h"

#include <fstream>
#include <sstream>

namespace kestrova::sgf {
namespace {

struct SgfCursor {
  std::string_view text;
  size_t at = 0;
  bool Done() const { return at >= text.size(); }
  void SkipSpace() {
    while (!Done() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t'))
      ++at;
  }
};

// A property's value, escapes undone; false when it never closes.
bool ReadValue(SgfCursor& c, std::string& value) {
  value.clear();
  for (++c.at; !c.Done(); ++c.at) {
    if (c.text[c.at] == '\\' && c.at + 1 < c.text.size()) {
      value += c.text[++c.at];
    } else if (c.text[c.at] == ']') {
      ++c.at;
      return true;
    } else {
      value += c.text[c.at];
    }
  }
  return false;
}

// The protocol's rule numbers, and names for people who write records by hand.
bool ParseRule(const std::string& value, Rule& rule) {
  if (value == "0" || value == "freestyle") {
    rule = Rule::Freestyle;
  } else if (value == "1" || value == "exact5") {
    rule = Rule::ExactFive;
  } else {
    return false;
  }
  return true;
}

bool ApplyProperty(const std::string& id, const std::string& value, RecordedGame& game,
                   std::string& error) {
  if (id == "SZ") {
    game.size = 0;
    for (char ch : value) {
      if (ch < '0' || ch > '9' || game.size > BoardSize) game.size = -1;
      if (game.size >= 0) game.size = game.size * 10 + (ch - '0');
    }
    if (game.size < kMinBoardSize || game.size > BoardSize || !game.moves.empty()) {
      error = "bad board size SZ[" + value + "] (5 to 20, before the moves)";
      return false;
    }
  } else if (id == "RU") {
    if (!ParseRule(value, game.rule) || !game.moves.empty()) {
      error = "unsupported rule RU[" + value + "] (0 or freestyle, 1 or exact5, before the moves)";
      return false;
    }
  } else if (id == "B" || id == "W") {
    // Letters past the board are kept: the replay names the move and shows the game up to it.
    if (value.size() != 2 || value[0] < 'a' || value[0] > 'z' || value[1] < 'a' ||
        value[1] > 'z') {
      error = "move " + std::to_string(game.moves.size() + 1) + " '" + value + "' is not a point";
      return false;
    }
    game.moves.push_back(
        {id == "B" ? Own : Opponent, Move{value[0] - 'a' + 1, value[1] - 'a' + 1}});
  } else if (id == "AB" || id == "AW" || id == "AE") {
    error = "setup stones (" + id + ") are not replayed";
    return false;
  }
  return true;
}

}  // namespace

bool ParseSgf(std::string_view text, std::vector<RecordedGame>& games, std::string& error) {
  SgfCursor c{text};
  for (c.SkipSpace(); !c.Done(); c.SkipSpace()) {
    if (text[c.at] != '(') {
      error = "expected '(' at byte " + std::to_string(c.at);
      return false;
    }
    ++c.at;
    RecordedGame game;
    std::string id, value;
    for (c.SkipSpace(); !c.Done() && text[c.at] != ')'; c.SkipSpace()) {
      const char ch = text[c.at];
      if (ch == ';') {
        ++c.at;
      } else if (ch == '(') {
        error = "game " + std::to_string(games.size() + 1) + ": variations are not replayed";
        return false;
      } else if (ch >= 'A' && ch <= 'Z') {
        id.clear();
        while (!c.Done() && text[c.at] >= 'A' && text[c.at] <= 'Z') id += text[c.at++];
        c.SkipSpace();
        if (c.Done() || text[c.at] != '[') {
          error = "property " + id + " has no value";
          return false;
        }
        while (!c.Done() && text[c.at] == '[') {
          if (!ReadValue(c, value)) {
            error = "property " + id + " never closes";
            return false;
          }
          std::string why;
          if (!ApplyProperty(id, value, game, why)) {
            error = "game " + std::to_string(games.size() + 1) + ": " + why;
            return false;
          }
          c.SkipSpace();
        }
      } else {
        error = "unexpected '" + std::string(1, ch) + "' at byte " + std::to_string(c.at);
        return false;
      }
    }
    if (c.Done()) {
      error = "game " + std::to_string(games.size() + 1) + " never closes";
      return false;
    }
    ++c.at;
    games.push_back(std::move(game));
  }
  return true;
}

bool ReadSgfFile(const std::string& path, std::vector<RecordedGame>& games, std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = "cannot be read";
    return false;
  }
  std::stringstream text;
  text << file.rdbuf();
  if (file.bad()) {
    error = "cannot be read";
    return false;
  }
  return ParseSgf(text.str(), games, error);
}

std::string SgfPoint(Move m) {
  return {char('a' + m.x - 1), char('a' + m.y - 1)};
}

Replay::Replay(const RecordedGame& game) : game_(game) { ResetBoard(board_, game.size); }

bool Replay::Next(std::string& error) {
  if (AtEnd()) {
    error = "no move left";
    return false;
  }
  const auto [side, move] = game_.moves[played_];
  const std::string name = "move " + std::to_string(played_ + 1) + " '" + SgfPoint(move) + "'";
  if (won_) {
    error = name + " comes after the five that ended the game";
  } else if (!InPlayingArea(move.x, move.y, game_.size)) {
    error = name + " is not a cell of the board";
  } else if (board_.at(move.x, move.y) != Empty) {
    error = name + " is on a taken cell";
  } else if (side != (played_ % 2 == 0 ? Own : Opponent)) {
    // Records start with black and alternate, the opening's stones included.
    error = name + " is out of turn: " + (side == Own ? "black" : "white") + " moved twice";
  } else {
    const int cell = move.x * kGrid + move.y;
    won_ = MakesFive(board_, cell, side, game_.rule);
    board_.cells[cell] = side;
    ++played_;
    return true;
  }
  return false;
}

bool Replayable(const RecordedGame& game, std::string& error) {
  Replay replay(game);
  while (!replay.AtEnd())
    if (!replay.Next(error)) return false;
  return true;
}

}  // namespace kestrova::sgf
