// The template table and the lookup built from it.
#include "patterns/templates.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <utility>

namespace kestrova {
namespace {

TEST(TemplatesTest, WrittenTemplatesTheirColourSwappedCopiesAndValueCounts) {
  Patterns p;
  EXPECT_EQ(BuildTemplates(p), 180);
  EXPECT_EQ(p.TemplateCount, 180);
  std::map<int, int> perValue;
  for (int t = 1; t <= 90; ++t) {
    const Template &a = p.Templates[t], &b = p.Templates[90 + t];
    EXPECT_TRUE(a.side == 2 && b.side == 3 && a.value == b.value && a.length == 6 &&
                b.spotCount == a.spotCount)
        << "template " << t;
    for (int k = 0; k < 6; ++k)
      EXPECT_EQ(b.pattern[k], a.pattern[k] == 'B' ? 'W' : a.pattern[k] == 'W' ? 'B' : a.pattern[k]);
    // The scan skips windows without a stone; that is sound only while every template
    // names one.
    EXPECT_TRUE(std::strpbrk(a.pattern, "B") != nullptr) << "template " << t;
    perValue[a.value]++;
  }
  const std::map<int, int> expected = {{220, 7}, {190, 3}, {180, 22}, {70, 6}, {60, 20},
                                       {50, 16}, {40, 10}, {30, 4},   {20, 2}};
  EXPECT_EQ(perValue, expected);
}

TEST(TemplatesTest, SpotsAndLookupEntries) {
  Patterns p;
  BuildTemplates(p);
  struct Row {
    int t;
    const char* pattern;
    int value, side, spotCount;
    int spots[4];
  };
  const Row rows[] = {
      {97, "SWWWWS", 190, 3, 2, {0, 5}}, {60, "SSBBSS", 50, 2, 4, {0, 1, 4, 5}},
      {90, "BBBBBB", 220, 2, 0, {}},     {3, "EBBBBB", 220, 2, 0, {}},
      {180, "WWWWWW", 220, 3, 0, {}},    {89, "WBSSNN", 20, 2, 2, {2, 3}},
  };
  for (const Row& row : rows) {
    const Template& tpl = p.Templates[row.t];
    EXPECT_STREQ(tpl.pattern, row.pattern);
    EXPECT_TRUE(tpl.value == row.value && tpl.side == row.side && tpl.spots[0] == 0) << row.t;
    ASSERT_EQ(tpl.spotCount, row.spotCount);
    for (int k = 1; k <= row.spotCount; ++k) EXPECT_EQ(tpl.spots[k], row.spots[k - 1]) << row.t;
  }
  // Cell codes: 0 empty (S or N), 1 wall (E), 2 side 2 (B), 3 side 3 (W). Identical
  // templates 30 and 31 share an entry, which the later one holds.
  const std::pair<int, int> entries[] = {
      {LookupIndex(2, 2, 2, 2, 0, 2), 31}, {LookupIndex(3, 3, 3, 3, 0, 3), 121},
      {LookupIndex(0, 0, 0, 0, 0, 0), 0},  {LookupIndex(1, 1, 1, 1, 1, 1), 0},
      {LookupIndex(0, 2, 2, 2, 2, 0), 7},  {LookupIndex(1, 3, 3, 3, 3, 3), 93}};
  for (const auto& [index, t] : entries) EXPECT_EQ(p.PatternLookup[index], t) << index;
  int entriesSet = 0;
  for (int32_t entry : p.PatternLookup) entriesSet += entry != 0;
  EXPECT_EQ(entriesSet, 178);  // 30 and 31 are identical, and so are their copies
}

}  // namespace
}  // namespace kestrova
