// pbrain-kestrova: the engine as a manager starts it, protocol on stdin and stdout.
#include <cerrno>
#include <memory>

#include "engine/io.h"
#include "core/log.h"
#include "engine/protocol.h"

int main() {
  using namespace kestrova;
  SteadyClock clock;  // its first reading is the zero of every time in the engine
  PrepareStdio();
  auto engine = std::make_unique<Engine>(clock, RandomSeed());
  FdReplySink out(kStdoutFd);
  CommandLoop loop(*engine, out);
  Log("started!");
  char buffer[1024];
  for (;;) {
    const long n = ReadSome(kStdinFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;  // end of input or a failed read: nobody is left to answer
    if (!loop.Feed(std::string_view(buffer, size_t(n)))) return 0;
  }
}
