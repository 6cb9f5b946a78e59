// The engine's shape knowledge: six-cell templates and the table that maps any six cell
// codes straight to the template describing them.
#pragma once

#include <array>
#include <cstdint>

namespace kestrova {

constexpr int kWrittenTemplates = 90;
constexpr int kTemplates = 2 * kWrittenTemplates;
constexpr int kLookupSize = 4096;

struct Template {
  char pattern[7];  // six letters S N B W E, NUL-terminated
  int32_t spotCount;
  int8_t spots[6];  // entries 1..spotCount: 0-based places of the S letters
  int32_t side;     // 2 for the written templates, 3 for their colour-swapped copies
  int32_t value;
  int32_t length;
};

struct Patterns {
  std::array<Template, kTemplates + 1> Templates{};  // element 0 never holds a template
  std::array<int32_t, kLookupSize> PatternLookup{};  // template number or 0
  int32_t TemplateCount = 0;
};

// Fills Templates and PatternLookup; returns the number of templates (180).
int32_t BuildTemplates(Patterns& patterns);

// A table already built, for every holder of its own copy.
Patterns BuiltPatterns();

// Index of six cell codes in PatternLookup, the first cell the most significant digit.
constexpr int LookupIndex(int c1, int c2, int c3, int c4, int c5, int c6) {
  return c1 * 1024 + c2 * 256 + c3 * 64 + c4 * 16 + c5 * 4 + c6;
}

}  // namespace kestrova
