// One protocol engine as a child process, seen from the manager's side: every wait bounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/referee/game_rules.h"
#include "tools/referee/subprocess.h"

namespace kestrova::referee {

// An engine stopped in the middle of a move gets this long to act on END before it is
// killed: it is most likely still thinking, and someone is waiting for it to be gone.
constexpr int64_t kStopGraceMs = 300;

struct PlayedStone {
  Point at;
  Stone stone = Stone::None;
};

// BOARD, one x,y,who line per stone in the order played (1 = own's, 2 = the other's), DONE.
std::string BoardCommand(const std::vector<PlayedStone>& stones, Stone own);

struct MoveReply {
  // Memory and Stopped come only from an engine that is watched (see Watch).
  enum class Kind { Move, Malformed, Timeout, Closed, Memory, Stopped };
  Kind kind = Kind::Timeout;
  Point move;
  std::string text;  // the line as received, for Malformed
  int64_t elapsedMs = 0;
  int64_t residentBytes = -1;  // for Memory: what the engine and its children held
};

class EnginePlayer {
 public:
  // Starts the command line through /bin/sh; false with the reason in error.
  bool Launch(const std::string& commandLine, bool quietStderr, std::string& error);

  // ABOUT; the engine's "name version", or an empty string when it gives none in time.
  std::string About(int64_t timeoutMs);
  // START size (unless send is false: it went out already); true on OK, otherwise false
  // with what went wrong in failure. A late reply to ABOUT before it is skipped.
  bool Start(int64_t timeoutMs, std::string& failure, int size = BoardSize, bool send = true);
  void Info(const std::string& key, int64_t value);

  // From now on Ask samples the resident memory of the engine with its children while it
  // thinks and at its reply, and answers Memory once that exceeds memoryLimitBytes (0: no
  // limit); it answers Stopped soon after *stop becomes true (nullptr: never), and About and
  // Start give up as if the engine were silent.
  void Watch(int64_t memoryLimitBytes, const std::atomic<bool>* stop);
  bool Stopped() const { return stop_ && stop_->load(); }

  // Sends the commands (which must end in one that asks for a move) and waits at most
  // timeoutMs for the move. The time counts from the moment the commands are written.
  MoveReply Ask(const std::string& commands, int64_t timeoutMs);

  // Sends END; Finish then gives the engine until deadlineMs (monotonic) to exit and kills
  // it after that, and whatever it left running in its process group. Split in two so both
  // engines of a game can be ended at once.
  void SendEnd();
  void Finish(int64_t deadlineMs);

  // "exited with status 3", "was killed by signal 11", or "" while it still runs.
  std::string DescribeExit();
  // The larger of the process's own peak and the largest sample of it with its children.
  int64_t PeakResidentBytes() const;

 private:
  // Next line that is not an informational MESSAGE or DEBUG line; Timeout as well soon after
  // the stop flag turns true.
  Subprocess::ReadStatus ReadReply(std::string& line, int64_t deadlineMs);

  // Kind::Memory when the engine is over its limit now, else Kind::Move.
  MoveReply::Kind SampleMemory(int64_t& residentBytes);

  Subprocess process_;
  bool launched_ = false;
  int64_t memoryLimitBytes_ = 0;
  const std::atomic<bool>* stop_ = nullptr;
  int64_t sampledPeakBytes_ = -1;
};

// The name and version of an ABOUT line (name="X", version="Y", ...): "X Y".
std::string NameFromAbout(const std::string& about);

}  // namespace kestrova::referee
