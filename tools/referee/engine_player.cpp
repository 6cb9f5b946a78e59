#include "tools/referee/engine_player.h"

#include <sys/wait.h>

#include <algorithm>

namespace kestrova::referee {
namespace {

constexpr const char* kLineEnd = "\r\n";
// How often a watched engine's memory and the stop flag are looked at while it thinks.
constexpr int64_t kWatchIntervalMs = 20;

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The value of key="value" in an ABOUT line, or "".
std::string AboutField(const std::string& about, const std::string& key) {
  const std::string marker = key + "=\"";
  size_t at = about.find(marker);
  // The key must start a field, so "name" does not match inside "engine_name".
  while (at != std::string::npos && at > 0 && about[at - 1] != ' ' && about[at - 1] != ',')
    at = about.find(marker, at + 1);
  if (at == std::string::npos) return "";
  const size_t start = at + marker.size();
  const size_t end = about.find('"', start);
  return about.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

std::string BoardCommand(const std::vector<PlayedStone>& stones, Stone own) {
  std::string command = std::string("BOARD") + kLineEnd;
  for (const PlayedStone& s : stones)
    command += ProtocolText(s.at) + (s.stone == own ? ",1" : ",2") + kLineEnd;
  return command + "DONE" + kLineEnd;
}

std::string NameFromAbout(const std::string& about) {
  const std::string name = AboutField(about, "name");
  if (name.empty()) return "";
  const std::string version = AboutField(about, "version");
  return version.empty() ? name : name + " " + version;
}

bool EnginePlayer::Launch(const std::string& commandLine, bool quietStderr, std::string& error) {
  launched_ = process_.Start(Subprocess::Shell(commandLine), &error, quietStderr);
  return launched_;
}

Subprocess::ReadStatus EnginePlayer::ReadReply(std::string& line, int64_t deadlineMs) {
  for (;;) {
    const int64_t slice =
        stop_ ? std::min(deadlineMs, MonotonicMs() + kWatchIntervalMs) : deadlineMs;
    const Subprocess::ReadStatus status = process_.ReadLine(line, slice - MonotonicMs());
    if (status == Subprocess::ReadStatus::Timeout && !Stopped() && MonotonicMs() < deadlineMs)
      continue;
    if (status != Subprocess::ReadStatus::Line) return status;
    if (!StartsWith(line, "MESSAGE") && !StartsWith(line, "DEBUG")) return status;
    // An engine that chatters without end must not hold the wait open.
    if (MonotonicMs() >= deadlineMs) return Subprocess::ReadStatus::Timeout;
  }
}

std::string EnginePlayer::About(int64_t timeoutMs) {
  if (!launched_) return "";
  const int64_t deadline = MonotonicMs() + timeoutMs;
  process_.Write(std::string("ABOUT") + kLineEnd);
  std::string line;
  if (ReadReply(line, deadline) != Subprocess::ReadStatus::Line) return "";
  return NameFromAbout(line);
}

bool EnginePlayer::Start(int64_t timeoutMs, std::string& failure, int size, bool send) {
  if (!launched_) {
    failure = "could not be started";
    return false;
  }
  const int64_t deadline = MonotonicMs() + std::max<int64_t>(0, timeoutMs);
  if (send) process_.Write(std::string("START ") + std::to_string(size) + kLineEnd);
  std::string line;
  switch (ReadReply(line, deadline)) {
    case Subprocess::ReadStatus::Line:
      if (line == "OK") return true;
      // ABOUT's reply, late: START's is still to come.
      if (!NameFromAbout(line).empty())
        return Start(deadline - MonotonicMs(), failure, size, false);
      failure = "refused START: '" + line + "'";
      return false;
    case Subprocess::ReadStatus::Timeout:
      failure = Stopped() ? "was stopped before it answered START"
                          : "did not answer START within " + std::to_string(timeoutMs) + " ms";
      return false;
    case Subprocess::ReadStatus::Closed:
      failure = "closed its output at START (" + DescribeExit() + ")";
      return false;
  }
  return false;
}

void EnginePlayer::Info(const std::string& key, int64_t value) {
  if (launched_) process_.Write("INFO " + key + " " + std::to_string(value) + kLineEnd);
}

void EnginePlayer::Watch(int64_t memoryLimitBytes, const std::atomic<bool>* stop) {
  memoryLimitBytes_ = memoryLimitBytes;
  stop_ = stop;
}

MoveReply::Kind EnginePlayer::SampleMemory(int64_t& residentBytes) {
  residentBytes = process_.ResidentBytesWithChildren();
  sampledPeakBytes_ = std::max(sampledPeakBytes_, residentBytes);
  return memoryLimitBytes_ > 0 && residentBytes > memoryLimitBytes_ ? MoveReply::Kind::Memory
                                                                    : MoveReply::Kind::Move;
}

int64_t EnginePlayer::PeakResidentBytes() const {
  return std::max(sampledPeakBytes_, process_.PeakResidentBytes());
}

MoveReply EnginePlayer::Ask(const std::string& commands, int64_t timeoutMs) {
  MoveReply reply;
  const int64_t sent = MonotonicMs();
  // A game's commands stay far below a pipe's capacity, so this write cannot block even on
  // an engine that stopped reading.
  if (launched_) process_.Write(commands);
  const bool watched = memoryLimitBytes_ > 0 || stop_ != nullptr;
  std::string line;
  Subprocess::ReadStatus status = Subprocess::ReadStatus::Closed;
  while (launched_) {
    const int64_t deadline = sent + timeoutMs;
    const int64_t slice = watched ? std::min(deadline, MonotonicMs() + kWatchIntervalMs) : deadline;
    status = ReadReply(line, slice);
    if (status != Subprocess::ReadStatus::Timeout || MonotonicMs() >= deadline) break;
    if (Stopped()) {
      reply.kind = MoveReply::Kind::Stopped;
      reply.elapsedMs = MonotonicMs() - sent;
      return reply;
    }
    if (memoryLimitBytes_ > 0 && SampleMemory(reply.residentBytes) == MoveReply::Kind::Memory) {
      reply.kind = MoveReply::Kind::Memory;
      reply.elapsedMs = MonotonicMs() - sent;
      return reply;
    }
  }
  reply.elapsedMs = MonotonicMs() - sent;
  if (status == Subprocess::ReadStatus::Timeout) {
    reply.kind = MoveReply::Kind::Timeout;
  } else if (status == Subprocess::ReadStatus::Closed) {
    reply.kind = MoveReply::Kind::Closed;
  } else if (memoryLimitBytes_ > 0 &&
             SampleMemory(reply.residentBytes) == MoveReply::Kind::Memory) {
    reply.kind = MoveReply::Kind::Memory;
  } else if (const auto move = ParseEngineMove(line)) {
    reply.kind = MoveReply::Kind::Move;
    reply.move = *move;
  } else {
    reply.kind = MoveReply::Kind::Malformed;
    reply.text = line;
  }
  return reply;
}

void EnginePlayer::SendEnd() {
  if (launched_) process_.Write(std::string("END") + kLineEnd);
}

void EnginePlayer::Finish(int64_t deadlineMs) {
  if (!launched_) return;
  if (!process_.Wait(deadlineMs - MonotonicMs())) process_.Kill();
  process_.KillGroup();
}

std::string EnginePlayer::DescribeExit() {
  // A closed output usually means the process is on its way out: give it a moment.
  int status = 0;
  if (!launched_ || !process_.Wait(200, &status)) return "";
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "";
}

}  // namespace kestrova::referee
