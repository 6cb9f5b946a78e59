// Every trace message of the engine goes here. The protocol channel must carry replies only,
// so messages are discarded; a build configured with -DKESTROVA_TRACE=ON writes them to
// stderr instead. A message is handed over as its pieces (text, numbers, or callables that
// return text), and is put together only when it is written: off, a trace line costs nothing,
// not even the formatting of its numbers.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

namespace kestrova {

#ifdef KESTROVA_TRACE
inline constexpr bool kTraceOn = true;
#else
inline constexpr bool kTraceOn = false;
#endif

namespace detail {

template <class Part>
void AppendPart(std::string& line, const Part& part) {
  if constexpr (std::is_invocable_v<const Part&>)
    AppendPart(line, part());
  else if constexpr (std::is_arithmetic_v<Part>)
    line += std::to_string(part);
  else
    line += std::string_view(part);
}

}  // namespace detail

template <class... Parts>
inline int Log(const Parts&... parts) {
  if constexpr (kTraceOn) {
    std::string line;
    (detail::AppendPart(line, parts), ...);
    line += '\n';
    std::fputs(line.c_str(), stderr);
  }
  return 0;
}

}  // namespace kestrova
