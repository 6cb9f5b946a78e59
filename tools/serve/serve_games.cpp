#include "tools/serve/serve_games.h"

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace kestrova::serve {
namespace {

using nlohmann::json;
using namespace kestrova::referee;

constexpr const char* kJson = "application/json";

json Error(const std::string& message) {
  return json{{"error", message}};
}

const char* StoneName(Stone s) {
  return s == Stone::Black ? "black" : "white";
}

// An integer field of a request, or std::nullopt when it is absent or not a whole number.
std::optional<int64_t> IntegerField(const json& request, const char* key) {
  const auto it = request.find(key);
  if (it == request.end() || !it->is_number_integer()) return std::nullopt;
  return it->get<int64_t>();
}

}  // namespace

struct GameTable::Game {
  std::string id;
  std::mutex mutex;  // guards session, except its engine process while thinking
  GameSession session;
  std::atomic<bool> thinking = false;
  std::condition_variable thought;  // thinking turned false
  std::atomic<bool> ended = false;  // the engine's waits give up: the game is being ended
  std::atomic<int64_t> lastSeenMs = 0;

  json State() const {
    json moves = json::array();
    for (const SessionMove& m : session.moves()) {
      json move{{"x", m.at.x},
                {"y", m.at.y},
                {"stone", StoneName(m.stone)},
                {"by", m.stone == session.human() ? "you" : "engine"}};
      if (m.thinkingMs >= 0) move["ms"] = m.thinkingMs;
      moves.push_back(move);
    }
    json five = json::array();
    for (const Point& p : session.fiveCells()) five.push_back({p.x, p.y});
    const char* turn = thinking || session.EngineToMove() ? "engine"
                       : session.over()                   ? "none"
                                                          : "you";
    return json{{"id", id},
                {"size", session.options().size},
                {"you", StoneName(session.human())},
                {"engine", session.EngineName()},
                {"turnMs", session.options().turnMs},
                {"moves", moves},
                {"turn", turn},
                {"over", session.over()},
                {"result", session.result()},
                {"five", five}};
  }
};

GameTable::GameTable(const ServeOptions& options, NowMs clock, uint64_t seed)
    : options_(options), clock_(std::move(clock)), rng_(seed) {}

GameTable::~GameTable() = default;

size_t GameTable::GameCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return games_.size();
}

void GameTable::EndIdleGames() {
  std::vector<std::shared_ptr<Game>> ended;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const int64_t now = clock_();
    for (auto it = games_.begin(); it != games_.end();) {
      if (!it->second->thinking && now - it->second->lastSeenMs >= options_.idleMs) {
        ended.push_back(it->second);
        it = games_.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Their engines are ended here, once no request holds them, outside the table's lock.
}

void GameTable::StopAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [id, game] : games_) game->ended = true;
}

std::shared_ptr<GameTable::Game> GameTable::Find(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = games_.find(id);
  if (it == games_.end()) return nullptr;
  it->second->lastSeenMs = clock_();
  return it->second;
}

GameTable::Reply GameTable::EngineTurn(const std::shared_ptr<Game>& game,
                                       std::unique_lock<std::mutex>& lock) {
  game->thinking = true;
  const std::string commands = game->session.EngineCommands();
  lock.unlock();
  const MoveReply reply = game->session.AskEngine(commands);
  lock.lock();
  game->session.ApplyEngineReply(reply);
  game->thinking = false;
  game->thought.notify_all();
  game->lastSeenMs = clock_();
  return {200, game->State().dump()};
}

GameTable::Reply GameTable::NewGame(const std::string& body) {
  const json request = body.empty() ? json::object() : json::parse(body, nullptr, false);
  if (!request.is_object()) return {400, Error("malformed JSON: expected an object").dump()};
  SessionOptions session{options_.engine, options_.turnMs, options_.size, true, options_.rule};
  if (request.contains("size")) {
    const auto size = IntegerField(request, "size");
    if (!size || *size < kMinBoardSize || *size > BoardSize)
      return {400, Error("size must be a whole number from 5 to 20").dump()};
    session.size = int(*size);
  }
  if (request.contains("first")) {
    const json& first = request["first"];
    if (first != "you" && first != "engine")
      return {400, Error("first must be \"you\" or \"engine\"").dump()};
    session.humanFirst = first == "you";
  }

  EndIdleGames();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (int(games_.size()) + opening_ >= options_.maxGames)
      return {503, Error("busy: all " + std::to_string(options_.maxGames) +
                         " games are being played; try again when one ends")
                       .dump()};
    ++opening_;
  }
  auto game = std::make_shared<Game>();
  game->session.StopWhen(&game->ended);
  std::string error;
  const bool opened = game->session.Open(session, error);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --opening_;
    if (opened) {
      char id[17];
      std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(rng_()));
      game->id = id;
      game->lastSeenMs = clock_();
      games_[game->id] = game;
    }
  }
  if (!opened) return {502, Error(error).dump()};
  std::unique_lock<std::mutex> lock(game->mutex);
  Reply reply =
      game->session.EngineToMove() ? EngineTurn(game, lock) : Reply{200, game->State().dump()};
  if (reply.status == 200) reply.status = 201;
  return reply;
}

