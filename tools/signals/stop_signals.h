// Ctrl-C and SIGTERM for the tool's commands: not a signal handler but a thread that learns of
// the signal through a signalfd, so stopping may take locks, write files and end engines.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace kestrova::tools {

class StopSignals {
 public:
  // Runs on the watching thread at each signal (the first and any later one), with its number.
  using Action = std::function<void(int signal)>;

  // Blocks SIGINT and SIGTERM in the calling thread, and so in every thread it starts from
  // now on: make it before any other thread. A signal the process was started with ignored
  // (a background job of a script, nohup) stays ignored.
  explicit StopSignals(Action onSignal = {});
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  // Stops the watching thread. The signals stay blocked: the command is on its way out, and
  // a second Ctrl-C must not kill it before it has ended its engines.
  ~StopSignals();

  bool Stopped() const { return stopped_.load(); }
  const std::atomic<bool>& flag() const { return stopped_; }
  // Readable (for poll) from the first signal on.
  int fd() const { return stopPipe_[0]; }
  // The first signal's number, 0 before any.
  int signal() const { return signal_.load(); }
  // "SIGINT" or "SIGTERM", "" before any.
  const char* SignalName() const;
  // The exit status of a command ended by it, as a shell reports one killed by it: 130 for
  // Ctrl-C.
  int ExitStatus() const { return 128 + signal(); }

 private:
  void Watch();

  Action onSignal_;
  std::atomic<bool> stopped_{false};
  std::atomic<int> signal_{0};
  int signalFd_ = -1;
  int stopPipe_[2] = {-1, -1};   // written once at the first signal
  int closePipe_[2] = {-1, -1};  // written by the destructor to end the watching thread
  std::thread watcher_;
};

}  // namespace kestrova::tools
