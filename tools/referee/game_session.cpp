#include "tools/referee/game_session.h"

#include <algorithm>
#include <filesystem>
#include <thread>

namespace kestrova::referee {
namespace {

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::vector<Point> FiveThrough(const Grid& grid, Point p) {
  if (!grid.OnBoard(p) || grid.at(p) == Stone::None) return {};
  const Stone own = grid.at(p);
  constexpr int kDirections[4][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}};
  for (const auto& d : kDirections) {
    Point first = p;
    while (grid.OnBoard({first.x - d[0], first.y - d[1]}) &&
           grid.at({first.x - d[0], first.y - d[1]}) == own)
      first = {first.x - d[0], first.y - d[1]};
    std::vector<Point> line;
    for (Point q = first; grid.OnBoard(q) && grid.at(q) == own; q = {q.x + d[0], q.y + d[1]})
      line.push_back(q);
    if (grid.rule == kExactFive ? line.size() == 5 : line.size() >= 5) return line;
  }
  return {};
}

std::string Describe(Point p) {
  return LetterText(p) + " (" + ProtocolText(p) + ")";
}

std::string EngineBesideTool() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "";
  const auto engine = self.parent_path() / "pbrain-kestrova";
  if (!std::filesystem::exists(engine, error)) return "";
  return ShellQuote(engine.string());
}

void GameSession::Close(int64_t graceMs) {
  if (!launched_) return;
  launched_ = false;  // its process group may be another's once it is reaped
  player_.SendEnd();
  player_.Finish(MonotonicMs() + graceMs);
  if (!over_) {
    over_ = final_ = true;
    result_ = "the game was ended";
  }
}

bool GameSession::Open(const SessionOptions& options, std::string& error) {
  options_ = options;
  grid_ = Grid(options.size, options.rule);
  // The engine's stderr would scribble over the board.
  if (!player_.Launch(options.engine, true, error)) {
    error = "cannot start " + options.engine + ": " + error;
    return false;
  }
  launched_ = true;
  const int64_t waitMs = options.turnMs + kSessionToleranceMs;
  const std::string about = player_.About(waitMs);
  if (!about.empty()) name_ = about;
  std::string failure;
  if (!player_.Start(waitMs, failure, options.size)) {
    error = name_ + " " + failure;
    return false;
  }
  player_.Info("timeout_turn", options.turnMs);
  player_.Info("timeout_match", 0);
  player_.Info("rule", options.rule);
  // A person's machine is the engine's alone: every core, unless told otherwise.
  player_.Info("thread_num", options.threads > 0
                                 ? options.threads
                                 : std::max(1u, std::thread::hardware_concurrency()));
  return true;
}

bool GameSession::EngineToMove() const {
  if (over_) return false;
  const Stone next = moves_.empty() ? Stone::Black : Other(moves_.back().stone);
  return next == engine();
}

void GameSession::Put(Point p, Stone s, int64_t thinkingMs) {
  grid_.Put(p, s);
  moves_.push_back({p, s, thinkingMs});
}

void GameSession::Judge(const std::string& winner) {
  const Point p = moves_.back().at;
  fiveCells_ = FiveThrough(grid_, p);
  if (!fiveCells_.empty()) {
    over_ = true;
    result_ = "five in a row at " + LetterText(p) + ": " + winner;
  } else if (grid_.Full()) {
    over_ = true;
    result_ = "the board is full: a draw";
  }
}

Refusal GameSession::PlayHuman(Point p) {
  if (over_) return Refusal::Over;
  if (EngineToMove()) return Refusal::OutOfTurn;
  if (!grid_.OnBoard(p)) return Refusal::OffBoard;
  if (grid_.at(p) != Stone::None) return Refusal::Taken;
  Put(p, human(), -1);
  Judge("you win");
  return Refusal::None;
}

std::string GameSession::EngineCommands() const {
  if (!engineInSync_) {
    std::vector<PlayedStone> stones;
    for (const SessionMove& m : moves_) stones.push_back({m.at, m.stone});
    return BoardCommand(stones, engine());
  }
  if (moves_.empty()) return "BEGIN\r\n";
  return "TURN " + ProtocolText(moves_.back().at) + "\r\n";
}

MoveReply GameSession::AskEngine(const std::string& commands) {
  return player_.Ask(commands, options_.turnMs + kSessionToleranceMs);
}

bool GameSession::ApplyEngineReply(const MoveReply& reply) {
  if (reply.kind == MoveReply::Kind::Stopped) {
    Close(kStopGraceMs);
    return false;
  }
  std::string fault;
  if (reply.kind == MoveReply::Kind::Timeout) {
    fault = "sent no move within " + std::to_string(options_.turnMs + kSessionToleranceMs) + " ms";
  } else if (reply.kind == MoveReply::Kind::Closed) {
    const std::string exit = player_.DescribeExit();
    fault = "stopped" + (exit.empty() ? "" : " (" + exit + ")");
  } else if (reply.kind == MoveReply::Kind::Malformed) {
    fault = "answered '" + reply.text + "' instead of a move";
  } else if (!grid_.OnBoard(reply.move) || grid_.at(reply.move) != Stone::None) {
    fault = "played " + ProtocolText(reply.move) + ", which is not a legal move";
  }
  if (!fault.empty()) {
    over_ = final_ = true;
    result_ = name_ + " " + fault + ": game over";
    return false;
  }
  engineInSync_ = true;
  Put(reply.move, engine(), reply.elapsedMs);
  Judge(name_ + " wins");
  return true;
}

std::string GameSession::TakeBack() {
  bool humanHasMoved = false;
  for (const SessionMove& m : moves_) humanHasMoved = humanHasMoved || m.stone == human();
  if (!humanHasMoved || final_) return "";
  std::string taken;
  for (;;) {
    const SessionMove m = moves_.back();
    moves_.pop_back();
    grid_.Put(m.at, Stone::None);
    taken += (taken.empty() ? "" : " and ") + LetterText(m.at);
    if (m.stone == human()) break;
  }
  engineInSync_ = false;
  over_ = false;
  result_.clear();
  fiveCells_.clear();
  return taken;
}

bool GameSession::Resign() {
  if (over_) return false;
  over_ = final_ = true;
  result_ = "you resigned: " + name_ + " wins";
  return true;
}

}  // namespace kestrova::referee
