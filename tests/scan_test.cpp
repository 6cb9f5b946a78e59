// The board scan against hand-worked positions, and against a slow reference scan written
// straight from the rules (every window, every ordered pair, a stable sort, the cut walk).
#include "patterns/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/board.h"
#include "patterns/templates.h"

namespace kestrova {
namespace {

struct Stone {
  int x, y, side;
};

Board WithWalls(const std::vector<Stone>& stones) {
  Board board{};
  ResetBoard(board);
  for (const Stone& s : stones) board.at(s.x, s.y) = static_cast<uint8_t>(s.side);
  return board;
}

// The game board before the first START: no ring at all.
Board WithoutWalls(const std::vector<Stone>& stones) {
  Board board{};
  for (const Stone& s : stones) board.at(s.x, s.y) = static_cast<uint8_t>(s.side);
  return board;
}

std::vector<Stone> Line(int x, int y, int dx, int dy, int length, int side) {
  std::vector<Stone> stones;
  for (int k = 0; k < length; ++k) stones.push_back({x + k * dx, y + k * dy, side});
  return stones;
}

std::vector<Stone> Join(std::vector<Stone> a, const std::vector<Stone>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---------------------------------------------------------------------------------------
// Reference scan. Deliberately slow and literal: nothing is skipped, nothing is grouped.

struct RefPoint {
  int32_t x, y, score, direction, side, bonusKind, ofMover;
};

struct RefScan {
  int32_t value = 0;
  bool five = false;
  std::vector<RefPoint> working;  // after the crossing bonuses, in collection order
  std::vector<RefPoint> list;     // the kept points, best first
};

// Cell k of a window in direction d is (i + k * kDx[d], j + k * kDy[d]).
constexpr int kDx[5] = {0, 1, 0, 1, -1};
constexpr int kDy[5] = {0, 0, 1, 1, 1};

// Window scan, point collection and crossing bonuses.
RefScan ReferenceWorkingList(const Patterns& patterns, const Board& board, int sideToMove) {
  struct Window {
    int i, j, direction, t;
  };
  std::vector<std::vector<Window>> buckets(311);
  RefScan r;
  for (int i = 0; i <= 21; ++i) {
    for (int j = 0; j <= 21; ++j) {
      for (int d = 1; d <= 4; ++d) {
        if (d == 4 && (i < 5 || j > 16)) continue;
        int code = 0;
        for (int k = 0; k < 6; ++k) code = code * 4 + board.at(i + k * kDx[d], j + k * kDy[d]);
        const int t = patterns.PatternLookup[code];
        if (t == 0) continue;
        const Template& tpl = patterns.Templates[t];
        buckets[tpl.value].push_back({i, j, d, t});
        if (tpl.value == 220) {
          r.five = true;
          r.value = t <= 90 ? 220 : -220;
          return r;
        }
      }
    }
  }
  for (int v = 310; v >= 1; --v) {
    for (const Window& w : buckets[v]) {
      const Template& tpl = patterns.Templates[w.t];
      for (int s = 1; s <= tpl.spotCount; ++s) {
        const int o = tpl.spots[s];
        r.working.push_back({w.i + o * kDx[w.direction], w.j + o * kDy[w.direction], v, w.direction,
                             tpl.side, 0, tpl.side == sideToMove ? 1 : 0});
      }
    }
  }
  std::vector<RefPoint>& pts = r.working;
  for (size_t a = 0; a < pts.size(); ++a) {
    for (size_t b = 0; b < pts.size(); ++b) {
      RefPoint& p = pts[a];
      const RefPoint& q = pts[b];
      if (p.x != q.x || p.y != q.y || p.direction == q.direction) continue;
      if (p.bonusKind >= 3 || q.bonusKind >= 3) continue;
      if (p.score < 30 || p.score > 85) continue;
      if (q.score >= 30 && q.side == p.side && q.bonusKind != 1) {
        p.score += 6;
        p.bonusKind = 1;
      }
      if (q.score == 30 && p.score == 30 && q.bonusKind != 3) {
        p.score += 11;
        p.bonusKind = 3;
      }
      if (q.score >= 70 && p.score >= 70 && q.bonusKind != 4) {
        p.score += 2;
        p.bonusKind = 4;
      }
      if (q.score >= 30 && q.side != p.side && q.bonusKind != 2) {
        p.score += 3;
        p.bonusKind = 2;
      }
    }
  }
  return r;
}

RefScan ReferenceScan(const Patterns& patterns, const Board& board, int sideToMove) {
  RefScan r = ReferenceWorkingList(patterns, board, sideToMove);
  if (r.five || r.working.empty()) return r;
  std::vector<RefPoint> sorted = r.working;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const RefPoint& a, const RefPoint& b) { return a.score > b.score; });
  const int32_t top = sorted[0].score;
  for (const RefPoint& p : sorted) {
    if (!r.list.empty() && ((top >= 180 && p.score < 180) || (top >= 70 && p.score < 56) ||
                            (top >= 60 && p.score < 50) || (top >= 50 && p.score < 35)))
      break;
    bool seen = false;
    for (const RefPoint& k : r.list) seen = seen || (k.x == p.x && k.y == p.y);
    if (seen) continue;
    r.list.push_back(p);
    if (r.list.size() == 11) break;
  }
  int32_t own = 0, opponent = 0;
  bool ownFound = false, opponentFound = false;
  for (const RefPoint& p : r.list) {
    if (p.side == 2 && !ownFound) own = p.score, ownFound = true;
    if (p.side == 3 && !opponentFound) opponent = p.score, opponentFound = true;
  }
  if (opponent > own)
    r.value = -opponent;
  else if (own > opponent)
    r.value = own;
  else
    r.value = sideToMove == 3 ? -(opponent / 10) : opponent / 10;
  return r;
}

// Five or more stones of one side in a row, found without any template.
int FiveOnBoard(const Board& board) {
  for (int x = 1; x <= 20; ++x)
    for (int y = 1; y <= 20; ++y)
      for (int d = 1; d <= 4; ++d) {
        const int side = board.at(x, y);
        if (side != 2 && side != 3) continue;
        int k = 1;
        while (k < 5) {
          const int xx = x + k * kDx[d], yy = y + k * kDy[d];
          if (xx < 1 || xx > 20 || yy < 1 || yy > 20 || board.at(xx, yy) != side) break;
          ++k;
        }
        if (k == 5) return side;
      }
  return 0;
}

std::string Describe(const std::vector<Stone>& stones) {
  std::ostringstream s;
  for (const Stone& st : stones) s << "(" << st.x << "," << st.y << ")=" << st.side << " ";
  return s.str();
}

template <typename Point>
void DescribePoint(std::ostream& s, const Point& p) {
  s << " (" << p.x << "," << p.y << " " << p.score << " s" << p.side << " b" << p.bonusKind << " m"
    << p.ofMover << ")";
}

bool SameList(const SPointList& a, const SPointList& b) {
  if (a.count() != b.count()) return false;
  for (int k = 1; k <= a.count(); ++k) {
    const SPoint &p = a[k], &q = b[k];
    if (p.x != q.x || p.y != q.y || p.score != q.score || p.side != q.side ||
        p.bonusKind != q.bonusKind || p.ofMover != q.ofMover)
      return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------

class ScanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    patterns_ = new Patterns;
    BuildTemplates(*patterns_);
  }
  static void TearDownTestSuite() {
    delete patterns_;
    patterns_ = nullptr;
  }

  int32_t Scan(const Board& board, int sideToMove) {
    // A list holding stale points must be replaced, never appended to.
    for (SPoint& p : list_.items) p = SPoint{7, 7, 99, 3, 5, 2, 1, 1};
    list_.items[0].score = 5;
    return scanner_.FindSPoints(board, list_, sideToMove);
  }

  const SPoint* PointAt(int x, int y) const {
    for (int k = 1; k <= list_.count(); ++k)
      if (list_[k].x == x && list_[k].y == y) return &list_[k];
    return nullptr;
  }

  static Patterns* patterns_;
  Scanner scanner_{*patterns_};
  SPointList list_;
};

Patterns* ScanTest::patterns_ = nullptr;

TEST_F(ScanTest, EmptyBoardHasNoPointsAndValueZero) {
  for (const Board& board : {WithWalls({}), WithoutWalls({})}) {
    for (int side : {2, 3}) {
      EXPECT_EQ(Scan(board, side), 0);
      EXPECT_EQ(list_.count(), 0);
    }
  }
}

TEST_F(ScanTest, FiveOrSixInEveryDirectionAndCornerEndsTheScan) {
  struct Anchor {
    int x, y;
  };
  // Corners, edge middles and the centre, with every direction that stays on the board.
  const Anchor anchors[] = {{1, 1},  {20, 1}, {1, 20},  {20, 20}, {1, 10},
                            {20, 9}, {9, 1},  {12, 20}, {10, 10}};
  const int dirs[4][2] = {{1, 0}, {0, 1}, {1, 1}, {-1, 1}};
  int cases = 0;
  for (int side : {2, 3}) {
    for (int length : {5, 6}) {
      for (const Anchor& a : anchors) {
        for (const auto& d : dirs) {
          for (int sign : {1, -1}) {
            const int dx = d[0] * sign, dy = d[1] * sign;
            const int ex = a.x + (length - 1) * dx, ey = a.y + (length - 1) * dy;
            if (!InPlayingArea(ex, ey)) continue;
            const std::vector<Stone> stones = Line(a.x, a.y, dx, dy, length, side);
            for (int toMove : {2, 3}) {
              EXPECT_EQ(Scan(WithWalls(stones), toMove), side == 2 ? 220 : -220)
                  << Describe(stones);
              EXPECT_EQ(list_.count(), 0) << Describe(stones);
            }
            ++cases;
          }
        }
      }
    }
  }
  EXPECT_GT(cases, 100);
}

TEST_F(ScanTest, AntiDiagonalFivesNearTheCorners) {
  const std::vector<std::vector<Stone>> lines = {
      {{5, 16, 2}, {4, 17, 2}, {3, 18, 2}, {2, 19, 2}, {1, 20, 2}},
      Line(5, 1, -1, 1, 5, 2),
      Line(20, 1, -1, 1, 5, 2),
      Line(20, 16, -1, 1, 5, 2),
      Line(6, 15, -1, 1, 5, 2),
  };
  for (const auto& stones : lines) {
    std::vector<Stone> other = stones;
    for (Stone& s : other) s.side = 3;
    EXPECT_EQ(Scan(WithWalls(stones), 2), 220) << Describe(stones);
    EXPECT_EQ(list_.count(), 0);
    EXPECT_EQ(Scan(WithWalls(other), 2), -220) << Describe(other);
    EXPECT_EQ(list_.count(), 0);
    EXPECT_EQ(Scan(WithoutWalls(stones), 3), 220) << "no walls: " << Describe(stones);
  }
}

TEST_F(ScanTest, FirstFiveInScanOrderDecidesWhenBothSidesHaveOne) {
  struct Row {
    const char* what;
    std::vector<Stone> a;  // the five met first in scan order
    std::vector<Stone> b;
  };
  const Row rows[] = {
      // Side a's first window starts at row 3, side b's at row 4.
      {"lower start row", Line(3, 10, 0, 1, 5, 0), Line(5, 2, 1, 0, 5, 0)},
      // Both first windows start in row 4: column 3 comes before column 11.
      {"same row, lower column", Line(5, 3, 1, 0, 5, 0), Line(4, 12, 0, 1, 5, 0)},
      // Both first windows start on (4,4): direction 1 is read before direction 2.
      {"same start cell, lower direction", Line(5, 4, 1, 0, 5, 0), Line(4, 5, 0, 1, 5, 0)},
      // Both start on (9,3), where b's own stone blocks a's diagonal five: direction 3
      // (diagonal) is read before direction 4 (anti-diagonal).
      {"diagonal before anti-diagonal", Line(10, 4, 1, 1, 5, 0), Line(9, 3, -1, 1, 5, 0)},
  };
  for (const Row& row : rows) {
    for (int first : {2, 3}) {
      std::vector<Stone> a = row.a, b = row.b;
      for (Stone& s : a) s.side = first;
      for (Stone& s : b) s.side = 5 - first;
      const Board board = WithWalls(Join(a, b));
      ASSERT_EQ(ReferenceScan(*patterns_, board, 2).value, first == 2 ? 220 : -220) << row.what;
      EXPECT_EQ(Scan(board, 2), first == 2 ? 220 : -220) << row.what << " first " << first;
      EXPECT_EQ(list_.count(), 0);
    }
  }
}

TEST_F(ScanTest, SingleStoneGivesElevenOfItsSixteenNeighboursAtThirty) {
  std::set<std::pair<int, int>> ring;
  const int dirs[4][2] = {{1, 0}, {0, 1}, {1, 1}, {-1, 1}};
  for (const auto& d : dirs)
    for (int k : {-2, -1, 1, 2}) ring.insert({10 + k * d[0], 10 + k * d[1]});
  ASSERT_EQ(ring.size(), 16u);
  for (int side : {2, 3}) {
    for (int toMove : {2, 3}) {
      const int32_t value = Scan(WithWalls({{10, 10, side}}), toMove);
      EXPECT_EQ(value, side == 2 ? 30 : -30);
      ASSERT_EQ(list_.count(), 11);
      std::set<std::pair<int, int>> seen;
      for (int k = 1; k <= 11; ++k) {
        const SPoint& p = list_[k];
        EXPECT_TRUE(ring.count({p.x, p.y})) << p.x << "," << p.y;
        seen.insert({p.x, p.y});
        EXPECT_EQ(p.score, 30);
        EXPECT_EQ(p.side, side);
        EXPECT_EQ(p.bonusKind, 0);
        EXPECT_EQ(p.ofMover, side == toMove ? 1 : 0);
      }
      EXPECT_EQ(seen.size(), 11u);
    }
  }
}

TEST_F(ScanTest, TwoStonesGiveFourFiftiesAndFourCrossings) {
  EXPECT_EQ(Scan(WithWalls({{10, 10, 2}, {10, 11, 2}}), 2), 50);
  ASSERT_EQ(list_.count(), 8);
  struct Expected {
    int x, y, score, bonusKind;
  };
  // Equal scores keep the order in which their cells were first met.
  const Expected expected[] = {{10, 8, 50, 0},  {10, 9, 50, 0}, {10, 12, 50, 0}, {10, 13, 50, 0},
                               {11, 11, 42, 1}, {9, 10, 42, 1}, {11, 10, 42, 1}, {9, 11, 42, 1}};
  for (int k = 1; k <= 8; ++k) {
    const SPoint& p = list_[k];
    const Expected& e = expected[k - 1];
    EXPECT_EQ(p.x, e.x) << "point " << k;
    EXPECT_EQ(p.y, e.y) << "point " << k;
    EXPECT_EQ(p.score, e.score) << "point " << k;
    EXPECT_EQ(p.bonusKind, e.bonusKind) << "point " << k;
    EXPECT_EQ(p.side, 2);
    EXPECT_EQ(p.ofMover, 1);
    EXPECT_EQ(p.direction, 0);
    EXPECT_EQ(p.template_, 0);
  }
}

TEST_F(ScanTest, TwoPairsTieAndLeanATenthTowardTheMover) {
  const Board board = WithWalls({{10, 10, 2}, {10, 11, 2}, {3, 3, 3}, {3, 4, 3}});
  const std::set<std::pair<int, int>> fifties = {{10, 8}, {10, 9}, {10, 12}, {10, 13},
                                                 {3, 1},  {3, 2},  {3, 5},   {3, 6}};
  const std::set<std::pair<int, int>> crossings = {{9, 10}, {9, 11}, {11, 10}, {11, 11}};
  for (int toMove : {2, 3}) {
    EXPECT_EQ(Scan(board, toMove), toMove == 2 ? 5 : -5);
    ASSERT_EQ(list_.count(), 11);
    int ownFifties = 0, opponentFifties = 0;
    for (int k = 1; k <= 8; ++k) {
      EXPECT_EQ(list_[k].score, 50);
      EXPECT_TRUE(fifties.count({list_[k].x, list_[k].y}));
      (list_[k].side == 2 ? ownFifties : opponentFifties)++;
      EXPECT_EQ(list_[k].ofMover, list_[k].side == toMove ? 1 : 0);
    }
    EXPECT_EQ(ownFifties, 4);
    EXPECT_EQ(opponentFifties, 4);
    for (int k = 9; k <= 11; ++k) {
      EXPECT_EQ(list_[k].score, 42);
      EXPECT_EQ(list_[k].side, 2);
      EXPECT_TRUE(crossings.count({list_[k].x, list_[k].y}));
    }
  }
}

TEST_F(ScanTest, FoursAndThrees) {
  struct Row {
    const char* what;
    std::vector<Stone> stones;
    int toMove;
    int32_t value;
    std::vector<SPoint> points;  // x, y, score, -, -, side, bonusKind, ofMover
  };
  const Row rows[] = {
      {"open four",
       Line(10, 8, 0, 1, 4, 2),
       2,
       190,
       {{10, 7, 190, 0, 0, 2, 0, 1}, {10, 12, 190, 0, 0, 2, 0, 1}}},
      {"open four, other side to move",
       Line(10, 8, 0, 1, 4, 2),
       3,
       190,
       {{10, 7, 190, 0, 0, 2, 0, 0}, {10, 12, 190, 0, 0, 2, 0, 0}}},
      {"four against the wall", Line(1, 1, 0, 1, 4, 2), 2, 180, {{1, 5, 180, 0, 0, 2, 0, 1}}},
      {"open three of side 3",
       Line(10, 9, 0, 1, 3, 3),
       2,
       -70,
       {{10, 8, 70, 0, 0, 3, 0, 0}, {10, 12, 70, 0, 0, 3, 0, 0}}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Scan(WithWalls(row.stones), row.toMove), row.value) << row.what;
    ASSERT_EQ(list_.count(), int(row.points.size())) << row.what;
    for (const SPoint& e : row.points) {
      const SPoint* p = PointAt(e.x, e.y);
      ASSERT_NE(p, nullptr) << row.what << " " << e.x << "," << e.y;
      EXPECT_EQ(p->score, e.score) << row.what;
      EXPECT_EQ(p->side, e.side) << row.what;
      EXPECT_EQ(p->bonusKind, e.bonusKind) << row.what;
      EXPECT_EQ(p->ofMover, e.ofMover) << row.what;
    }
  }
}

TEST_F(ScanTest, OpenThreesOfBothSidesTie) {
  const Board board = WithWalls(Join(Line(10, 9, 0, 1, 3, 2), Line(3, 9, 0, 1, 3, 3)));
  EXPECT_EQ(Scan(board, 2), 7);
  EXPECT_EQ(Scan(board, 3), -7);
}

TEST_F(ScanTest, CrossingBonuses) {
  struct Row {
    const char* what;
    std::vector<Stone> stones;
    int x, y;  // the crossing cell
    int score, side, bonusKind;
  };
  const Row rows[] = {
      // Two side-2 thirties cross: +6 from each of the two partner windows.
      {"same side", {{10, 10, 2}, {10, 11, 2}}, 9, 10, 42, 2, 1},
      // A side-3 fifty across a side-2 thirty.
      {"other side", {{10, 10, 2}, {12, 12, 3}, {13, 12, 3}}, 10, 12, 53, 3, 2},
      // Two thirties of opposite sides: +11, and the other-side +3 in the same pair.
      {"two thirties", {{10, 10, 2}, {12, 12, 3}}, 10, 12, 44, 3, 2},
      // Two open threes of side 2 share an end: 70 + 6 + 2, and the mark stops further pairs.
      {"two seventies", Join(Line(10, 9, 0, 1, 3, 2), Line(11, 12, 1, 0, 3, 2)), 10, 12, 78, 2, 4},
      // An open four's end never gains, whatever crosses it.
      {"190 gains nothing", Join(Line(10, 8, 0, 1, 4, 2), {{12, 12, 2}, {13, 12, 2}}), 10, 12, 190,
       2, 0},
      {"180 gains nothing", Join(Line(1, 1, 0, 1, 4, 2), {{3, 5, 3}, {4, 5, 3}}), 1, 5, 180, 2, 0},
  };
  for (const Row& row : rows) {
    const Board board = WithWalls(row.stones);
    Scan(board, 2);
    const SPoint* p = PointAt(row.x, row.y);
    ASSERT_NE(p, nullptr) << row.what;
    EXPECT_EQ(p->score, row.score) << row.what;
    EXPECT_EQ(p->side, row.side) << row.what;
    EXPECT_EQ(p->bonusKind, row.bonusKind) << row.what;
  }
}

TEST_F(ScanTest, WithoutWallsPatternsRunIntoTheRingAndMargin) {
  const std::vector<Stone> stones = {{20, 19, 2}, {20, 20, 2}};
  Scan(WithoutWalls(stones), 2);
  EXPECT_NE(PointAt(20, 21), nullptr);
  EXPECT_NE(PointAt(20, 22), nullptr);
  Scan(WithWalls(stones), 2);
  ASSERT_GT(list_.count(), 0);
  for (int k = 1; k <= list_.count(); ++k)
    EXPECT_TRUE(InPlayingArea(list_[k].x, list_[k].y)) << list_[k].x << "," << list_[k].y;
}

// ---------------------------------------------------------------------------------------
// Random and structured positions.

struct Position {
  Board board;
  int toMove;
  bool walls;
  std::string how;
};

class PositionMaker {
 public:
  explicit PositionMaker(uint32_t seed) : rng_(seed) {}

