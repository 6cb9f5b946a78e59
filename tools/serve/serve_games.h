// kestrova serve's games: one GameSession per browser tab behind a small JSON API, at most a
// few at once, abandoned ones ended.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "tools/referee/game_session.h"

namespace httplib {
class Server;
}

namespace kestrova::serve {

struct ServeOptions {
  std::string engine;  // a command line for /bin/sh
  int64_t turnMs = 3000;
  int size = BoardSize;  // of a new game unless the page asks for another
  int rule = 0;          // what wins: 0 five or more, 1 exactly five
  int threads = 0;       // search threads of each engine; 0: one per core
  int maxGames = 4;
  int64_t idleMs = 10 * 60 * 1000;
  size_t maxBodyBytes = 4096;
};

// Milliseconds of some monotonic clock; injectable so tests can let games go idle.
using NowMs = std::function<int64_t()>;  // milliseconds, for game idleness

class GameTable {
 public:
  GameTable(const ServeOptions& options, NowMs clock, uint64_t seed);
  ~GameTable();  // ends every engine

  // The page at / and the API under /api.
  void Route(httplib::Server& server);
  // Ends the games nobody has asked about for options.idleMs.
  void EndIdleGames();
  // Stops every engine that is thinking now, its game ended: the server is stopping.
  void StopAll();
  size_t GameCount();

 private:
  struct Game;
  struct Reply {
    int status = 200;
    std::string body;
    const char* type = "application/json";
  };

  Reply NewGame(const std::string& body);
  Reply Move(const std::string& id, const std::string& body);
  Reply TakeBack(const std::string& id);
  Reply Resign(const std::string& id);
  Reply Show(const std::string& id);
  Reply End(const std::string& id);
  // The game's reply to the engine's turn, the engine asked without holding the game's lock.
  Reply EngineTurn(const std::shared_ptr<Game>& game, std::unique_lock<std::mutex>& lock);
  std::shared_ptr<Game> Find(const std::string& id);

  const ServeOptions options_;
  const NowMs clock_;
  std::mutex mutex_;  // guards what follows
  std::mt19937_64 rng_;
  std::map<std::string, std::shared_ptr<Game>> games_;
  int opening_ = 0;  // games whose engines are starting, counted against maxGames
};

// The page: HTML, CSS and script in one document.
const std::string& PageHtml();

}  // namespace kestrova::serve
