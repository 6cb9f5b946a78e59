// A child process on pipes: the referee's engines and the end-to-end tests' engine.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

class Subprocess {
 public:
  enum class ReadStatus { Line, Timeout, Closed };

  Subprocess() = default;
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;
  ~Subprocess();  // kills the child's process group if it still runs

  // A command line run by /bin/sh, so engines can be given with arguments or "wine x.exe".
  static std::vector<std::string> Shell(const std::string& commandLine);

  // Starts argv in a process group of its own, stdin and stdout on pipes, stderr inherited
  // (or discarded when quietStderr).
  bool Start(const std::vector<std::string>& argv, std::string* error = nullptr,
             bool quietStderr = false);

  // Writes all bytes to the child's stdin; false once the child has closed it.
  bool Write(std::string_view bytes);
  void CloseStdin();

  // One line of the child's stdout, without its line end (LF, CR LF or CR), waiting at
  // most timeoutMs.
  ReadStatus ReadLine(std::string& line, int64_t timeoutMs);
  // Everything the child writes until it closes stdout or timeoutMs pass.
  std::string ReadAll(int64_t timeoutMs);

  // Waits at most timeoutMs for the child to exit; true with its status when it did.
  bool Wait(int64_t timeoutMs, int* exitStatus = nullptr);
  bool Running();
  void Kill();
  // Kills what is left of the child's process group, such as children it left behind.
  void KillGroup();
  pid_t pid() const { return pid_; }

  // Peak resident memory of the child so far (Linux), or -1.
  int64_t PeakResidentBytes() const;
  // Resident memory of the child and all its descendants now (Linux), or -1 once it exited.
  int64_t ResidentBytesWithChildren() const;

 private:
  bool FillBuffer(int64_t timeoutMs);

  pid_t pid_ = -1;
  int in_ = -1;   // child's stdin
  int out_ = -1;  // child's stdout
  std::string buffer_;
  bool outClosed_ = false;
  bool reaped_ = false;
  int status_ = 0;
};

// Milliseconds of a monotonic clock, for deadlines.
int64_t MonotonicMs();

}  // namespace kestrova
