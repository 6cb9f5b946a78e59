// The board scan against a slow reference scan written straight from the rules (every
// window, every ordered pair, a stable sort, the cut walk) on thousands of positions, and
// against hand-worked positions for what the reference shares with the scan.
#include "patterns/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/board.h"
#include "core/position_text.h"
#include "patterns/templates.h"
#include "tests/threats_reference.h"

namespace kestrova {
namespace {

struct Stone {
  int x, y, side;
};

// Without walls is the game board before the first START: no ring at all. Swapped puts
// each stone in the other colour; stones off the size x size board are left out.
Board MakeBoard(const std::vector<Stone>& stones, bool walls = true, bool swapped = false,
                int size = BoardSize) {
  Board board{};
  if (walls) ResetBoard(board, size);
  for (const Stone& s : stones)
    if (InPlayingArea(s.x, s.y, size)) board.at(s.x, s.y) = uint8_t(swapped ? 5 - s.side : s.side);
  return board;
}

// The stones of a line, after the given ones.
std::vector<Stone> Line(int x, int y, int dx, int dy, int length, int side,
                        std::vector<Stone> stones = {}) {
  for (int k = 0; k < length; ++k) stones.push_back({x + k * dx, y + k * dy, side});
  return stones;
}

std::string Describe(const Board& board) {
  return (board.at(0, 0) == Wall ? "\n" : " without walls\n") + FormatPosition(board);
}

// Reference scan: deliberately slow and literal, nothing skipped, nothing grouped.
struct RefScan {
  int32_t value = 0;
  std::vector<SPoint> list;  // the kept points, best first
  bool cut = false;          // the walk stopped at the bar the top score sets
};

constexpr int kDx[5] = {0, 1, 0, 1, -1};
constexpr int kDy[5] = {0, 0, 1, 1, 1};

RefScan ReferenceScan(const Patterns& patterns, const Board& board, int sideToMove) {
  RefScan r;
  std::vector<std::vector<SPoint>> byValue(311);  // points of each template value, scan order
  for (int i = 0; i <= 21; ++i)
    for (int j = 0; j <= 21; ++j)
      for (int d = 1; d <= 4; ++d) {
        if (d == 4 && (i < 5 || j > 16)) continue;
        int code = 0;
        for (int k = 0; k < 6; ++k) code = code * 4 + board.at(i + k * kDx[d], j + k * kDy[d]);
        const int t = patterns.PatternLookup[code];
        if (t == 0) continue;
        const Template& tpl = patterns.Templates[t];
        if (tpl.value == 220) return {tpl.side == 2 ? 220 : -220, {}, false};
        for (int s = 1; s <= tpl.spotCount; ++s)
          byValue[tpl.value].push_back({i + tpl.spots[s] * kDx[d], j + tpl.spots[s] * kDy[d],
                                        tpl.value, d, 0, tpl.side, 0, tpl.side == sideToMove});
      }
  std::vector<SPoint> pts;  // in collection order
  for (int v = 310; v >= 1; --v) pts.insert(pts.end(), byValue[v].begin(), byValue[v].end());
  // Crossing bonuses: every ordered pair of points on one cell in different directions.
  for (SPoint& p : pts)
    for (const SPoint& q : pts) {
      if (p.x != q.x || p.y != q.y || p.direction == q.direction) continue;
      if (p.bonusKind >= 3 || q.bonusKind >= 3 || p.score < 30 || p.score > 85) continue;
      if (q.score >= 30 && q.side == p.side && q.bonusKind != 1) p.score += 6, p.bonusKind = 1;
      if (q.score == 30 && p.score == 30 && q.bonusKind != 3) p.score += 11, p.bonusKind = 3;
      if (q.score >= 70 && p.score >= 70 && q.bonusKind != 4) p.score += 2, p.bonusKind = 4;
      if (q.score >= 30 && q.side != p.side && q.bonusKind != 2) p.score += 3, p.bonusKind = 2;
    }
  std::stable_sort(pts.begin(), pts.end(),
                   [](const SPoint& a, const SPoint& b) { return a.score > b.score; });
  const int32_t top = pts.empty() ? 0 : pts[0].score;
  std::set<std::pair<int, int>> listed;
  for (SPoint p : pts) {
    if (!r.list.empty() && ((top >= 180 && p.score < 180) || (top >= 70 && p.score < 56) ||
                            (top >= 60 && p.score < 50) || (top >= 50 && p.score < 35))) {
      r.cut = true;
      break;
    }
    if (!listed.insert({p.x, p.y}).second) continue;
    p.direction = 0;
    r.list.push_back(p);
    if (r.list.size() == 11) break;
  }
  int32_t own = 0, opponent = 0;  // the first listed score of each side
  for (auto p = r.list.rbegin(); p != r.list.rend(); ++p)
    (p->side == 2 ? own : opponent) = p->score;
  r.value = own != opponent ? (own > opponent ? own : -opponent)
                            : (sideToMove == 2 ? own / 10 : -(own / 10));
  return r;
}

std::string DescribeList(const std::vector<SPoint>& list) {
  std::ostringstream s;
  for (const SPoint& p : list)
    s << " (" << p.x << "," << p.y << " " << p.score << " s" << p.side << " b" << p.bonusKind
      << " m" << p.ofMover << (p.direction || p.template_ ? " stale" : "") << ")";
  return s.str();
}

// Scans into a list full of stale points, which must be replaced, never appended to.
std::vector<SPoint> Scan(Scanner& scanner, const Board& board, int toMove, int32_t* value) {
  SPointList list;
  for (SPoint& p : list.items) p = SPoint{7, 7, 99, 3, 5, 2, 1, 1};
  list.items[0].score = 5;
  *value = scanner.FindSPoints(board, list, toMove);
  EXPECT_TRUE(list.items[0].x == 0 && list.items[0].y == 0 && list.items[0].side == 0);
  return {list.items.begin() + 1, list.items.begin() + 1 + list.count()};
}

// Random positions on a size x size board: stones scattered around a centre (sparse to
// crowded, near an edge or not), and lines out of that centre with gaps and blockers, so
// that threes of one side often meet on a free cell.
Board RandomPosition(std::mt19937& rng, int size) {
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(rng); };
  std::vector<Stone> s;
  const int cx = uniform(1, size), cy = uniform(1, size), r = uniform(1, (size + 1) / 2),
            from = uniform(1, 2);
  const int scattered = uniform(0, 5) == 0 ? uniform(60, 200) : uniform(0, 1) * uniform(1, 30);
  for (int k = 0; k < scattered; ++k)
    s.push_back({cx + uniform(-r, r), cy + uniform(-r, r), uniform(2, 3)});
  // Now and then two whole threes of one side, whose free ends may meet on the centre.
  const bool threes = uniform(0, 3) == 0;
  for (int lines = threes ? 2 : uniform(scattered ? 0 : 1, 3), side = uniform(2, 3); lines > 0;
       --lines, side = threes ? side : uniform(2, 3)) {
    const int dx = uniform(-1, 1), dy = dx ? uniform(-1, 1) : 1 - 2 * uniform(0, 1);
    const int length = threes ? 3 : uniform(0, 9) == 0 ? uniform(5, 6) : uniform(2, 4);
    for (int k = from; k < from + length; ++k)
      if (threes || uniform(0, 9) != 0) s.push_back({cx + k * dx, cy + k * dy, side});
    if (!threes && uniform(0, 1))
      s.push_back({cx + (from + length) * dx, cy + (from + length) * dy, 5 - side});
  }
  // Small boards always have their walls: only the 20x20 one is ever used without.
  return MakeBoard(s, size < BoardSize || uniform(0, 6) != 0, false, size);
}

TEST(ScanTest, MatchesTheReferenceScanOnThousandsOfPositions) {
  Patterns patterns;
  BuildTemplates(patterns);
  Scanner scanner(patterns);
  std::mt19937 rng(20261206);
  std::map<std::string, int> seen;
  for (int n = 0; n < 8000; ++n) {
    // Every board size is the same array with more of it walled off.
    const int size = n % 4 == 1 ? 15 : n % 4 == 3 ? 7 : BoardSize;
    const Board board = RandomPosition(rng, size);
    const int toMove = 2 + n % 2;
    const RefScan ref = ReferenceScan(patterns, board, toMove);
    // One scanner reused for every position, and a fresh one now and then: neither may
    // carry anything over from an earlier call.
    Scanner fresh(patterns);
    int32_t value = 0;
    const std::string got = DescribeList(Scan(n % 50 ? scanner : fresh, board, toMove, &value));
    // The five test also against stones counted without templates.
    ASSERT_TRUE(value == ref.value && got == DescribeList(ref.list) &&
                (std::abs(value) == 220) == testing::HoldsFive(board))
        << "position " << n << " to move " << toMove << Describe(board) << "value " << value
        << " list" << got << "\nwant " << ref.value << " list" << DescribeList(ref.list);
    if (std::abs(ref.value) == 220) seen[ref.value > 0 ? "own five" : "opponent five"]++;
    if (ref.list.empty()) continue;
    seen["size " + std::to_string(size)]++;
    if (board.at(0, 0) != Wall) seen["no walls"]++;
    if (ref.list.size() == 11) seen["full list"]++;
    if (std::abs(ref.value) < 20) seen["tie"]++;  // a tie is a tenth of a score of 20..190
    const int top = ref.list[0].score;
    seen["top " + std::to_string(top >= 180 ? 180 : top >= 50 ? std::min(top / 10 * 10, 70) : 0)]++;
    if (ref.cut) seen["cut"]++;
    for (const SPoint& p : ref.list) seen["bonus " + std::to_string(p.bonusKind)]++;
  }
  // The positions must reach every branch of the scan, or agreement proves little.
  for (const char* branch : {"own five", "opponent five", "no walls", "full list", "tie", "cut",
                             "top 180", "top 70", "top 60", "top 50", "top 0", "bonus 0", "bonus 1",
                             "bonus 2", "bonus 4", "size 15", "size 7"})
    EXPECT_GE(seen[branch], 100) << branch;
}

// Hand-worked positions: each also runs with the colours and the side to move swapped,
// which negates the value and swaps the side of every point.
TEST(ScanTest, HandWorkedPositions) {
  struct Case {
    std::string what;
    std::vector<Stone> stones;
    int toMove, value;
    bool exact;                  // points are the whole list in order, or just some of it
    std::vector<SPoint> points;  // x, y, score, -, -, side, bonusKind
    bool walls = true;
  };
  const auto at = [](int x, int y, int score, int side, int bonusKind = 0) {
    return SPoint{x, y, score, 0, 0, side, bonusKind, 0};
  };
  // clang-format off
  const Case cases[] = {
      // Both sides have a five: the first met in scan order (start row, then column, then
      // direction, the diagonal before the anti-diagonal) decides.
      {"lower start row", Line(5, 2, 1, 0, 5, 3, Line(3, 10, 0, 1, 5, 2)), 2, 220, true, {}},
      {"diagonal first", Line(9, 3, -1, 1, 5, 3, Line(10, 4, 1, 1, 5, 2)), 3, 220, true, {}},
      // Equal scores keep the order in which their cells were first met; two diagonal
      // thirties of one side cross at 30 + 6 + 6.
      {"two stones", {{10, 10, 2}, {10, 11, 2}}, 2, 50, true,
       {at(10, 8, 50, 2), at(10, 9, 50, 2), at(10, 12, 50, 2), at(10, 13, 50, 2),
        at(11, 11, 42, 2, 1), at(9, 10, 42, 2, 1), at(11, 10, 42, 2, 1), at(9, 11, 42, 2, 1)}},
      // A tie leans a tenth toward the side to move; two thirties cross at +11, and with the
      // other side's +3.
      {"two thirties", {{10, 10, 2}, {12, 12, 3}}, 3, -4, false, {at(10, 12, 44, 3, 2)}},
      // Fours and threes, and the cut below them.
      {"open four", Line(10, 8, 0, 1, 4, 2), 3, 190, true, {at(10, 7, 190, 2), at(10, 12, 190, 2)}},
      {"four against the wall", Line(1, 1, 0, 1, 4, 2), 2, 180, true, {at(1, 5, 180, 2)}},
      {"open three of side 3", Line(10, 9, 0, 1, 3, 3), 2, -70, true,
       {at(10, 8, 70, 3), at(10, 12, 70, 3)}},
      // Without walls patterns run into the ring and the margin.
      {"no walls", {{20, 19, 2}, {20, 20, 2}}, 2, 50, false, {at(20, 21, 50, 2), at(20, 22, 50, 2)},
       false},
  };
  // clang-format on
  Patterns patterns;
  BuildTemplates(patterns);
  Scanner scanner(patterns);
  for (const Case& c : cases) {
    for (bool swapped : {false, true}) {
      const int toMove = swapped ? 5 - c.toMove : c.toMove;
      const Board board = MakeBoard(c.stones, c.walls, swapped);
      const std::string what = c.what + (swapped ? ", swapped" : "") + Describe(board);
      std::vector<SPoint> want = c.points;
      for (SPoint& e : want) e.ofMover = (e.side = swapped ? 5 - e.side : e.side) == toMove;
      int32_t value = 0;
      const std::string list = DescribeList(Scan(scanner, board, toMove, &value));
      EXPECT_EQ(value, swapped ? -c.value : c.value) << what;
      EXPECT_EQ(ReferenceScan(patterns, board, toMove).value, value) << "reference " << what;
      if (c.exact) {
        EXPECT_EQ(list, DescribeList(want)) << what;
      }
      for (const SPoint& e : want)
        EXPECT_NE(list.find(DescribeList({e})), std::string::npos) << what << " lacks" << list;
    }
  }
}

}  // namespace
}  // namespace kestrova