  Position Next() {
    const int style = Uniform(0, 6);
    std::vector<Stone> stones;
    std::string how;
    switch (style) {
      case 0:
        how = "sparse";
        Sparse(stones);
        break;
      case 1:
        how = "cluster";
        Cluster(stones);
        break;
      case 2:
        how = "lines";
        Lines(stones);
        break;
      case 3:
        how = "game";
        Game(stones);
        break;
      case 4:
        how = "edges";
        Edges(stones);
        break;
      case 5:
        how = "crowd";
        Crowd(stones);
        break;
      default:
        how = "crossing threes";
        CrossingThrees(stones);
        break;
    }
    Position pos;
    pos.walls = Uniform(0, 6) != 0;
    pos.board = pos.walls ? WithWalls(stones) : WithoutWalls(stones);
    pos.toMove = Uniform(2, 3);
    // A later stone on the same cell replaces the earlier one: the board is what counts,
    // even where the description lists a cell twice.
    pos.how = how + (pos.walls ? "" : " no walls") + ": " + Describe(stones);
    return pos;
  }

 private:
  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  int Side() { return Uniform(2, 3); }
  void Put(std::vector<Stone>& stones, int x, int y, int side) {
    if (InPlayingArea(x, y)) stones.push_back({x, y, side});
  }

