// pbrain-kestrova: the engine as a manager starts it, protocol on stdin and stdout.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/log.h"
#include "engine/input_reader.h"
#include "engine/io.h"
#include "engine/protocol.h"

namespace {

constexpr const char* kUsage =
    "usage: pbrain-kestrova [--threads N] [--no-threats] [--no-tree-probe] [--no-shape-value]\n"
    "       [--vct]\n"
    "  a gomoku engine for game managers: the protocol on stdin and stdout\n"
    "  --threads N      search threads, 1 up to the machine's cores (default 1; a manager's\n"
    "                   INFO thread_num overrides it)\n"
    "  --no-threats     play by the tree search alone, without the threat solver\n"
    "  --no-tree-probe  the solver at the root only, not probing the tree's nodes\n"
    "  --no-shape-value leaves valued by the scan alone, not by the fitted shape value\n"
    "  --vct            the threat solver on open threes too, not only on fours\n";

// A whole positive decimal number, nothing before or after it.
bool PositiveNumber(const char* text, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return *text >= '0' && *text <= '9' && *end == '\0' && errno == 0 && value >= 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrova;
  SteadyClock clock;  // its first reading is the zero of every time in the engine
  bool useThreats = true, useVct = false, treeProbe = true, shapeValue = true;
  long threads = 1;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--no-threats") == 0) {
      useThreats = false;
    } else if (std::strcmp(argv[k], "--no-tree-probe") == 0) {
      treeProbe = false;
    } else if (std::strcmp(argv[k], "--no-shape-value") == 0) {
      shapeValue = false;
    } else if (std::strcmp(argv[k], "--vct") == 0) {
      useVct = true;
    } else if (std::strcmp(argv[k], "--threads") == 0) {
      if (k + 1 >= argc || !PositiveNumber(argv[k + 1], threads)) {
        std::fprintf(stderr, "pbrain-kestrova: --threads wants a whole number of 1 or more\n%s",
                     kUsage);
        return 2;
      }
      ++k;
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
  engine->search.shapeValue = shapeValue;
  engine->defaultThreads = ClampThreads(threads);
  SetThreads(engine->search, engine->defaultThreads);
  FdReplySink out(kStdoutFd);
  CommandLoop loop(*engine, out);
  Log("started!");
  const auto input = InputReader::Start(kStdinFd, engine->search.stopRequested);
  std::string bytes;
  while (input->Next(bytes) && loop.Feed(bytes)) {
  }
  // The reading thread may still be blocked in a read of what the engine uses: the process
  // ends here without unwinding it. Every reply has been written already.
  std::fflush(stderr);
  std::_Exit(0);
}
