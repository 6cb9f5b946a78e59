// The bench's signature is the search's fingerprint: any change of search behaviour must
// come with a deliberate edit of the committed signature.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/engine_process.h"

namespace kestrova {
namespace {

TEST(BenchTest, SignatureMatchesTheCommittedOne) {
  std::ifstream file(KESTROVA_SIGNATURE_FILE);
  std::string expected;
  ASSERT_TRUE(file >> expected) << "cannot read " << KESTROVA_SIGNATURE_FILE;

  // The tree probe's speeds come after the plain searches, which it leaves as they are.
  for (const bool probe : {false, true}) {
    Subprocess bench;
    std::vector<std::string> command = {testing::ToolPath(), "bench"};
    if (probe) command.push_back("--tree-probe");
    ASSERT_TRUE(bench.Start(command));
    const std::string output = bench.ReadAll(300000);
    int status = -1;
    ASSERT_TRUE(bench.Wait(10000, &status));
    EXPECT_EQ(status, 0);
    const size_t at = output.find("Signature: ");
    ASSERT_NE(at, std::string::npos) << output;
    EXPECT_EQ(output.substr(at + 11, 16), expected) << output;
    EXPECT_TRUE(testing::Holds(output, "Nodes searched: "));
    EXPECT_EQ(output.find("Tree probe on the ") != std::string::npos, probe) << output;
  }
}

}  // namespace
}  // namespace kestrova
