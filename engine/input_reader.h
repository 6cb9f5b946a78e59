// Standard input read on a thread of its own: the command loop takes the bytes in order,
// and an END or the end of input that arrives while the engine thinks stops the search at
// once instead of after the whole turn.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace kestrova {

// Finds END commands in bytes as they arrive, lines split anywhere, with the command
// loop's line ends (CR LF, LF or CR) and its first-word rule.
class EndWatch {
 public:
  // True when bytes complete a line whose command is END.
  bool Feed(std::string_view bytes);

 private:
  std::string line_;  // the start of the line under way: enough to tell END
};

class InputReader {
 public:
  // Starts the reading thread on fd; stop is set at an END line and at the end of input.
  // The thread ends with the input, or with the process: stop must live as long.
  static std::shared_ptr<InputReader> Start(int fd, std::atomic<bool>& stop);

  // The next bytes read, waiting for them; false once the input has ended and every byte
  // was taken.
  bool Next(std::string& bytes);

 private:
  void Run(int fd, std::atomic<bool>& stop);

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::string> chunks_;
  bool ended_ = false;
};

}  // namespace kestrova
