// The command loop: bytes from the manager in, replies out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/engine.h"
#include "search/turn.h"

namespace kestrova {

// Where replies go; each reply must reach the manager before the next line is handled.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  virtual void WriteLine(std::string_view text) = 0;  // adds CR LF and flushes
};

// A number as the protocol reads it: leading blanks, optional sign, then decimal digits,
// or hexadecimal after "$", or binary after "%". No digits reads as 0; a number too long
// for 64 bits wraps, and then *fits is false.
int64_t ParseNumber(std::string_view field, bool* hasDigits = nullptr, bool* fits = nullptr);

// A board coordinate 0..size-1 written in field; false for no number or any other value.
bool ParseCoordinate(std::string_view field, int32_t& value, int32_t size);

// Field k (from 1) of text cut at sep; empty past the last separator.
std::string_view Field(std::string_view text, char sep, int k);

class CommandLoop {
 public:
  CommandLoop(Engine& engine, ReplySink& out) : engine_(engine), out_(out) {}

  // Handles the bytes of one read. A line is handled once its end (CR LF, LF or CR)
  // has arrived, without its trailing blanks; a partial line waits for the next read, and
  // a NUL is a byte like any other. Returns false after END.
  bool Feed(std::string_view bytes);

  int32_t BoardMode() const { return BoardMode_; }

 private:
  void HandleLine(std::string_view line);
  void Turn(std::string_view line);
  void Takeback(std::string_view line);
  void Play(std::string_view line);
  // The x,y argument of line as board coordinates 0..size-1, or false after an ERROR reply.
  bool CellArgument(std::string_view line, int32_t& x, int32_t& y);
  // The same for a cell that must be empty.
  bool EmptyCellArgument(std::string_view line, int32_t& x, int32_t& y);
  void Start(std::string_view line);
  void RectStart(std::string_view line);
  void StartSized(bool fits, int64_t size);
  // START and RESTART: an empty size x size board, and nothing kept of the last game.
  void NewGame(int32_t size);
  void Info(std::string_view line);
  void StoneLine(std::string_view line);
  void AskForMove();

  Engine& engine_;
  ReplySink& out_;
  std::string pending_;
  int32_t BoardMode_ = 0;
  int64_t pauseMs_ = 0;  // BEGIN's pause, charged to the next move request
  bool ended_ = false;
  bool skippingBlock_ = false;  // inside the stone lines of a block answered UNKNOWN
};

std::string AboutLine(const GameState& game);

// The reply to a move request: "x,y", or "ERROR reason".
std::string MoveReply(const TurnResult& move);

}  // namespace kestrova
