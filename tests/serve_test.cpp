// kestrova serve's API over loopback, the server in-process on an injected clock: whole games,
// takebacks, refused requests, the game limit and the idle timeout; and kestrova play on a
// smaller board through the binary.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>
#include <utility>

#include "tests/engine_process.h"
#include "tools/serve/serve_games.h"

namespace kestrova::testing {
namespace {

using nlohmann::json;
using namespace kestrova::serve;

struct Response {
  int status = 0;
  json body;
};

// A client of the API on a loopback port, a connection a request.
struct Client {
  Response Call(const std::string& method, const std::string& path, const std::string& body = "") {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(20, 0);
    const auto result = method == "GET"      ? client.Get(path)
                        : method == "DELETE" ? client.Delete(path)
                                             : client.Post(path, body, "application/json");
    if (!result) return {};
    return {result->status, json::parse(result->body, nullptr, false)};
  }
  Response NewGame(const std::string& body = "{}") { return Call("POST", "/api/games", body); }
  Response Move(const std::string& id, int x, int y) {
    return Call("POST", "/api/games/" + id + "/move", json{{"x", x}, {"y", y}}.dump());
  }
  // Waits until the game's engine is thinking.
  bool EngineThinks(const std::string& game) {
    for (int k = 0; k < 2000; ++k, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
      if (Call("GET", game).body["turn"] == "engine") return true;
    return false;
  }
  int port = 0;
};

// A GameTable behind a real server on a free loopback port, and a client for it.
struct Served : Client {
  explicit Served(const std::string& engine, int64_t turnMs = 1000)
      : table(
            {.engine = engine, .turnMs = turnMs}, [this] { return now.load(); }, 7) {
    table.Route(server);
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
  }
  ~Served() {
    server.stop();
    thread.join();
  }

