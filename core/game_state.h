// The program-wide game state: one instance, owned by main and passed by reference.
#pragma once

#include <cstdint>
#include <string>

#include "core/board.h"

namespace kestrova {

struct Move {
  int32_t x = 0;  // board indices: protocol coordinate plus 1
  int32_t y = 0;
};

// The match limit stored for a manager's "timeout_match 0": no game limit.
constexpr int64_t kNoMatchLimit = 10000000;

struct GameState {
  Board GameBoard{};
  int32_t boardSize = BoardSize;  // n of the n x n game START asked for
  Move LastOpponentMove;
  int64_t TurnStartTime = 0;
  int64_t msTurnTime = 0;
  int64_t msMatchTime = 0;  // 0 until the manager sends one; a sent 0 is stored as 10000000
  int64_t GameRunningTime = 0;
  // The manager's own figure for the game time left (INFO time_left), as of clock reading
  // TimeLeftAt; -1 until one is sent in this game.
  int64_t msTimeLeft = -1;
  int64_t TimeLeftAt = 0;
  Rule rule = Rule::Freestyle;
  int64_t MaxMemory = 0;  // bytes; 0 = no limit
  int32_t TemplateCount = 0;
  std::string Version = KESTROVA_VERSION;
};

}  // namespace kestrova
