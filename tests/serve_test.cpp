// kestrova serve's API over loopback, the server in-process on an injected clock: whole games,
// takebacks, refused requests, the game limit and the idle timeout; and kestrova play on a
// smaller board through the binary.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "tests/engine_process.h"
#include "tools/serve_games.h"

namespace kestrova::testing {
namespace {

using nlohmann::json;
using namespace kestrova::serve;

std::string FakeEngine(const std::string& options) {
  return std::string(KESTROVA_FAKE_ENGINE_PATH) + " " + options;
}

std::string TempPath(const std::string& name) {
  const std::string path =
      ::testing::TempDir() + "kestrova_serve_" + std::to_string(getpid()) + "_" + name;
  std::remove(path.c_str());
  return path;
}

struct Response {
  int status = 0;
  json body;
};

// A GameTable behind a real server on a free loopback port, and a client for it.
class Served {
 public:
  explicit Served(const std::string& engine, int64_t turnMs = 1000)
      : table_(
            {.engine = engine, .turnMs = turnMs}, [this] { return now.load(); }, 7) {
    table_.Route(server_);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~Served() {
    server_.stop();
    thread_.join();
  }

  Response Call(const std::string& method, const std::string& path, const std::string& body = "") {
    httplib::Client client("127.0.0.1", port_);
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

  GameTable& table() { return table_; }
  std::atomic<int64_t> now = 0;

 private:
  GameTable table_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

// The lowest empty point of the game in reading order.
std::pair<int, int> FirstEmpty(const json& game) {
  std::set<std::pair<int, int>> taken;
  for (const json& m : game["moves"]) taken.insert({m["x"].get<int>(), m["y"].get<int>()});
  const int size = game["size"];
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x)
      if (!taken.count({x, y})) return {x, y};
  return {-1, -1};
}

TEST(Serve, WholeGameAgainstTheRandomMoverThenTakeBack) {
  Served served(KESTROVA_RANDOM_ENGINE);
  Response game = served.NewGame(R"({"size":7,"first":"engine"})");
  ASSERT_EQ(game.status, 201) << game.body;
  const std::string id = game.body["id"];
  ASSERT_EQ(game.body["moves"].size(), 1u);  // the engine opened
  EXPECT_EQ(game.body["you"], "white");
  while (!game.body["over"]) {
    const auto [x, y] = FirstEmpty(game.body);
    const size_t before = game.body["moves"].size();
    game = served.Move(id, x, y);
    ASSERT_EQ(game.status, 200) << game.body;
    const json& moves = game.body["moves"];
    ASSERT_GE(moves.size(), before + 1);
    EXPECT_EQ(moves[before]["x"], x);
    EXPECT_EQ(moves[before]["by"], "you");
    if (moves.size() == before + 2) {
      EXPECT_GE(moves.back()["ms"].get<int>(), 0);
    }
  }
  const json& moves = game.body["moves"];
  const std::string result = game.body["result"];
  if (game.body["five"].empty()) {
    EXPECT_EQ(moves.size(), 49u);
    EXPECT_EQ(result, "the board is full: a draw");
  } else {
    EXPECT_GE(game.body["five"].size(), 5u);
    EXPECT_NE(result.find("five in a row"), std::string::npos) << result;
  }
  EXPECT_EQ(game.body["turn"], "none");

  // Back to the person's last move, the game on again; the engine then answers from BOARD.
  const Response back = served.Call("POST", "/api/games/" + id + "/takeback");
  ASSERT_EQ(back.status, 200) << back.body;
  EXPECT_FALSE(back.body["over"]);
  EXPECT_EQ(back.body["five"].size(), 0u);
  EXPECT_EQ(back.body["turn"], "you");
  ASSERT_FALSE(back.body["moves"].empty());
  EXPECT_EQ(back.body["moves"].back()["by"], "engine");
  const auto [x, y] = FirstEmpty(back.body);
  const Response again = served.Move(id, x, y);
  EXPECT_EQ(again.status, 200) << again.body;
  EXPECT_GT(again.body["moves"].size(), back.body["moves"].size());
}

TEST(Serve, BadRequestsGetA4xxAndChangeNothing) {
  Served served(FakeEngine("row=19 fault=slow ms=600"));
  const Response created = served.NewGame();
  ASSERT_EQ(created.status, 201);
  const std::string id = created.body["id"];
  const std::string game = "/api/games/" + id;
  ASSERT_EQ(served.Move(id, 0, 0).status, 200);  // the engine answers 0,19
  const json before = served.Call("GET", game).body;

  struct Row {
    const char* method;
    std::string path, body;
    int status;
    const char* message;
  };
  const Row rows[] = {
      {"POST", "/api/games/0123456789abcdef/move", R"({"x":1,"y":1})", 404, "no such game"},
      {"GET", "/api/games/0123456789abcdef", "", 404, "no such game"},
      {"POST", game + "/move", R"({"x":0,"y":0})", 409, "a1 (0,0) is taken"},
      {"POST", game + "/move", R"({"x":0,"y":19})", 409, "is taken"},
      {"POST", game + "/move", R"({"x":20,"y":3})", 400, "off the 20x20 board"},
      {"POST", game + "/move", R"({"x":-1,"y":3})", 400, "off the"},
      {"POST", game + "/move", R"({"x":99999999999,"y":3})", 400, "off the"},
      {"POST", game + "/move", R"({"x":1,"y")", 400, "malformed JSON"},
      {"POST", game + "/move", R"({"x":"1","y":1})", 400, "whole numbers"},
      {"POST", game + "/move", R"([1,2])", 400, "malformed JSON"},
      {"POST", game + "/move", std::string(100000, '{'), 413, "too large"},
      {"POST", "/api/games", R"({"size":4})", 400, "size"},
      {"POST", "/api/games", R"({"first":"both"})", 400, "first"},
      {"POST", "/api/games", "not json", 400, "malformed JSON"},
      {"GET", "/api/nothing", "", 404, "no such page"},
  };
  for (const Row& row : rows) {
    const Response r = served.Call(row.method, row.path, row.body);
    EXPECT_EQ(r.status, row.status) << row.method << " " << row.path << " " << row.body;
    const std::string error = r.body.is_object() ? r.body.value("error", "") : "";
    EXPECT_NE(error.find(row.message), std::string::npos) << error;
  }
  EXPECT_EQ(served.Call("GET", game).body, before);
  EXPECT_EQ(served.table().GameCount(), 1u);

  // While the engine thinks the game takes no other move, takeback or resignation.
  auto thinking = std::async(std::launch::async, [&] { return served.Move(id, 1, 0); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(served.Call("GET", game).body["turn"], "engine");
  for (const char* action : {"/move", "/takeback", "/resign"}) {
    const Response r = served.Call("POST", game + action, R"({"x":2,"y":0})");
    EXPECT_EQ(r.status, 409) << action;
    EXPECT_EQ(r.body["error"], "the engine is thinking") << action;
  }
  const Response answered = thinking.get();
  EXPECT_EQ(answered.status, 200);
  EXPECT_EQ(answered.body["moves"].size(), 4u);

  // A resignation is final.
  EXPECT_EQ(served.Call("POST", game + "/resign").body["over"], true);
  for (const char* action : {"/move", "/takeback", "/resign"})
    EXPECT_EQ(served.Call("POST", game + action, R"({"x":2,"y":0})").status, 409) << action;
}

TEST(Serve, AnEngineThatFailsEndsTheGameWithTheReason) {
  const struct {
    const char* options;
    const char* result;
  } rows[] = {
      {"fault=occupied", "fake-engine 0.1 played 0,0, which is not a legal move: game over"},
      {"fault=say text=pass", "fake-engine 0.1 answered 'pass' instead of a move: game over"},
      {"fault=late ms=3000", "fake-engine 0.1 sent no move within 2100 ms: game over"},
      {"fault=crash", "fake-engine 0.1 stopped (killed by signal 6): game over"},
  };
  for (const auto& row : rows) {
    Served served(FakeEngine(row.options), 100);
    const std::string id = served.NewGame().body["id"];
    const Response r = served.Move(id, 0, 0);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body["over"], true);
    EXPECT_EQ(r.body["result"], row.result);
    EXPECT_EQ(r.body["moves"].size(), 1u);
    EXPECT_EQ(served.Call("POST", "/api/games/" + id + "/takeback").status, 409);
  }
}

TEST(Serve, FourGamesAtOnceAndIdleOnesEnded) {
  const std::string pids = TempPath("pids");
  Served served(FakeEngine("pid=" + pids));
  std::vector<std::string> ids;
  for (int k = 0; k < 4; ++k) {
    const Response r = served.NewGame();
    ASSERT_EQ(r.status, 201);
    ids.push_back(r.body["id"]);
  }
  const Response busy = served.NewGame();
  EXPECT_EQ(busy.status, 503);
  EXPECT_NE(busy.body.value("error", "").find("busy"), std::string::npos) << busy.body;

  // The first game is looked at just before the others have been left for ten minutes.
  served.now = 10 * 60 * 1000 - 1;
  EXPECT_EQ(served.Call("GET", "/api/games/" + ids[0]).status, 200);
  served.table().EndIdleGames();
  EXPECT_EQ(served.table().GameCount(), 4u);
  served.now = 10 * 60 * 1000;
  served.table().EndIdleGames();
  EXPECT_EQ(served.table().GameCount(), 1u);
  EXPECT_EQ(served.Call("GET", "/api/games/" + ids[1]).status, 404);
  EXPECT_EQ(served.Call("GET", "/api/games/" + ids[0]).status, 200);
  // Their engines are gone (ended and reaped), the kept game's still runs.
  std::ifstream in(pids);
  std::vector<pid_t> started;
  for (pid_t pid; in >> pid;) started.push_back(pid);
  ASSERT_EQ(started.size(), 4u);
  int running = 0;
  for (pid_t pid : started) running += kill(pid, 0) == 0;
  EXPECT_EQ(running, 1);

  EXPECT_EQ(served.NewGame().status, 201);
  EXPECT_EQ(served.Call("DELETE", "/api/games/" + ids[0]).status, 200);
  EXPECT_EQ(served.Call("DELETE", "/api/games/" + ids[0]).status, 404);
  EXPECT_EQ(served.table().GameCount(), 1u);
}

TEST(Play, SmallerBoardThroughThePipe) {
  const std::string log = TempPath("play.log");
  EngineProcess tool(ToolPath() + " play --size 7 --engine '" + FakeEngine("log=" + log) +
                     "' 2>&1");
  tool.Send("h1\na8\nb2\nq\n");
  tool.process().CloseStdin();
  const std::string output = tool.ReadAll(10000);
  for (const char* piece : {"     a  b  c  d  e  f  g \n  1 ", "  7  .  .  .  .  .  .  .  7\n",
                            "h1 is off the board (a..g, 1..7; 0..6 as x,y)", "a8 is off the board",
                            "you play b2 (1,1)", "fake-engine 0.1 plays a1 (0,0)"})
    EXPECT_NE(output.find(piece), std::string::npos) << piece << " in\n" << output;
  std::ifstream in(log);
  std::string first, second;
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_EQ(second, "START 7");
}

}  // namespace
}  // namespace kestrova::testing
