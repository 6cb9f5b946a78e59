// kestrova serve in a build made without an HTTP server library: say so rather than vanish.
#include <cstdio>

#include "tools/commands.h"

namespace kestrova::tools {

int Serve(int, char**) {
  std::fputs(
      "kestrova serve: this build has no HTTP server (install libcpp-httplib-dev and "
      "pkg-config, then configure again)\n",
      stderr);
  return 2;
}

}  // namespace kestrova::tools
