#include "engine/protocol.h"

#include <algorithm>

#include "core/log.h"
#include "search/turn.h"

namespace kestrova {
namespace {

// Longer lines are cut: no command needs more, and input must not grow memory unbounded.
constexpr size_t kMaxLine = 4096;
constexpr int kBeginPauseMs = 100;
// Larger INFO values are clamped to this, so clock and memory arithmetic on them cannot
// overflow: as milliseconds it is 35,000 years, as bytes a petabyte, both "no limit".
constexpr int64_t kHugeInfoValue = int64_t(1) << 50;

// True when field is one number and nothing else: blanks, a sign, "$" or "%", digits.
bool WholeNumber(std::string_view field) {
  size_t k = field.find_first_not_of(" \t");
  if (k == std::string_view::npos) return false;
  if (field[k] == '-' || field[k] == '+') ++k;
  const char* digits = "0123456789";
  if (k < field.size() && field[k] == '$')
    digits = "0123456789abcdefABCDEF", ++k;
  else if (k < field.size() && field[k] == '%')
    digits = "01", ++k;
  return k < field.size() && field.find_first_not_of(digits, k) == std::string_view::npos;
}

// The value of an INFO line, clamped; false for a negative one or one that is no number,
// either of which means nothing.
bool InfoValue(std::string_view field, int64_t& value) {
  if (!WholeNumber(field)) return false;
  bool hasDigits = false, fits = false;
  const int64_t v = ParseNumber(field, &hasDigits, &fits);
  const size_t sign = field.find_first_not_of(" \t");
  const bool negative = fits ? v < 0 : sign != std::string_view::npos && field[sign] == '-';
  if (negative) return false;
  value = fits ? std::min(v, kHugeInfoValue) : kHugeInfoValue;
  return true;
}

// A line quoted in a reply: control bytes as '?', and no more than a reply needs.
std::string Printable(std::string_view line) {
  std::string text(line.substr(0, 40));
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return line.size() > 40 ? text + "..." : text;
}

}  // namespace

int64_t ParseNumber(std::string_view field, bool* hasDigits, bool* fits) {
  size_t k = 0;
  while (k < field.size() && (field[k] == ' ' || field[k] == '\t')) ++k;
  bool negative = false;
  if (k < field.size() && (field[k] == '-' || field[k] == '+')) negative = field[k++] == '-';
  unsigned base = 10;
  if (k < field.size() && field[k] == '$')
    base = 16, ++k;
  else if (k < field.size() && field[k] == '%')
    base = 2, ++k;
  uint64_t value = 0;  // unsigned, so overlong numbers wrap instead of overflowing
  bool any = false, wrapped = false;
  for (; k < field.size(); ++k) {
    const char c = field[k];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = unsigned(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = unsigned(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = unsigned(c - 'A' + 10);
    else
      break;
    if (digit >= base) break;
    wrapped = wrapped || value > (UINT64_MAX / 2 - digit) / base;
    value = value * base + digit;
    any = true;
  }
  if (hasDigits) *hasDigits = any;
  if (fits) *fits = !wrapped;
  return static_cast<int64_t>(negative ? 0 - value : value);
}

bool ParseCoordinate(std::string_view field, int32_t& value, int32_t size) {
  bool hasDigits = false, fits = false;
  const int64_t v = ParseNumber(field, &hasDigits, &fits);
  if (!hasDigits || !fits || v < 0 || v >= size) return false;
  value = static_cast<int32_t>(v);
  return true;
}

std::string_view Field(std::string_view text, char sep, int k) {
  for (int f = 1; f < k; ++f) {
    const size_t at = text.find(sep);
    if (at == std::string_view::npos) return {};
    text.remove_prefix(at + 1);
  }
  return text.substr(0, text.find(sep));
}

std::string AboutLine(const GameState& game) {
  return "name=\"Kestrova\", version=\"" + game.Version +
         "\", author=\"Orrin Tavel\", country=\"Valdoria\"";
}

std::string MoveReply(const TurnResult& move) {
  if (!move.played) return "ERROR " + move.error;
  return std::to_string(move.x) + "," + std::to_string(move.y);
}

bool CommandLoop::Feed(std::string_view bytes) {
  for (char c : bytes) {
    if (ended_) return false;
    if (c == '\r' || c == '\n') {
      // Blanks at the end are no part of the command; empty lines (and the LF of a CR LF)
      // are skipped.
      const size_t end = pending_.find_last_not_of(" \t");
      pending_.resize(end == std::string::npos ? 0 : end + 1);
      if (!pending_.empty()) {
        std::string line;
        line.swap(pending_);
        HandleLine(line);
      }
      continue;
    }
    if (pending_.size() < kMaxLine) pending_.push_back(c);
  }
  return !ended_;
}

void CommandLoop::HandleLine(std::string_view line) {
  // The whole first word names the command. A NUL belongs to no command: such a line is
  // unknown, or in board entry a stone line that is dropped.
  const bool hasNul = line.find('\0') != std::string_view::npos;
  const std::string_view word = hasNul ? std::string_view() : line.substr(0, line.find(' '));
  GameState& game = engine_.game;
  if (skippingBlock_) {
    // The stone lines of a block whose command was answered UNKNOWN belong to it, up to
    // its DONE: one reply for the whole block.
    const bool stoneLine = !word.empty() && word[0] >= '0' && word[0] <= '9';
    skippingBlock_ = stoneLine;
    if (stoneLine || word == "DONE") return;
  }
  if (word == "START") {
    BoardMode_ = 0;  // an unfinished BOARD block is given up: this is a new game
    Start(line);
  } else if (word == "BEGIN") {
    const int centre = game.boardSize / 2;
    if (game.GameBoard.at(centre + 1, centre + 1) == Empty) {
      out_.WriteLine(std::to_string(centre) + "," + std::to_string(centre));
      game.GameBoard.at(centre + 1, centre + 1) = Own;
      engine_.clock.SleepMs(kBeginPauseMs);
      // The manager's clock for our next move may have started during the pause.
      pauseMs_ = kBeginPauseMs;
    } else {
      AskForMove();  // the centre is taken: an opening there would be an illegal move
    }
  } else if (word == "TURN") {
    Turn(line);
  } else if (word == "RESTART") {
    out_.WriteLine("OK");
    NewGame(game.boardSize);
  } else if (word == "RECTSTART") {
    RectStart(line);
  } else if (word == "TAKEBACK") {
    Takeback(line);
  } else if (word == "PLAY") {
    Play(line);
  } else if (word == "INFO") {
    Info(line);
  } else if (word == "BOARD") {
    BoardMode_ = 1;
    ClearPlayingArea(game.GameBoard);  // BOARD hands over the whole position
  } else if (word == "DONE") {
    BoardMode_ = 0;
    AskForMove();
  } else if (word == "END") {
    Log("Shutting Down");
    ended_ = true;
  } else if (word == "ABOUT") {
    out_.WriteLine(AboutLine(game));
  } else if (BoardMode_ == 1) {
    StoneLine(line);
  } else {
    out_.WriteLine("UNKNOWN");
    skippingBlock_ = word == "SWAP2BOARD";
  }
}

void CommandLoop::Start(std::string_view line) {
  bool hasDigits = false;
  bool fits = false;
  int64_t size = ParseNumber(Field(line, ' ', 2), &hasDigits, &fits);
  if (!hasDigits) size = BoardSize;
  StartSized(fits, size);
}

void CommandLoop::RectStart(std::string_view line) {
  const std::string_view arg = Field(line, ' ', 2);
  bool hasWidth = false, hasHeight = false, widthFits = false, heightFits = false;
  const int64_t width = ParseNumber(Field(arg, ',', 1), &hasWidth, &widthFits);
  const int64_t height = ParseNumber(Field(arg, ',', 2), &hasHeight, &heightFits);
  if (!hasWidth || !hasHeight) {
    out_.WriteLine("ERROR malformed board size");
  } else if (width != height || widthFits != heightFits) {
    out_.WriteLine("ERROR rectangular boards are not supported");
  } else {
    StartSized(widthFits, width);
  }
}

void CommandLoop::StartSized(bool fits, int64_t size) {
  if (!fits || size < kMinBoardSize || size > BoardSize) {
    out_.WriteLine("ERROR unsupported board size");
    return;
  }
  out_.WriteLine("OK");
  NewGame(static_cast<int32_t>(size));
  Log("Total Templates: ", engine_.game.TemplateCount);
}

void CommandLoop::NewGame(int32_t size) {
  pauseMs_ = 0;
  BoardMode_ = 0;
  GameState& game = engine_.game;
  game.boardSize = size;
  ResetBoard(game.GameBoard, game.boardSize);
  game.LastOpponentMove = Move{};
  game.GameRunningTime = 0;  // each game has its own match clock
  game.msTimeLeft = -1;      // and the manager's figure for it is sent anew
  // Nothing the search learnt in the last game holds in this one; freeing the old tree
  // now keeps that work off the first move's clock.
  ResetTree(engine_.search);
}

bool CommandLoop::CellArgument(std::string_view line, int32_t& x, int32_t& y) {
  const std::string_view arg = Field(line, ' ', 2);
  // A missing number would otherwise read as 0 and name the corner.
  bool hasX = false, hasY = false;
  ParseNumber(Field(arg, ',', 1), &hasX);
  ParseNumber(Field(arg, ',', 2), &hasY);
  if (!hasX || !hasY) {
    out_.WriteLine("ERROR malformed coordinates");
    return false;
  }
  const int32_t n = engine_.game.boardSize;
  if (!ParseCoordinate(Field(arg, ',', 1), x, n) || !ParseCoordinate(Field(arg, ',', 2), y, n)) {
    out_.WriteLine("ERROR coordinates outside the board");
    return false;
  }
  return true;
}

bool CommandLoop::EmptyCellArgument(std::string_view line, int32_t& x, int32_t& y) {
  if (!CellArgument(line, x, y)) return false;
  if (engine_.game.GameBoard.at(x + 1, y + 1) != Empty) {
    out_.WriteLine("ERROR cell is occupied");
    return false;
  }
  return true;
}

void CommandLoop::Turn(std::string_view line) {
  int32_t x = 0, y = 0;
  if (!EmptyCellArgument(line, x, y)) return;
  GameState& game = engine_.game;
  game.LastOpponentMove = Move{x + 1, y + 1};
  game.GameBoard.at(x + 1, y + 1) = Opponent;
  AskForMove();
}

void CommandLoop::Takeback(std::string_view line) {
  int32_t x = 0, y = 0;
  if (!CellArgument(line, x, y)) return;
  GameState& game = engine_.game;
  if (game.GameBoard.at(x + 1, y + 1) == Empty) {
    out_.WriteLine("ERROR no stone to take back");
    return;
  }
  game.GameBoard.at(x + 1, y + 1) = Empty;
  // No subtree of the tree describes this position any more.
  engine_.search.resetPending = true;
  out_.WriteLine("OK");
}

void CommandLoop::Play(std::string_view line) {
  int32_t x = 0, y = 0;
  if (!EmptyCellArgument(line, x, y)) return;
  // Answered first, as BEGIN is: the reply names a cell of the position it was asked in.
  out_.WriteLine(std::to_string(x) + "," + std::to_string(y));
  engine_.game.GameBoard.at(x + 1, y + 1) = Own;
  // The move was not chosen by the search: its tree follows another game.
  engine_.search.resetPending = true;
}

void CommandLoop::Info(std::string_view line) {
  const std::string_view key = Field(line, ' ', 2);
  int64_t value = 0;
  const bool valid = InfoValue(Field(line, ' ', 3), value);
  if (key == "thread_num") {
    // At least one thread, at most one per core; anything else asks for the engine's default.
    SetThreads(engine_.search, valid && value >= 1 ? value : engine_.defaultThreads);
    SetMemoryLimit(engine_.search, engine_.game.MaxMemory);  // the helpers' scans count too
    return;
  }
  if (!valid) return;  // the previous value stays
  GameState& game = engine_.game;
  if (key == "timeout_turn") {
    game.msTurnTime = value;
    Log("msTurnTime: ", value);
  } else if (key == "timeout_match") {
    game.msMatchTime = value == 0 ? kNoMatchLimit : value;
    Log("timeout_match: ", game.msMatchTime);
  } else if (key == "max_memory") {
    game.MaxMemory = value;
    SetMemoryLimit(engine_.search, value);
  } else if (key == "time_left") {
    game.msTimeLeft = value;
    game.TimeLeftAt = engine_.clock.NowMs();
  } else if (key == "rule") {
    // Bit 0 asks for exactly five; any other bit (continuous games, renju) is a rule this
    // engine cannot play: the manager is told, and the game goes on as freestyle.
    game.rule = (value & 1) != 0 ? Rule::ExactFive : Rule::Freestyle;
    if ((value & ~int64_t(1)) != 0) {
      game.rule = Rule::Freestyle;
      out_.WriteLine("ERROR unsupported rule " + std::to_string(value));
    }
  }
}

void CommandLoop::StoneLine(std::string_view line) {
  int32_t x = 0, y = 0;
  GameState& game = engine_.game;
  const int32_t n = game.boardSize;
  const char* problem = nullptr;
  bool hasX = false, hasY = false, hasWho = false;
  ParseNumber(Field(line, ',', 1), &hasX);
  ParseNumber(Field(line, ',', 2), &hasY);
  const int64_t who = ParseNumber(Field(line, ',', 3), &hasWho);
  if (line.find('\0') != std::string_view::npos || !hasX || !hasY || !hasWho)
    problem = "not a stone line x,y,who";
  else if (!ParseCoordinate(Field(line, ',', 1), x, n) ||
           !ParseCoordinate(Field(line, ',', 2), y, n))
    problem = "off the board";
  else if (who != 1 && who != 2)
    problem = "who is neither 1 nor 2";
  else if (game.GameBoard.at(x + 1, y + 1) != Empty)
    problem = "the cell already has a stone";
  if (problem) {
    // The manager's position is not the one we play on: say so rather than drop it unseen.
    out_.WriteLine("MESSAGE stone line '" + Printable(line) + "' dropped: " + problem);
    return;
  }
  if (who == 1) {
    game.GameBoard.at(x + 1, y + 1) = Own;
  } else {
    game.GameBoard.at(x + 1, y + 1) = Opponent;
    game.LastOpponentMove = Move{x + 1, y + 1};
  }
}

void CommandLoop::AskForMove() {
  engine_.game.TurnStartTime = engine_.clock.NowMs() - pauseMs_;
  pauseMs_ = 0;
  out_.WriteLine(MoveReply(PlayTurn(engine_.game, engine_.search, engine_.clock)));
}

}  // namespace kestrova