  void Sparse(std::vector<Stone>& s) {
    const int n = Uniform(1, 40);
    for (int k = 0; k < n; ++k) Put(s, Uniform(1, 20), Uniform(1, 20), Side());
  }
  void Cluster(std::vector<Stone>& s) {
    const int cx = Uniform(1, 20), cy = Uniform(1, 20), r = Uniform(1, 4);
    const int n = Uniform(2, 20);
    for (int k = 0; k < n; ++k) Put(s, cx + Uniform(-r, r), cy + Uniform(-r, r), Side());
  }
  void Lines(std::vector<Stone>& s) {
    const int dirs[8][2] = {{1, 0}, {0, 1}, {1, 1}, {-1, 1}, {-1, 0}, {0, -1}, {-1, -1}, {1, -1}};
    const int lines = Uniform(1, 4);
    for (int l = 0; l < lines; ++l) {
      const auto& d = dirs[Uniform(0, 7)];
      const int length = Uniform(0, 9) == 0 ? Uniform(5, 6) : Uniform(2, 4);
      const int x = Uniform(1, 20), y = Uniform(1, 20), side = Side();
      for (int k = 0; k < length; ++k) {
        if (Uniform(0, 7) == 0) continue;  // a gap
        Put(s, x + k * d[0], y + k * d[1], side);
      }
      if (Uniform(0, 1)) Put(s, x - d[0], y - d[1], 5 - side);  // a blocker
    }
  }
  void Game(std::vector<Stone>& s) {
    const int moves = Uniform(3, 40);
    Put(s, Uniform(3, 18), Uniform(3, 18), 2);
    int side = 3;
    for (int m = 0; m < moves && !s.empty(); ++m) {
      const Stone& near = s[Uniform(0, int(s.size()) - 1)];
      Put(s, near.x + Uniform(-2, 2), near.y + Uniform(-2, 2), side);
      side = 5 - side;
    }
  }
  void Edges(std::vector<Stone>& s) {
    const int n = Uniform(2, 16);
    for (int k = 0; k < n; ++k) {
      int x = Uniform(1, 20), y = Uniform(1, 20);
      if (Uniform(0, 1))
        x = Uniform(0, 1) ? Uniform(1, 3) : Uniform(18, 20);
      else
        y = Uniform(0, 1) ? Uniform(1, 3) : Uniform(18, 20);
      Put(s, x, y, Side());
    }
  }
  // Open threes whose free ends meet on one cell, where the seventies' bonus applies.
  void CrossingThrees(std::vector<Stone>& s) {
    const int dirs[8][2] = {{1, 0}, {0, 1}, {1, 1}, {-1, 1}, {-1, 0}, {0, -1}, {-1, -1}, {1, -1}};
    const int cx = Uniform(1, 20), cy = Uniform(1, 20), side = Side();
    const int a = Uniform(0, 7);
    int b = Uniform(0, 7);
    if (b % 4 == a % 4) b = (b + 1) % 8;
    for (int d : {a, b}) {
      const int gap = Uniform(1, 2);
      for (int k = 0; k < 3; ++k)
        Put(s, cx + (gap + k) * dirs[d][0], cy + (gap + k) * dirs[d][1], side);
    }
    if (Uniform(0, 1)) Sparse(s);
  }
  void Crowd(std::vector<Stone>& s) {
    const int n = Uniform(60, 200);
    for (int k = 0; k < n; ++k) Put(s, Uniform(1, 20), Uniform(1, 20), Side());
  }

