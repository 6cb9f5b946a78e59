#include "engine/io.h"

#include <cerrno>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>

#include <csignal>
#endif

namespace kestrova {

void PrepareStdio() {
#ifdef _WIN32
  _setmode(kStdinFd, _O_BINARY);
  _setmode(kStdoutFd, _O_BINARY);
#else
  // A manager that has gone away must not kill the engine mid-write; the next read
  // then sees end of input and the engine exits.
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

long ReadSome(int fd, char* buffer, size_t size) {
#ifdef _WIN32
  return _read(fd, buffer, static_cast<unsigned>(size));
#else
  return static_cast<long>(read(fd, buffer, size));
#endif
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
#ifdef _WIN32
    const long n = _write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
#else
    const long n = static_cast<long>(write(fd, bytes.data(), bytes.size()));
#endif
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(size_t(n));
  }
  return true;
}

void FdReplySink::WriteLine(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  WriteAll(fd_, line);  // one write per reply: the manager sees it at once
}

}  // namespace kestrova
