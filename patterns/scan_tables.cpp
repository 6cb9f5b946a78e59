#include "patterns/scan_tables.h"

#include <algorithm>
#include <functional>

#include "patterns/candidates.h"

namespace kestrova {

ScanTables::ScanTables(const Patterns& patterns) : patterns(patterns) {
  for (int t = 1; t <= kTemplates; ++t) {
    int32_t v = patterns.Templates[t].value;
    if (v != kFiveValue &&
        std::find(bucketValue.begin(), bucketValue.end(), v) == bucketValue.end())
      bucketValue.push_back(v);
  }
  std::sort(bucketValue.begin(), bucketValue.end(), std::greater<>());
  bucketOf.fill(kNoBucket);
  for (int t = 1; t <= kTemplates; ++t) {
    int32_t v = patterns.Templates[t].value;
    if (v == kFiveValue) {
      bucketOf[t] = kFiveBucket;
    } else {
      bucketOf[t] = static_cast<uint8_t>(std::find(bucketValue.begin(), bucketValue.end(), v) -
                                         bucketValue.begin());
    }
  }
  reachable.resize(bucketValue.size());
  for (size_t bucket = 0; bucket < bucketValue.size(); ++bucket)
    for (int points = 0; points <= kCellSlots; ++points)
      reachable[bucket][points] = static_cast<int16_t>(BonusBound(bucketValue[bucket], points));
  for (int t = 1; t <= kTemplates; ++t)
    for (int d = 1; d <= 4; ++d)
      for (int s = 0; s < patterns.Templates[t].spotCount; ++s)
        spotOffset[t][d][s] = static_cast<int16_t>(patterns.Templates[t].spots[s + 1] * kStep[d]);
}

}  // namespace kestrova