  std::atomic<int64_t> now = 0;
  GameTable table;
  httplib::Server server;
  std::thread thread;
};

TEST(Serve, WholeGameAgainstTheRandomMoverThenTakeBack) {
  Served served(KESTROVA_RANDOM_ENGINE);
  Response game = served.NewGame(R"({"size":7,"first":"engine"})");
  ASSERT_EQ(game.status, 201) << game.body;
  ASSERT_EQ(game.body["moves"].size(), 1u);  // the engine opened
  const std::string id = game.body["id"];
  // The person fills the board in reading order around the random mover's stones.
  std::vector<json> before;  // the game as each of the person's moves found it
  int x = 0, y = 0;
  for (int i = 0; !game.body["over"]; ++i) {
    x = i % 7, y = i / 7;
    const Response r = served.Move(id, x, y);
    if (r.status == 409) continue;
    ASSERT_EQ(r.status, 200) << r.body;
    const size_t n = before.emplace_back(std::exchange(game, r).body)["moves"].size();
    ASSERT_GT(game.body["moves"].size(), n);
    EXPECT_EQ(game.body["moves"][n], (json{{"x", x}, {"y", y}, {"stone", "white"}, {"by", "you"}}));
  }
  EXPECT_EQ(game.body["turn"], "none");
  const char* end = game.body["five"].empty() ? "the board is full: a draw" : "five in a row";
  EXPECT_TRUE(Holds(game.body["result"].get<std::string>(), end)) << game.body;

  // Each takeback goes back to just before one of the person's moves, the game on again.
  for (size_t k = 1; k <= 2; ++k) {
    const Response back = served.Call("POST", "/api/games/" + id + "/takeback");
    EXPECT_EQ(back.status, 200);
    EXPECT_EQ(back.body, before[before.size() - k]);
  }
  const Response again = served.Move(id, x, y);
  ASSERT_EQ(again.status, 200) << again.body;
  // The engine answers from BOARD, unless the person's move won.
  EXPECT_TRUE(again.body["over"] || again.body["moves"].back()["by"] == "engine") << again.body;
}

TEST(Serve, BadRequestsGetA4xxAndChangeNothing) {
  // Slow enough that the requests made while it thinks all come before its reply.
  Served served(KESTROVA_FAKE_ENGINE_PATH " row=19 fault=slow ms=2000");
  const std::string id = served.NewGame().body["id"], game = "/api/games/" + id;
  ASSERT_EQ(served.Move(id, 0, 0).status, 200);  // the engine answers 0,19
  const json before = served.Call("GET", game).body;

  const std::string move = game + "/move", off = " is off the 20x20 board";
  // clang-format off
  const std::tuple<std::string, std::string, int, std::string> rows[] = {
      {"/api/games/0123456789abcdef/move", R"({"x":1,"y":1})", 404, "no such game"},
      {move, R"({"x":0,"y":0})", 409, "a1 (0,0) is taken"},
      {move, R"({"x":0,"y":19})", 409, "is taken"},
      {move, R"({"x":20,"y":3})", 400, "20,3" + off}, {move, R"({"x":-1,"y":3})", 400, "off the"},
      {move, R"({"x":99999999999,"y":3})", 400, "off the"},
      // Numbers past 64 bits, or past the signed ones, are named as sent.
      {move, R"({"x":99999999999999999999,"y":3})", 400, "99999999999999999999,3" + off},
      {move, R"({"x":18446744073709551615,"y":3})", 400, "18446744073709551615,3" + off},
      {move, R"({"x":3,"y":-99999999999999999999})", 400, "3,-99999999999999999999" + off},
      {move, R"({"x":7.5,"y":3})", 400, "whole numbers"},
      {move, R"({"x":1e30,"y":3})", 400, "whole"},
      {move, R"({"x":1,"y")", 400, "malformed JSON"}, {move, R"({"x":"1","y":1})", 400, "whole"},
      {move, std::string(100000, '{'), 413, "too large"},
      {"/api/games", R"({"size":4})", 400, "size"},
      {"/api/games", R"({"first":"both"})", 400, "first"},
      {"/api/games", "not json", 400, "malformed JSON"},
  };
  // clang-format on
  for (const auto& [path, body, status, message] : rows) {
    const Response r = served.Call("POST", path, body);
    EXPECT_EQ(r.status, status) << path << " " << body;
    const std::string error = r.body.is_object() ? r.body.value("error", "") : "";
    EXPECT_TRUE(Holds(error, message));
  }
  EXPECT_EQ(served.Call("GET", game).body, before);
  EXPECT_EQ(served.table.GameCount(), 1u);

  // While the engine thinks the game takes no other move, takeback or resignation.
  auto thinking = std::async(std::launch::async, [&] { return served.Move(id, 1, 0); });
  ASSERT_TRUE(served.EngineThinks(game));
  for (const char* action : {"/move", "/takeback", "/resign"}) {
    const Response r = served.Call("POST", game + action, R"({"x":2,"y":0})");
    EXPECT_EQ(r.status, 409) << action;
    EXPECT_EQ(r.body["error"], "the engine is thinking") << action;
  }
  EXPECT_EQ(thinking.get().body["moves"].size(), 4u);

  // A resignation is final.
  EXPECT_EQ(served.Call("POST", game + "/resign").body["over"], true);
  EXPECT_EQ(served.Call("POST", game + "/takeback").status, 409);
}

TEST(Serve, AnEngineThatFailsEndsTheGameWithTheReason) {
  const std::pair<const char*, const char*> rows[] = {
      {"fault=occupied", "played 0,0, which is not a legal move"},
      {"fault=say text=pass", "answered 'pass' instead of a move"},
      {"fault=late ms=3000", "sent no move within 2100 ms"},
      {"fault=crash", "stopped (killed by signal 6)"},
  };
  for (const auto& [options, fault] : rows) {
    Served served(KESTROVA_FAKE_ENGINE_PATH " " + std::string(options), 100);
    const std::string id = served.NewGame().body["id"];
    const Response r = served.Move(id, 0, 0);
    EXPECT_EQ(r.body["result"], "fake-engine 0.1 " + std::string(fault) + ": game over");
    EXPECT_EQ(served.Call("POST", "/api/games/" + id + "/takeback").status, 409);
  }
}

TEST(Serve, FourGamesAtOnceAndIdleOnesEnded) {
  const std::string pids = TempPath("pids");
  Served served(KESTROVA_FAKE_ENGINE_PATH " pid=" + pids);
  std::vector<std::string> ids;
  for (int k = 0; k < 4; ++k) ids.push_back(served.NewGame().body["id"]);
  const Response busy = served.NewGame();
  EXPECT_EQ(busy.status, 503);
  EXPECT_TRUE(Holds(busy.body.value("error", ""), "busy")) << busy.body;

  // The first game is looked at just before the others have been left for ten minutes.
  served.now = 10 * 60 * 1000 - 1;
  EXPECT_EQ(served.Call("GET", "/api/games/" + ids[0]).status, 200);
  served.table.EndIdleGames();
  EXPECT_EQ(served.table.GameCount(), 4u);
  served.now = 10 * 60 * 1000;
  served.table.EndIdleGames();
  EXPECT_EQ(served.table.GameCount(), 1u);
  EXPECT_EQ(served.Call("GET", "/api/games/" + ids[1]).status, 404);
  // Their engines are gone (ended and reaped), the kept game's still runs.
  const std::vector<pid_t> engines = PidsInFile(pids);
  EXPECT_EQ(engines.size(), 4u);
  EXPECT_EQ(std::count_if(engines.begin(), engines.end(), ProcessGone), 3);

  EXPECT_EQ(served.NewGame().status, 201);
  EXPECT_EQ(served.table.GameCount(), 2u);
}

struct RawReply {
  int status = 0;
  std::string allow;  // the Allow header
  json body;
};

// One request on a connection of its own, written by hand: httplib's client always sends a
// length, and a request without one is what is tested. body nullptr: no length at all.
RawReply RawRequest(int port, const std::string& method, const std::string& path,
                    const char* body) {
  std::string request =
      method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  if (body) request += "Content-Length: " + std::to_string(std::strlen(body)) + "\r\n";
  request += "\r\n" + std::string(body ? body : "");
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in address{AF_INET, htons(uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
  const timeval patience{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  std::string response;
  char chunk[4096];
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size()))
    for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;) response.append(chunk, size_t(n));
  close(fd);
  RawReply reply;
  std::smatch head, allow;
  if (!std::regex_search(response, head, std::regex(R"(^HTTP/1.1 (\d+)([\s\S]*?\r\n)\r\n)")))
    return reply;
  reply.status = std::stoi(head[1]);
  const std::string fields = head[2];
  if (std::regex_search(fields, allow, std::regex("\r\nAllow: ([^\r]*)"))) reply.allow = allow[1];
  reply.body = json::parse(head.suffix().str(), nullptr, false);
  return reply;
}

// A request without a body is one with an empty body, whichever way it says so; a known path
// asked with a method it does not take gets 405 and the methods it takes.
TEST(ServeMethods, EmptyBodiesAndWrongMethods) {
  Served served(KESTROVA_FAKE_ENGINE_PATH);
  const std::string id = served.NewGame().body["id"], game = "/api/games/" + id;
  struct Row {
    std::string method, path;
    const char* body;  // nullptr: no Content-Length
    int status;
    const char* allow;  // the Allow header of a 405
    const char* error;  // a part of the error, "" for a success
  } const rows[] = {
      {"POST", "/api/games", nullptr, 201, "", ""},
      {"POST", "/api/games", "", 201, "", ""},
      {"POST", game + "/takeback", nullptr, 409, "", "nothing to take back"},
      {"POST", game + "/move", nullptr, 400, "", "malformed JSON"},
      {"PUT", "/api/games", nullptr, 405, "POST", "PUT is not allowed on /api/games"},
      {"PUT", "/api/games", "{}", 405, "POST", "not allowed"},
      {"DELETE", "/api/games", nullptr, 405, "POST", "not allowed"},
      {"GET", game + "/move", nullptr, 405, "POST", "not allowed"},
      {"HEAD", game + "/resign", nullptr, 405, "POST", ""},
      {"PATCH", game, R"({"x":1})", 405, "GET, HEAD, DELETE", "not allowed"},
      {"POST", game, "{}", 405, "GET, HEAD, DELETE", "not allowed"},
      {"OPTIONS", game + "/move", nullptr, 405, "POST", "not allowed"},
      {"DELETE", "/", nullptr, 405, "GET, HEAD", "not allowed"},
      {"GET", "/nothing", nullptr, 404, "", "no such page"},
      {"POST", "/api/nothing", nullptr, 404, "", "no such page"},
      {"GET", game, nullptr, 200, "", ""},
      {"POST", game + "/resign", nullptr, 200, "", ""},
  };
  for (const Row& row : rows) {
    const RawReply reply = RawRequest(served.port, row.method, row.path, row.body);
    const std::string what = row.method + " " + row.path + (row.body ? " with a body" : "");
    EXPECT_EQ(reply.status, row.status) << what << ": " << reply.body;
    EXPECT_EQ(reply.allow, row.allow) << what;
    const std::string error = reply.body.is_object() ? reply.body.value("error", "") : "";
    EXPECT_TRUE(*row.error ? error.find(row.error) != std::string::npos : error.empty())
        << what << ": " << reply.body;
  }
  // The game was resigned by the request without a body; the two made without one are there.
  EXPECT_EQ(served.Call("GET", game).body["over"], true);
  EXPECT_EQ(served.table.GameCount(), 3u);
}

// Ending a game while its engine thinks stops the engine at once: it is gone when the DELETE
// returns, the waiting move request ends with the game, and its place is free.
TEST(Serve, DeleteWhileThinkingEndsTheEngine) {
  const std::string pids = TempPath("thinking.pids");
  Served served(KESTROVA_FAKE_ENGINE_PATH " fault=slow ms=60000 pid=" + pids, 120000);
  const std::string id = served.NewGame().body["id"], game = "/api/games/" + id;
  auto thinking = std::async(std::launch::async, [&] { return served.Move(id, 7, 7); });
  ASSERT_TRUE(served.EngineThinks(game));

  const Response ended = served.Call("DELETE", game);
  EXPECT_EQ(ended.status, 200) << ended.body;
  EXPECT_EQ(ExpectAllGone(pids), 1);
  EXPECT_EQ(served.table.GameCount(), 0u);
  ASSERT_EQ(thinking.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  const Response move = thinking.get();
  EXPECT_EQ(move.body["over"], true) << move.body;
  EXPECT_EQ(move.body["result"], "the game was ended") << move.body;
  EXPECT_EQ(served.Call("GET", game).status, 404);
}

TEST(Play, SmallerBoardThroughThePipe) {
  const std::string log = TempPath("play.log");
  const std::string output =
      RunTool("play --size 7 --engine " + FakeEngine("log=" + log), "h1\na8\nb2\nq\n").output;
  for (const char* piece :
       {"  7  .  .  .  .  .  .  .  7\n", "h1 is off the board (a..g, 1..7; 0..6 as x,y)",
        "a8 is off the board", "you play b2 (1,1)", "fake-engine 0.1 plays a1 (0,0)"})
    EXPECT_TRUE(Holds(output, piece));
  const std::string told = ReadFile(log);
  EXPECT_TRUE(Holds(told, "\nSTART 7\n"));
}

// A port another server listens on is refused, not shared.
TEST(Serve, RefusesAPortInUse) {
  httplib::Server first;
  const int port = first.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread listening([&] { first.listen_after_bind(); });
  const ToolRun second =
      RunTool("serve --port " + std::to_string(port) + " --engine " KESTROVA_FAKE_ENGINE_PATH);
  EXPECT_EQ(second.exitCode, 1) << second.output;
  EXPECT_TRUE(Holds(second.output, "cannot listen on 127.0.0.1 port " + std::to_string(port)));
  first.stop();
  listening.join();
}

// Ctrl-C stops the server without waiting for a thinking engine, and ends every engine.
TEST(Signals, ServeStopsAndEndsThinkingEngines) {
  const std::string pids = TempPath("serve.pids");
  EngineProcess tool(ToolPath() + " serve --port 0 --turn 120000 --engine '" +
                     KESTROVA_FAKE_ENGINE_PATH + " fault=slow ms=60000 pid=" + pids +
                     "' 2>&1 </dev/null");
  const std::string banner = tool.Reply(20000);
  int port = 0;
  ASSERT_EQ(std::sscanf(banner.c_str(), "kestrova serve: play at http://127.0.0.1:%d/", &port), 1)
      << banner;
  Client client{port};
  const Response game = client.NewGame();
  ASSERT_EQ(game.status, 201);
  const std::string id = game.body["id"];
  auto thinking = std::async(std::launch::async, [&] { return client.Move(id, 7, 7); });
  ASSERT_TRUE(client.EngineThinks("/api/games/" + id));
  kill(tool.process().pid(), SIGINT);
  const std::string output = tool.ReadAll(20000);
  EXPECT_TRUE(tool.ExitsWith(0)) << output;
  EXPECT_TRUE(Holds(output, "kestrova serve: stopped; ending 1 game(s)"));
  EXPECT_EQ(ExpectAllGone(pids), 1);
  thinking.wait();
}

}  // namespace
}  // namespace kestrova::testing
