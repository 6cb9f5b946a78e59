// The engine must keep its whole process under the manager's max_memory: a tournament
// manager checks it every move and a process over it loses. The tree grows with every long
// turn and is kept from move to move (without the bound it passes 100 MB within about ten
// 2-second turns), so two engines play a game of 2-second turns under kestrova match, which
// enforces the limit as tournaments do and reports each engine's peak resident memory. A
// minute of game time each bounds the test's length whatever the game: about sixteen long
// turns a side, then the short turns of a nearly spent clock. One engine searches on two
// threads, which share the one store the bound is set for.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/engine_process.h"

namespace kestrova::testing {
namespace {

TEST(ProcessMemoryTest, PeakResidentMemoryStaysUnderMaxMemory) {
  if (const char* other = std::getenv("KESTROVA_ENGINE"); other && *other)
    GTEST_SKIP() << "peak memory is read from /proc for the native engine only";
  const std::string engine = KESTROVA_ENGINE_PATH;
  Subprocess match;
  // A searches on two threads: their shared tree fills the same bounded store twice as fast.
  ASSERT_TRUE(match.Start({ToolPath(), "match", engine + " --threads 2", engine, "--games", "1",
                           "--turn", "2000", "--match", "60000", "--memory", "104857600"}));
  const std::string out = match.ReadAll(280000);
  int status = -1;
  EXPECT_TRUE(match.Wait(10000, &status) && status == 0) << out;
  EXPECT_TRUE(Holds(out, "lost by time, memory or forfeit: A 0, B 0"));
  double peakA = 0, peakB = 0;
  const size_t at = out.find("peak memory: ");
  ASSERT_NE(at, std::string::npos) << out;
  ASSERT_EQ(std::sscanf(out.c_str() + at, "peak memory: A %lf MiB, B %lf MiB", &peakA, &peakB), 2);
  // The bound must have been reached for, or the games proved nothing.
  EXPECT_GT(std::max(peakA, peakB), 30.0) << out;
  EXPECT_LT(std::max(peakA, peakB), 100.0) << out;
  std::printf("peak resident memory %.1f MiB and %.1f MiB, max_memory 100 MiB\n", peakA, peakB);
}

}  // namespace
}  // namespace kestrova::testing
