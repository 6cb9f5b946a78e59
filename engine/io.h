// Raw, unbuffered standard I/O in binary mode, the same on POSIX and Windows.
#pragma once

#include <cstddef>
#include <string_view>

#include "engine/protocol.h"

namespace kestrova {

constexpr int kStdinFd = 0;
constexpr int kStdoutFd = 1;

// Binary mode on Windows (text mode would turn "\r\n" into "\r\r\n"); no SIGPIPE on POSIX.
void PrepareStdio();
long ReadSome(int fd, char* buffer, size_t size);
bool WriteAll(int fd, std::string_view bytes);

class FdReplySink final : public ReplySink {
 public:
  explicit FdReplySink(int fd) : fd_(fd) {}
  void WriteLine(std::string_view text) override;

 private:
  int fd_;
};

}  // namespace kestrova
