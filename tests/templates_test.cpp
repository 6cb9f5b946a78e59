#include <gtest/gtest.h>

#include <cstring>

#include "patterns/templates.h"

namespace kestrova {
namespace {

class TemplatesTest : public ::testing::Test {
 protected:
  void SetUp() override { count_ = BuildTemplates(p_); }
  Patterns p_;
  int32_t count_ = 0;
};

TEST_F(TemplatesTest, BuildsEveryTemplateAndItsCopy) {
  EXPECT_EQ(count_, 180);
  EXPECT_EQ(p_.TemplateCount, 180);
  int nonZero = 0;
  for (int32_t entry : p_.PatternLookup) nonZero += entry != 0;
  EXPECT_EQ(nonZero, 178);
  for (int t = 1; t <= 90; ++t) {
    const Template& a = p_.Templates[t];
    const Template& b = p_.Templates[90 + t];
    EXPECT_EQ(a.side, 2);
    EXPECT_EQ(b.side, 3);
    EXPECT_EQ(a.value, b.value);
    EXPECT_EQ(a.length, 6);
    EXPECT_EQ(b.spotCount, a.spotCount);
    for (int k = 0; k < 6; ++k) {
      const char swapped = a.pattern[k] == 'B' ? 'W' : a.pattern[k] == 'W' ? 'B' : a.pattern[k];
      EXPECT_EQ(b.pattern[k], swapped) << "template " << 90 + t;
    }
  }
}

TEST_F(TemplatesTest, ValueCounts) {
  struct Row {
    int value, count;
  };
  const Row rows[] = {{220, 7}, {190, 3}, {180, 22}, {70, 6}, {60, 20},
                      {50, 16}, {40, 10}, {30, 4},   {20, 2}};
  for (const Row& row : rows) {
    int n = 0;
    for (int t = 1; t <= 90; ++t) n += p_.Templates[t].value == row.value;
    EXPECT_EQ(n, row.count) << "value " << row.value;
  }
}

TEST_F(TemplatesTest, SpotsAndLookupEntries) {
  struct Row {
    int t;
    const char* pattern;
    int value, side, spotCount;
    int spots[4];
  };
  const Row rows[] = {
      {97, "SWWWWS", 190, 3, 2, {0, 5}},
      {60, "SSBBSS", 50, 2, 4, {0, 1, 4, 5}},
      {90, "BBBBBB", 220, 2, 0, {}},
      {3, "EBBBBB", 220, 2, 0, {}},
      {180, "WWWWWW", 220, 3, 0, {}},
      {89, "WBSSNN", 20, 2, 2, {2, 3}},
  };
  for (const Row& row : rows) {
    const Template& tpl = p_.Templates[row.t];
    EXPECT_STREQ(tpl.pattern, row.pattern);
    EXPECT_EQ(tpl.value, row.value);
    EXPECT_EQ(tpl.side, row.side);
    ASSERT_EQ(tpl.spotCount, row.spotCount);
    EXPECT_EQ(tpl.spots[0], 0);
    for (int k = 1; k <= row.spotCount; ++k) EXPECT_EQ(tpl.spots[k], row.spots[k - 1]);
  }
  // Identical templates 30 and 31 share an entry, which the later one holds.
  EXPECT_EQ(p_.PatternLookup[LookupIndex(2, 2, 2, 2, 0, 2)], 31);
  EXPECT_EQ(p_.PatternLookup[LookupIndex(3, 3, 3, 3, 0, 3)], 121);
  EXPECT_EQ(p_.PatternLookup[LookupIndex(0, 0, 0, 0, 0, 0)], 0);
  EXPECT_EQ(p_.PatternLookup[LookupIndex(1, 1, 1, 1, 1, 1)], 0);
  EXPECT_EQ(p_.PatternLookup[LookupIndex(0, 2, 2, 2, 2, 0)], 7);
  EXPECT_EQ(p_.PatternLookup[LookupIndex(1, 3, 3, 3, 3, 3)], 93);
}

// The scan skips windows without a stone; that is sound only while every template
// names a stone.
TEST_F(TemplatesTest, EveryTemplateHoldsAStone) {
  for (int t = 1; t <= 180; ++t)
    EXPECT_TRUE(std::strpbrk(p_.Templates[t].pattern, "BW") != nullptr) << "template " << t;
}

}  // namespace
}  // namespace kestrova
