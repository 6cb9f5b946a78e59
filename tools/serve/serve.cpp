// kestrova serve: the engine on a board in the browser, served from this machine.
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "tools/args.h"
#include "tools/commands.h"
#include "tools/serve/serve_games.h"
#include "tools/signals/stop_signals.h"

namespace kestrova::tools {
namespace {

using namespace kestrova::referee;
using namespace kestrova::serve;

constexpr const char* kServeUsage =
    "usage: kestrova serve [--port P] [--engine CMD] [--turn MS] [--size N] [--listen ADDR]\n"
    "                      [--rule R]\n"
    "  --port P       the port to listen on, 0 for any free one (default 8080)\n"
    "  --engine CMD   engine command line (default: pbrain-kestrova beside this tool)\n"
    "  --turn MS      the engine's time per move (default 3000)\n"
    "  --size N       the board size of a new game, 5 to 20 (default 20)\n"
    "  --listen ADDR  the address to listen on (default 127.0.0.1, this machine only)\n"
    "  --rule R       0: five or more wins (default); 1: exactly five wins\n"
    "  --no-threats   the default engine without its threat solver (the tree search alone)\n"
    "  --threads N    search threads each engine is told to use, 0 for one per core (default 0)\n";

struct ServeCommand {
  ServeOptions games;
  int port = 8080;
  std::string listen = "127.0.0.1";
  bool noThreats = false;
};

std::optional<int> ParseOptions(int argc, char** argv, ServeCommand& command) {
  ArgParser args("kestrova serve", kServeUsage);
  args.Integer("--port", 0, 65535, command.port);
  args.Text("--engine", command.games.engine);
  args.Text("--listen", command.listen);
  args.Integer("--turn", 1, INT32_MAX, command.games.turnMs);
  args.Integer("--size", kMinBoardSize, BoardSize, command.games.size);
  args.Integer("--rule", kFreestyle, kExactFive, command.games.rule);
  args.Flag("--no-threats", command.noThreats);
  args.Integer("--threads", 0, 1024, command.games.threads);
  return args.Parse(argc, argv);
}

}  // namespace

int Serve(int argc, char** argv) {
  ServeCommand command;
  if (const auto exit = ParseOptions(argc, argv, command)) return *exit;
  if (command.games.engine.empty()) {
    command.games.engine = EngineBesideTool();
    if (!command.games.engine.empty() && command.noThreats) command.games.engine += " --no-threats";
  }
  if (command.games.engine.empty()) {
    std::fprintf(stderr, "kestrova serve: no pbrain-kestrova beside this tool; use --engine CMD\n");
    return 2;
  }

  const auto start = std::chrono::steady_clock::now();
  GameTable table(
      command.games,
      [start] {
        return int64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count());
      },
      std::random_device{}());
  httplib::Server server;
  // Four games may each hold a request while their engines think; the page's other requests
  // and the browser's idle keep-alive connections need threads besides.
  server.new_task_queue = [] { return new httplib::ThreadPool(16); };
  table.Route(server);
  // SO_REUSEADDR only: with httplib's SO_REUSEPORT a second server on a port in use would
  // start and take half of the first one's requests.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const void*>(&yes), sizeof yes);
  });
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  // Ctrl-C and SIGTERM: thinking engines stop, the server stops, and every engine is ended on
  // the way out. Taken before any thread starts, so that every thread leaves them to it; a
  // signal that comes before the server runs is not lost on it, the next one stops it.
  StopSignals signals([&](int) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    wake.notify_all();
    table.StopAll();
    server.stop();
  });
  int port = command.port;
  if (port == 0) {
    port = server.bind_to_any_port(command.listen);
  } else if (!server.bind_to_port(command.listen, port)) {
    port = -1;
  }
  if (port < 0) {
    std::fprintf(stderr, "kestrova serve: cannot listen on %s port %d\n", command.listen.c_str(),
                 command.port);
    return 1;
  }
  std::printf("kestrova serve: play at http://%s:%d/ (Ctrl-C stops)\n", command.listen.c_str(),
              port);
  if (command.listen != "127.0.0.1")
    std::fprintf(stderr,
                 "kestrova serve: listening on %s: whoever reaches this port can start engines "
                 "on this machine\n",
                 command.listen.c_str());
  std::fflush(stdout);

  std::thread reaper([&] {
    std::unique_lock<std::mutex> lock(mutex);
    while (!wake.wait_for(lock, std::chrono::seconds(10), [&] { return stopping; })) {
      lock.unlock();
      table.EndIdleGames();
      lock.lock();
    }
  });
  const bool listened = signals.Stopped() || server.listen_after_bind();
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;  // also when the server stopped by itself
  }
  wake.notify_all();
  reaper.join();
  std::printf("kestrova serve: stopped; ending %zu game(s)\n", table.GameCount());
  return listened ? 0 : 1;
}

}  // namespace kestrova::tools
