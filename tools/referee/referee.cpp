#include "tools/referee/referee.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kestrova::referee {
namespace {

// The engines get a second to act on END before they are killed.
constexpr int64_t kEndGraceMs = 1000;
constexpr const char* kStoppedReason = "stopped: the match was decided";

struct Side {
  const Contestant* contestant = nullptr;
  EnginePlayer engine;
  bool ready = false;
  std::string failure;
  bool asked = false;  // has been asked for a move in this game
  int64_t usedMs = 0;  // its game clock
};

std::string LateReason(const std::string& label, int64_t turnMs, int64_t leftMs,
                       int64_t toleranceMs, int64_t elapsedMs, bool replied) {
  const bool clockBinds = leftMs < turnMs;
  const int64_t limit = std::max<int64_t>(0, clockBinds ? leftMs : turnMs);
  const std::string what = replied ? "replied after " + std::to_string(elapsedMs) + " ms"
                                   : "sent no move within " + std::to_string(elapsedMs) + " ms";
  if (clockBinds)
    return label + " ran out of its game clock: " + what + " with " + std::to_string(limit) +
           " ms left (+" + std::to_string(toleranceMs) + " ms tolerance)";
  return label + " exceeded the turn limit: " + what + " (limit " + std::to_string(limit) + " + " +
         std::to_string(toleranceMs) + " ms tolerance)";
}

std::string ClosedReason(const std::string& label, EnginePlayer& engine) {
  const std::string exit = engine.DescribeExit();
  return label + " crashed: closed its output" + (exit.empty() ? "" : " (" + exit + ")");
}

std::string EscapeSgf(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == ']' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string SgfPoint(Point p) {
  return {char('a' + p.x), char('a' + p.y)};
}

double EloFromScore(double score) {
  if (score <= 0) return -std::numeric_limits<double>::infinity();
  if (score >= 1) return std::numeric_limits<double>::infinity();
  return -400.0 * std::log10(1.0 / score - 1.0);
}

}  // namespace

GameRecord PlayGame(const Contestant& black, const Contestant& white, const Opening& opening,
                    const Limits& limits, const std::atomic<bool>* stop) {
  GameRecord game;
  game.boardSize = limits.boardSize;
  game.rule = limits.rule;
  Side sides[2];
  sides[0].contestant = &black;
  sides[1].contestant = &white;
  for (Side& side : sides) {
    if (stop && stop->load()) break;
    const TimeControl& time = side.contestant->time;
    const int64_t handshakeMs = limits.startupMs;
    side.engine.Watch(limits.memoryBytes, stop);
    std::string error;
    if (!side.engine.Launch(side.contestant->commandLine, false, error)) {
      side.failure = "could not be started: " + error;
      game.startFailed = true;
      continue;
    }
    const std::string name = side.engine.About(handshakeMs);
    (&side == &sides[0] ? game.blackName : game.whiteName) =
        name.empty() ? side.contestant->label : name;
    side.ready = side.engine.Start(handshakeMs, side.failure, limits.boardSize);
    if (!side.ready) {
      game.startFailed = true;
      continue;
    }
    side.engine.Info("timeout_turn", time.turnMs);
    side.engine.Info("timeout_match", time.matchMs);
    side.engine.Info("max_memory", limits.memoryBytes);
    side.engine.Info("rule", limits.rule);
  }
  if (game.blackName.empty()) game.blackName = black.label;
  if (game.whiteName.empty()) game.whiteName = white.label;

  auto finish = [&](Stone winner, Ending ending, std::string reason) {
    game.winner = winner;
    game.ending = ending;
    game.reason = std::move(reason);
    for (int k = 0; k < 2; ++k) game.peakBytes[k] = sides[k].engine.PeakResidentBytes();
    for (Side& side : sides) side.engine.SendEnd();
    const int64_t deadline =
        MonotonicMs() + (ending == Ending::Stopped ? kStopGraceMs : kEndGraceMs);
    for (Side& side : sides) side.engine.Finish(deadline);
    return game;
  };

  // An engine that did not start because the match was stopping meanwhile is no fault.
  if (stop && stop->load()) {
    game.startFailed = false;
    return finish(Stone::None, Ending::Stopped, kStoppedReason);
  }
  if (!sides[0].ready || !sides[1].ready) {
    std::string reason;
    for (const Side& side : sides)
      if (!side.ready)
        reason += (reason.empty() ? "" : "; ") + side.contestant->label + " " + side.failure;
    const Stone winner = sides[0].ready   ? Stone::Black
                         : sides[1].ready ? Stone::White
                                          : Stone::None;
    return finish(winner, Ending::Forfeit, reason);
  }

  Grid grid(limits.boardSize, limits.rule);
  std::vector<PlayedStone> stones;
  Stone toMove = Stone::Black;
  for (const Point& p : opening) {
    grid.Put(p, toMove);
    stones.push_back({p, toMove});
    game.moves.push_back({{p, toMove}, -1});
    toMove = Other(toMove);
  }

  for (;;) {
    Side& side = sides[toMove == Stone::Black ? 0 : 1];
    const std::string& label = side.contestant->label;
    const TimeControl& time = side.contestant->time;
    const Stone opponent = Other(toMove);
    const int64_t leftMs = std::max<int64_t>(0, time.matchMs - side.usedMs);
    std::string commands = "INFO time_left " + std::to_string(leftMs) + "\r\n";
    if (!side.asked)
      commands += stones.empty() ? "BEGIN\r\n" : BoardCommand(stones, toMove);
    else
      commands += "TURN " + ProtocolText(stones.back().at) + "\r\n";
    side.asked = true;

    const int64_t allowedMs = std::min(time.turnMs, leftMs) + limits.toleranceMs;
    const MoveReply reply = side.engine.Ask(commands, allowedMs);
    side.usedMs += reply.elapsedMs;
    switch (reply.kind) {
      case MoveReply::Kind::Timeout:
        return finish(
            opponent, Ending::Time,
            LateReason(label, time.turnMs, leftMs, limits.toleranceMs, reply.elapsedMs, false));
      case MoveReply::Kind::Closed:
        return finish(opponent, Ending::Forfeit, ClosedReason(label, side.engine));
      case MoveReply::Kind::Malformed:
        return finish(opponent, Ending::Forfeit,
                      label + " sent a malformed reply '" + reply.text + "'");
      case MoveReply::Kind::Memory:
        return finish(opponent, Ending::Memory,
                      label +
                          " went over the memory limit: " + FormatMegabytes(reply.residentBytes) +
                          " with its children (limit " + FormatMegabytes(limits.memoryBytes) + ")");
      case MoveReply::Kind::Stopped:
        return finish(Stone::None, Ending::Stopped, kStoppedReason);
      case MoveReply::Kind::Move:
        break;
    }
    if (reply.elapsedMs > allowedMs)  // a reply that came in just as the wait ended
      return finish(
          opponent, Ending::Time,
          LateReason(label, time.turnMs, leftMs, limits.toleranceMs, reply.elapsedMs, true));
    const Point move = reply.move;
    if (!grid.OnBoard(move))
      return finish(opponent, Ending::Forfeit,
                    label + " played " + ProtocolText(move) + ", off the board");
    if (grid.at(move) != Stone::None)
      return finish(opponent, Ending::Forfeit,
                    label + " played " + ProtocolText(move) + ", an occupied cell");

    grid.Put(move, toMove);
    stones.push_back({move, toMove});
    game.moves.push_back({{move, toMove}, reply.elapsedMs});
    if (MakesFive(grid, move))
      return finish(toMove, Ending::Five,
                    label +
                        (limits.rule == kExactFive ? " made exactly five in a row with "
                                                   : " made five in a row with ") +
                        ProtocolText(move));
    if (grid.Full()) return finish(Stone::None, Ending::FullBoard, "the board is full");
    toMove = opponent;
  }
}

EloEstimate EstimateElo(int wins, int draws, int losses) {
  const int games = wins + draws + losses;
  if (games == 0)
    return {0, -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  const double score = (wins + 0.5 * draws) / games;
  const double meanSquare = (wins + 0.25 * draws) / games;
  const double stdError = std::sqrt(std::max(0.0, meanSquare - score * score) / games);
  constexpr double kZ95 = 1.959963984540054;
  return {EloFromScore(score), EloFromScore(score - kZ95 * stdError),
          EloFromScore(score + kZ95 * stdError)};
}

std::string FormatElo(double elo) {
  if (std::isinf(elo)) return elo > 0 ? "+inf" : "-inf";
  char text[32];
  std::snprintf(text, sizeof text, "%+ld", std::lround(elo));
  return text;
}

std::string FormatMegabytes(int64_t bytes) {
  if (bytes < 0) return "?";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", double(bytes) / (1024.0 * 1024.0));
  return text;
}

std::string GameSgf(const GameRecord& game) {
  std::string result = "0";
  if (game.winner == Stone::None && (IsFault(game.ending) || game.ending == Ending::Stopped))
    result = "Void";
  if (game.winner != Stone::None) {
    result = game.winner == Stone::Black ? "B+" : "W+";
    if (game.ending == Ending::Time) result += "T";
    if (game.ending == Ending::Forfeit || game.ending == Ending::Memory) result += "F";
  }
  const std::string rule = game.rule == kFreestyle ? "" : "RU[" + std::to_string(game.rule) + "]";
  std::string sgf = "(;FF[4]GM[4]SZ[" + std::to_string(game.boardSize) + "]" + rule +
                    "AP[kestrova match]PB[" +
                    EscapeSgf(game.blackName) + "]PW[" + EscapeSgf(game.whiteName) + "]RE[" +
                    result + "]C[" + EscapeSgf(game.reason) + "]\n";
  for (const RecordedMove& m : game.moves) {
    sgf += m.stone.stone == Stone::Black ? ";B[" : ";W[";
    sgf += SgfPoint(m.stone.at) + "]C[";
    sgf += m.thinkingMs < 0 ? "opening" : std::to_string(m.thinkingMs) + " ms";
    sgf += "]\n";
  }
  return sgf + ")\n";
}

}  // namespace kestrova::referee
