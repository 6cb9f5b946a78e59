// pbrain-kestrova: the engine as a manager starts it, protocol on stdin and stdout.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/log.h"
#include "engine/io.h"
#include "engine/protocol.h"

namespace {

constexpr const char* kUsage =
    "usage: pbrain-kestrova [--no-threats] [--no-tree-probe] [--vct]\n"
    "  a gomoku engine for game managers: the protocol on stdin and stdout\n"
    "  --no-threats     play by the tree search alone, without the threat solver\n"
    "  --no-tree-probe  the solver at the root only, not probing the tree's nodes\n"
    "  --vct            the threat solver on open threes too, not only on fours\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrova;
  SteadyClock clock;  // its first reading is the zero of every time in the engine
  bool useThreats = true, useVct = false, treeProbe = true;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--no-threats") == 0) {
      useThreats = false;
    } else if (std::strcmp(argv[k], "--no-tree-probe") == 0) {
      treeProbe = false;
    } else if (std::strcmp(argv[k], "--vct") == 0) {
      useVct = true;
    } else if (std::strcmp(argv[k], "--help") == 0 || std::strcmp(argv[k], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      // Managers start engines without arguments: an unknown one is a mistake of the user's.
      std::fprintf(stderr, "pbrain-kestrova: unknown option '%s'\n%s", argv[k], kUsage);
      return 2;
    }
  }
  PrepareStdio();
  auto engine = std::make_unique<Engine>(clock, RandomSeed());
  engine->search.useThreats = useThreats;
  engine->search.useVct = useVct;
  engine->search.treeProbe = treeProbe;
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