  std::mt19937 rng_;
};

TEST_F(ScanTest, MatchesTheReferenceScanOnThousandsOfPositions) {
  PositionMaker maker(20261206);
  Scanner fresh(*patterns_);
  struct Coverage {
    int ownFive = 0, opponentFive = 0, fullList = 0, ties = 0, cut = 0, noWalls = 0;
    int bonusKind[5] = {};
    int topBand[5] = {};  // >=180, 70.., 60.., 50.., below 50
  } seen;
  const int kPositions = 4000;
  int failures = 0;
  for (int n = 0; n < kPositions && failures < 5; ++n) {
    const Position pos = maker.Next();
    const RefScan ref = ReferenceScan(*patterns_, pos.board, pos.toMove);
    // One scanner reused for every position, plus a fresh one now and then: neither may
    // carry anything over from an earlier call.
    const int32_t value = Scan(pos.board, pos.toMove);
    bool same = value == ref.value && list_.count() == int(ref.list.size()) &&
                list_.items[0].x == 0 && list_.items[0].y == 0 && list_.items[0].side == 0;
    for (int k = 1; same && k <= list_.count(); ++k) {
      const SPoint& p = list_[k];
      const RefPoint& e = ref.list[k - 1];
      same = p.x == e.x && p.y == e.y && p.score == e.score && p.side == e.side &&
             p.bonusKind == e.bonusKind && p.ofMover == e.ofMover && p.direction == 0 &&
             p.template_ == 0;
    }
    if (n % 50 == 0) {
      SPointList other;
      same = same && fresh.FindSPoints(pos.board, other, pos.toMove) == value &&
             SameList(other, list_);
    }
    if (!same) {
      ++failures;
      std::ostringstream got, want;
      for (int k = 1; k <= list_.count(); ++k) DescribePoint(got, list_[k]);
      for (const RefPoint& e : ref.list) DescribePoint(want, e);
      ADD_FAILURE() << "position " << n << " (" << pos.how << "), to move " << pos.toMove
                    << "\n  value " << value << " list" << got.str() << "\n  want " << ref.value
                    << " list" << want.str();
    }
    if (ref.five) (ref.value > 0 ? seen.ownFive : seen.opponentFive)++;
    if (ref.list.size() == 11) ++seen.fullList;
    if (!ref.five && !pos.walls) ++seen.noWalls;
    if (!ref.list.empty()) {
      const int top = ref.list[0].score;
      seen.topBand[top >= 180 ? 0 : top >= 70 ? 1 : top >= 60 ? 2 : top >= 50 ? 3 : 4]++;
      int32_t own = 0, opponent = 0;
      for (const RefPoint& p : ref.list) {
        if (p.side == 2 && own == 0) own = p.score;
        if (p.side == 3 && opponent == 0) opponent = p.score;
      }
      if (own == opponent) ++seen.ties;
      std::set<std::pair<int, int>> cells;
      for (const RefPoint& p : ref.working) cells.insert({p.x, p.y});
      if (cells.size() > ref.list.size() && ref.list.size() < 11) ++seen.cut;
      for (const RefPoint& p : ref.list) seen.bonusKind[p.bonusKind]++;
    }
  }
  // The positions must reach every branch of the scan, or agreement proves little.
  EXPECT_GE(seen.ownFive, 20);
  EXPECT_GE(seen.opponentFive, 20);
  EXPECT_GE(seen.fullList, 200);
  EXPECT_GE(seen.ties, 20);
  EXPECT_GE(seen.cut, 200);
  EXPECT_GE(seen.noWalls, 200);
  for (int kind : {0, 1, 2, 4}) EXPECT_GE(seen.bonusKind[kind], 20) << "bonusKind " << kind;
  for (int band = 0; band < 5; ++band) EXPECT_GE(seen.topBand[band], 20) << "band " << band;
}

TEST_F(ScanTest, CutKeepsWhatTheTopScoreAllows) {
  // Threshold by the band of the top score; below 50 nothing is cut but the count.
  struct Band {
    int32_t top, threshold;
  };
  const Band bands[] = {{180, 180}, {70, 56}, {60, 50}, {50, 35}, {INT_MIN, INT_MIN}};
  int cutBelow[5] = {};
  PositionMaker maker(7);
  for (int n = 0; n < 2500; ++n) {
    const Position pos = maker.Next();
    const RefScan ref = ReferenceWorkingList(*patterns_, pos.board, pos.toMove);
    if (ref.five || ref.working.empty()) continue;
    std::map<std::pair<int, int>, int32_t> best;
    for (const RefPoint& p : ref.working) {
      auto [it, fresh] = best.insert({{p.x, p.y}, p.score});
      if (!fresh) it->second = std::max(it->second, p.score);
    }
    int32_t top = INT_MIN;
    for (const auto& [cell, score] : best) top = std::max(top, score);
    int band = 0;
    while (top < bands[band].top) ++band;
    const int32_t threshold = bands[band].threshold;
    size_t allowed = 0;
    for (const auto& [cell, score] : best) allowed += score >= threshold;
    if (allowed < best.size()) ++cutBelow[band];

    Scan(pos.board, pos.toMove);
    ASSERT_EQ(list_.count(), int(std::min<size_t>(allowed, 11))) << pos.how;
    ASSERT_EQ(list_[1].score, top) << pos.how;
    for (int k = 1; k <= list_.count(); ++k) {
      const auto it = best.find({list_[k].x, list_[k].y});
      ASSERT_NE(it, best.end()) << pos.how;
      // Each cell is listed with its best score, and the scores at least reach the bar.
      EXPECT_EQ(list_[k].score, it->second) << pos.how;
      EXPECT_GE(list_[k].score, threshold) << pos.how;
    }
    // Nothing better than the last listed point may have been left out.
    if (list_.count() == 11) {
      const int32_t last = list_[11].score;
      size_t better = 0;
      for (const auto& [cell, score] : best) better += score > last;
      EXPECT_LE(better, 10u) << pos.how;
    }
  }
  for (int band = 0; band < 4; ++band) EXPECT_GE(cutBelow[band], 10) << "band " << band;
}

TEST_F(ScanTest, ListInvariantsOnRandomPositions) {
  PositionMaker maker(99);
  for (int n = 0; n < 3000; ++n) {
    const Position pos = maker.Next();
    const int32_t value = Scan(pos.board, pos.toMove);
    const int five = FiveOnBoard(pos.board);
    ASSERT_EQ(value == 220 || value == -220, five != 0) << pos.how;
    if (five) {
      EXPECT_EQ(list_.count(), 0) << pos.how;
      continue;
    }
    ASSERT_LE(list_.count(), 11);
    ASSERT_GE(list_.count(), 0);
    std::set<std::pair<int, int>> cells;
    int32_t own = 0, opponent = 0;
    for (int k = 1; k <= list_.count(); ++k) {
      const SPoint& p = list_[k];
      if (k > 1) {
        EXPECT_LE(p.score, list_[k - 1].score) << pos.how;
      }
      EXPECT_TRUE(cells.insert({p.x, p.y}).second) << "twice: " << p.x << "," << p.y;
      EXPECT_EQ(pos.board.at(p.x, p.y), Empty) << pos.how;
      if (pos.walls) {
        EXPECT_TRUE(InPlayingArea(p.x, p.y)) << p.x << "," << p.y << " " << pos.how;
      }
      EXPECT_TRUE(p.side == 2 || p.side == 3);
      EXPECT_EQ(p.ofMover, p.side == pos.toMove ? 1 : 0);
      EXPECT_TRUE(p.bonusKind >= 0 && p.bonusKind <= 4);
      EXPECT_LE(p.score, 190);
      if (p.side == 2 && own == 0) own = p.score;
      if (p.side == 3 && opponent == 0) opponent = p.score;
    }
    const int32_t expected = own != opponent ? (own > opponent ? own : -opponent)
                                             : (pos.toMove == 2 ? 1 : -1) * (own / 10);
    EXPECT_EQ(value, expected) << pos.how;
  }
}

}  // namespace
}  // namespace kestrova
