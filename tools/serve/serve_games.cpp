#include "tools/serve/serve_games.h"

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>

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

// The numbers among an object's own fields as they were written: the parser keeps only the
// value, and makes a float of a whole number too large for 64 bits.
class NumberTexts : public nlohmann::json_sax<json> {
 public:
  explicit NumberTexts(const std::string& body) { json::sax_parse(body, this); }
  const std::string* Find(const std::string& key) const {
    const auto it = texts_.find(key);
    return it == texts_.end() ? nullptr : &it->second;
  }

  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t value) override { return Number(std::to_string(value)); }
  bool number_unsigned(number_unsigned_t value) override { return Number(std::to_string(value)); }
  bool number_float(number_float_t, const string_t& text) override { return Number(text); }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return ++depth_, true; }
  bool key(string_t& key) override { return key_ = key, true; }
  bool end_object() override { return --depth_, true; }
  bool start_array(std::size_t) override { return ++depth_, true; }
  bool end_array() override { return --depth_, true; }
  bool parse_error(std::size_t, const std::string&, const json::exception&) override {
    return false;
  }

 private:
  bool Number(const std::string& text) {
    if (depth_ == 1) texts_[key_] = text;
    return true;
  }
  std::map<std::string, std::string> texts_;
  std::string key_;
  int depth_ = 0;
};

// A coordinate of a move: a whole number as written, also one past any integer type, and
// its value narrowed to -1..size so that far-off numbers stay off the board.
struct Coordinate {
  std::string text;
  int value = 0;
};

std::optional<Coordinate> CoordinateField(const json& request, const NumberTexts& texts,
                                          const char* key, int size) {
  const auto it = request.find(key);
  const std::string* text = texts.Find(key);
  if (it == request.end() || !it->is_number() || !text) return std::nullopt;
  if (it->is_number_float()) {
    // Digits alone: a whole number beyond 64 bits; 7.5 and 1e3 are no cell numbers.
    static const std::regex kWhole("-?[0-9]+");
    if (!std::regex_match(*text, kWhole)) return std::nullopt;
    return Coordinate{*text, (*text)[0] == '-' ? -1 : size};
  }
  if (it->is_number_unsigned() && it->get<uint64_t>() > uint64_t(INT64_MAX))
    return Coordinate{*text, size};
  return Coordinate{*text, int(std::clamp<int64_t>(it->get<int64_t>(), -1, size))};
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
  session.threads = options_.threads;
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
  const int size = game->session.options().size;
  const NumberTexts texts(body);
  const auto x = CoordinateField(request, texts, "x", size);
  const auto y = CoordinateField(request, texts, "y", size);
  if (!x || !y) return {400, Error("a move needs whole numbers x and y").dump()};
  std::unique_lock<std::mutex> lock(game->mutex);
  if (game->thinking) return {409, Error("the engine is thinking").dump()};
  const Point p{x->value, y->value};
  switch (game->session.PlayHuman(p)) {
    case Refusal::Over:
      return {409, Error("the game is over").dump()};
    case Refusal::OutOfTurn:
      return {409, Error("it is the engine's turn").dump()};
    case Refusal::OffBoard:
      return {400, Error(x->text + "," + y->text + " is off the " + std::to_string(size) + "x" +
                         std::to_string(size) + " board")
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
  using Handler = std::function<Reply(const std::string& id, const std::string& body)>;
  struct Endpoint {
    std::regex path;  // its group, if any, is the game's id
    std::vector<std::pair<std::string, Handler>> methods;
  };
  const std::string game = "/api/games/([0-9a-z]{1,32})";
  const auto endpoints = std::make_shared<const std::vector<Endpoint>>(std::vector<Endpoint>{
      {std::regex("/"),
       {{"GET",
         [](auto&, auto&) {
           return Reply{200, PageHtml(), "text/html; charset=utf-8"};
         }}}},
      {std::regex("/api/games"), {{"POST", [this](auto&, auto& body) { return NewGame(body); }}}},
      {std::regex(game),
       {{"GET", [this](auto& id, auto&) { return Show(id); }},
        {"DELETE", [this](auto& id, auto&) { return End(id); }}}},
      {std::regex(game + "/move"),
       {{"POST", [this](auto& id, auto& body) { return Move(id, body); }}}},
      {std::regex(game + "/takeback"),
       {{"POST", [this](auto& id, auto&) { return TakeBack(id); }}}},
      {std::regex(game + "/resign"), {{"POST", [this](auto& id, auto&) { return Resign(id); }}}},
  });
  // Every request goes through this one table: a known path asked with a method it does not
  // take gets 405 and the methods it does take.
  const auto dispatch = [endpoints](const Request& req, Response& res, const std::string& body) {
    const auto send = [&res](const Reply& reply) {
      res.status = reply.status;
      res.set_header("Cache-Control", "no-store");
      res.set_content(reply.body, reply.type);
    };
    const std::string method = req.method == "HEAD" ? "GET" : req.method;
    for (const Endpoint& endpoint : *endpoints) {
      std::smatch match;
      if (!std::regex_match(req.path, match, endpoint.path)) continue;
      std::string allow;
      for (const auto& [name, handler] : endpoint.methods) {
        if (name == method) return send(handler(match.size() > 1 ? match[1].str() : "", body));
        allow += (allow.empty() ? "" : ", ") + name + (name == "GET" ? ", HEAD" : "");
      }
      res.set_header("Allow", allow);
      return send(
          {405, Error(req.method + " is not allowed on " + req.path + " (" + allow + ")").dump()});
    }
    send({404, Error("no such page").dump()});
  };
  // A request without a length has no body, but httplib waits for one until its read
  // timeout and then refuses it: such requests are answered before it reads.
  server.set_pre_routing_handler([dispatch](const Request& req, Response& res) {
    if (req.has_header("Content-Length") || req.has_header("Transfer-Encoding"))
      return httplib::Server::HandlerResponse::Unhandled;
    dispatch(req, res, "");
    return httplib::Server::HandlerResponse::Handled;
  });
  const auto withBody = [dispatch](const Request& req, Response& res) {
    dispatch(req, res, req.body);
  };
  const std::string any = ".*";
  server.Get(any, withBody);
  server.Post(any, withBody);
  server.Put(any, withBody);
  server.Patch(any, withBody);
  server.Delete(any, withBody);
  server.Options(any, withBody);
  server.set_payload_max_length(options_.maxBodyBytes);
  // httplib's own refusals (a body over the limit, a malformed request) get a message too.
  server.set_error_handler([](const Request&, Response& res) {
    if (!res.body.empty()) return;
    const std::string reason = res.status == 413   ? "the request body is too large"
                               : res.status == 404 ? "no such page"
                                                   : "bad request";
    res.set_content(Error(reason).dump(), kJson);
  });
}

}  // namespace kestrova::serve