GameTable::Reply GameTable::Move(const std::string& id, const std::string& body) {
  const std::shared_ptr<Game> game = Find(id);
  if (!game) return {404, Error("no such game: " + id).dump()};
  const json request = json::parse(body, nullptr, false);
  if (!request.is_object())
    return {400, Error("malformed JSON: expected {\"x\":X,\"y\":Y}").dump()};
  const auto x = IntegerField(request, "x"), y = IntegerField(request, "y");
  if (!x || !y) return {400, Error("a move needs whole numbers x and y").dump()};
  std::unique_lock<std::mutex> lock(game->mutex);
  if (game->thinking) return {409, Error("the engine is thinking").dump()};
  const int size = game->session.options().size;
  // Far-off numbers stay far off when narrowed.
  const Point p{int(std::clamp<int64_t>(*x, -1, size)), int(std::clamp<int64_t>(*y, -1, size))};
  switch (game->session.PlayHuman(p)) {
    case Refusal::Over:
      return {409, Error("the game is over").dump()};
    case Refusal::OutOfTurn:
      return {409, Error("it is the engine's turn").dump()};
    case Refusal::OffBoard:
      return {400, Error(std::to_string(*x) + "," + std::to_string(*y) + " is off the " +
                         std::to_string(size) + "x" + std::to_string(size) + " board")
                       .dump()};
    case Refusal::Taken:
      return {409, Error(Describe(p) + " is taken").dump()};
    case Refusal::None:
      break;
  }
  if (game->session.over()) return {200, game->State().dump()};
  return EngineTurn(game, lock);
}

GameTable::Reply GameTable::TakeBack(const std::string& id) {
  const std::shared_ptr<Game> game = Find(id);
  if (!game) return {404, Error("no such game: " + id).dump()};
  std::lock_guard<std::mutex> lock(game->mutex);
  if (game->thinking) return {409, Error("the engine is thinking").dump()};
  if (game->session.TakeBack().empty()) return {409, Error("nothing to take back").dump()};
  return {200, game->State().dump()};
}

GameTable::Reply GameTable::Resign(const std::string& id) {
  const std::shared_ptr<Game> game = Find(id);
  if (!game) return {404, Error("no such game: " + id).dump()};
  std::lock_guard<std::mutex> lock(game->mutex);
  if (game->thinking) return {409, Error("the engine is thinking").dump()};
  if (!game->session.Resign()) return {409, Error("the game is over").dump()};
  return {200, game->State().dump()};
}

GameTable::Reply GameTable::Show(const std::string& id) {
  const std::shared_ptr<Game> game = Find(id);
  if (!game) return {404, Error("no such game: " + id).dump()};
  std::lock_guard<std::mutex> lock(game->mutex);
  return {200, game->State().dump()};
}

GameTable::Reply GameTable::End(const std::string& id) {
  std::shared_ptr<Game> game;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = games_.find(id);
    if (it == games_.end()) return {404, Error("no such game: " + id).dump()};
    game = std::move(it->second);
    games_.erase(it);
  }
  // A thinking engine stops waiting at once and its turn ends the engine; an idle one is
  // ended here. Either way it is gone before the reply.
  game->ended = true;
  std::unique_lock<std::mutex> lock(game->mutex);
  game->thought.wait(lock, [&] { return !game->thinking; });
  game->session.Close();
  return {200, json{{"ended", id}}.dump()};
}

void GameTable::Route(httplib::Server& server) {
  using httplib::Request;
  using httplib::Response;
  const auto send = [](Response& res, const Reply& reply) {
    res.status = reply.status;
    res.set_content(reply.json, kJson);
  };
  server.set_payload_max_length(options_.maxBodyBytes);
  server.Get("/", [](const Request&, Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(PageHtml(), "text/html; charset=utf-8");
  });
  server.Post("/api/games",
              [this, send](const Request& req, Response& res) { send(res, NewGame(req.body)); });
  const std::string game = "/api/games/([0-9a-z]{1,32})";
  server.Get(game,
             [this, send](const Request& req, Response& res) { send(res, Show(req.matches[1])); });
  server.Delete(
      game, [this, send](const Request& req, Response& res) { send(res, End(req.matches[1])); });
  server.Post(game + "/move", [this, send](const Request& req, Response& res) {
    send(res, Move(req.matches[1], req.body));
  });
  server.Post(game + "/takeback", [this, send](const Request& req, Response& res) {
    send(res, TakeBack(req.matches[1]));
  });
  server.Post(game + "/resign", [this, send](const Request& req, Response& res) {
    send(res, Resign(req.matches[1]));
  });
  // httplib's own refusals (no such path, a body over the limit) get a message too.
  server.set_error_handler([](const Request&, Response& res) {
    if (!res.body.empty()) return;
    const std::string reason = res.status == 413   ? "the request body is too large"
                               : res.status == 404 ? "no such page"
                                                   : "bad request";
    res.set_content(Error(reason).dump(), kJson);
  });
}

}  // namespace kestrova::serve
