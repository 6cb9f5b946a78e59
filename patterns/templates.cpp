#include "patterns/templates.h"

#include <cstring>

namespace kestrova {
namespace {

struct WrittenTemplate {
  const char* pattern;
  int32_t value;
};

// Written templates in table order: element t of Templates is entry t - 1 here.
constexpr WrittenTemplate kWritten[kWrittenTemplates] = {
    {"SBBBBB", 220}, {"BBBBBS", 220}, {"EBBBBB", 220}, {"BBBBBE", 220}, {"WBBBBB", 220},
    {"BBBBBW", 220}, {"SBBBBS", 190}, {"BBBBSE", 190}, {"ESBBBB", 190}, {"WBBBBS", 180},
    {"SBBBBW", 180}, {"NBSBBB", 180}, {"NBBSBB", 180}, {"BBSBBN", 180}, {"BBBSBN", 180},
    {"BBBSBW", 180}, {"BBSBBW", 180}, {"BSBBBW", 180}, {"WBBBSB", 180}, {"WBBSBB", 180},
    {"WBSBBB", 180}, {"EBBBBS", 180}, {"SBBBBE", 180}, {"BBBSBE", 180}, {"BBSBBE", 180},
    {"BSBBBE", 180}, {"EBBBSB", 180}, {"EBBSBB", 180}, {"EBSBBB", 180}, {"BBBBSB", 180},
    {"BBBBSB", 180}, {"NSBBBS", 70},  {"SBBBSN", 70},  {"SBSBBS", 70},  {"SBBSBS", 70},
    {"SBBBSE", 70},  {"ESBBBS", 70},  {"WBBBSS", 60},  {"SSBBBW", 60},  {"SBSBBW", 60},
    {"SBBSBW", 60},  {"WBSBBS", 60},  {"WBBSBS", 60},  {"WBSBSB", 60},  {"BSBSBW", 60},
    {"BBSSBN", 60},  {"NBBSSB", 60},  {"BSBSBS", 60},  {"SBSBSB", 60},  {"EBBBSS", 60},
    {"SSBBBE", 60},  {"SBSBBE", 60},  {"SBBSBE", 60},  {"EBSBBS", 60},  {"EBBSBS", 60},
    {"EBSBSB", 60},  {"BSBSBE", 60},  {"SBSBSE", 50},  {"ESBSBS", 50},  {"SSBBSS", 50},
    {"SBBSSN", 50},  {"NSSBBS", 50},  {"WNSBBS", 50},  {"SSBBNW", 50},  {"NWNBBS", 50},
    {"SBBSNW", 50},  {"WNBBSS", 50},  {"SBBNWN", 50},  {"NSBSBS", 50},  {"SBSBSN", 50},
    {"SBSBSW", 50},  {"WSBSBS", 50},  {"SBSSBS", 50},  {"SBSSBW", 40},  {"WBSSBS", 40},
    {"WBBSSN", 40},  {"NSSBBW", 40},  {"WBSBSN", 40},  {"NSBSBW", 40},  {"EBBSSN", 40},
    {"NSSBBE", 40},  {"EBSBSN", 40},  {"NSBSBE", 40},  {"NSBSSN", 30},  {"NSSBSN", 30},
    {"WSBSNN", 30},  {"NNSBSW", 30},  {"NNSSBW", 20},  {"WBSSNN", 20},  {"BBBBBB", 220},
};

int LetterCode(char letter) {
  switch (letter) {
    case 'E':
      return 1;
    case 'B':
      return 2;
    case 'W':
      return 3;
    default:
      return 0;  // S and N both match an empty cell
  }
}

char SwapColour(char letter) {
  if (letter == 'B') return 'W';
  if (letter == 'W') return 'B';
  return letter;
}

}  // namespace

int32_t BuildTemplates(Patterns& patterns) {
  auto& templates = patterns.Templates;
  templates = {};
  patterns.PatternLookup = {};
  for (int t = 1; t <= kWrittenTemplates; ++t) {
    Template& tpl = templates[t];
    std::memcpy(tpl.pattern, kWritten[t - 1].pattern, 7);
    tpl.value = kWritten[t - 1].value;
    tpl.length = static_cast<int32_t>(std::strlen(tpl.pattern));
    tpl.side = 2;
  }
  for (int t = 1; t <= kWrittenTemplates; ++t) {
    Template& copy = templates[kWrittenTemplates + t];
    for (int k = 0; k < 7; ++k) copy.pattern[k] = SwapColour(templates[t].pattern[k]);
    copy.value = templates[t].value;
    copy.length = templates[t].length;
    copy.side = 3;
  }
  for (int t = 1; t <= kTemplates; ++t) {
    Template& tpl = templates[t];
    for (int k = 0; k < 6; ++k)
      if (tpl.pattern[k] == 'S') tpl.spots[++tpl.spotCount] = static_cast<int8_t>(k);
  }
  // A later template overwrites an earlier one with the same six codes.
  for (int t = 1; t <= kTemplates; ++t) {
    const char* p = templates[t].pattern;
    patterns.PatternLookup[LookupIndex(LetterCode(p[0]), LetterCode(p[1]), LetterCode(p[2]),
                                       LetterCode(p[3]), LetterCode(p[4]), LetterCode(p[5]))] = t;
  }
  patterns.TemplateCount = kTemplates;
  return kTemplates;
}

Patterns BuiltPatterns() {
  Patterns patterns;
  BuildTemplates(patterns);
  return patterns;
}

}  // namespace kestrova
