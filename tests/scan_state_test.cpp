// The maintained windows against a full scan after every step of long random sequences
// of placing and taking back stones, on boards of several sizes and on one without walls;
// the shape counts behind the fitted leaf value, filed under the right side, and a value
// that swaps sign with the colours.
#include "patterns/scan_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "core/position_text.h"
#include "patterns/shape_value.h"
#include "tests/search_support.h"
#include "tests/threats_reference.h"

namespace kestrova {
namespace {

constexpr int kDi[4] = {1, 0, 1, -1}, kDj[4] = {0, 1, 1, 1};

TEST(ScanStateTest, FollowsRandomPlacingAndTakingBackOnEveryBoardSize) {
  const Patterns patterns = BuiltPatterns();
  Scanner scanner(patterns), full(patterns);
  ScanState state(scanner), rebuilt(scanner);
  std::mt19937 rng(20261207);
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(rng); };
  std::map<std::string, int> seen;
  for (const Rule rule : {Rule::Freestyle, Rule::ExactFive})
    for (int size : {20, 15, 7, 0}) {
      scanner.SetRule(rule);
      full.SetRule(rule);
      Board board{};  // size 0: no walls at all, as before the first START
      if (size) ResetBoard(board, size);
      const int n = size ? size : BoardSize;
      state.Reset(board);
      std::vector<int> stones;  // cells in the order placed
      for (int step = 0; step < 4000; ++step) {
        if (!stones.empty() && (uniform(0, 9) < 4 || stones.size() > 40)) {
          // Mostly the last stone, as a descent climbs back; now and then any stone.
          const size_t k = uniform(0, 4) ? stones.size() - 1 : uniform(0, int(stones.size()) - 1);
          board.cells[stones[k]] = Empty;
          state.Set(stones[k], Empty);
          stones.erase(stones.begin() + long(k));
        } else {
          // A random cell, an edge or corner cell, or the next cell along a line out of a
          // stone in the stone's colour, which makes fours and fives.
          int i = uniform(1, n), j = uniform(1, n), side = uniform(2, 3);
          if (uniform(0, 3) == 0) (uniform(0, 1) ? i : j) = uniform(0, 1) ? 1 : n;
          if (!stones.empty() && uniform(0, 1)) {
            const int from = stones[uniform(0, int(stones.size()) - 1)], d = uniform(0, 3);
            const int dir = uniform(0, 1) ? 1 : -1;
            side = board.cells[from];
            i = from / kGrid, j = from % kGrid;
            while (i >= 1 && i <= n && j >= 1 && j <= n && board.at(i, j) == side)
              i += dir * kDi[d], j += dir * kDj[d];
          }
          if (i < 1 || i > n || j < 1 || j > n || board.at(i, j) != Empty) continue;
          board.at(i, j) = uint8_t(side);
          state.Set(i * kGrid + j, uint8_t(side));
          stones.push_back(i * kGrid + j);
        }
        ASSERT_TRUE(state.board() == board);
        // The shape counts too, side by side, as a scan from scratch finds them.
        rebuilt.Reset(board);
        for (int side : {Own, Opponent})
          ASSERT_EQ(state.SideWindows(side), rebuilt.SideWindows(side))
              << "size " << size << " step " << step << " side " << side;
        for (int toMove : {Own, Opponent}) {
          SPointList got, want;
          const int32_t value = scanner.FindSPoints(state, got, toMove);
          const int32_t wantValue = full.FindSPoints(board, want, toMove);
          ASSERT_TRUE(value == wantValue && got.count() == want.count() &&
                      std::memcmp(&got.items, &want.items, sizeof got.items) == 0)
              << "size " << size << " step " << step << " to move " << toMove << "\n"
              << FormatPosition(board) << "value " << value << " want " << wantValue;
          if (rule == Rule::ExactFive) {
            // Six or more in a row is no five: the game goes on, and the list is made.
            ASSERT_EQ(std::abs(value) == 220, testing::HoldsFive(board, true))
                << FormatPosition(board);
            if (std::abs(value) != 220 && std::abs(wantValue) != 220) {
              SPointList freestyle;
              Scanner other(patterns);
              if (std::abs(other.FindSPoints(board, freestyle, toMove)) == 220) seen["six"]++;
            }
          }
          seen[std::abs(value) == 220               ? "five"
               : got.count() && got[1].score >= 180 ? "four"
                                                    : "other"]++;
          if (got.count() == 11) seen["full list"]++;
          for (int k = 1; k <= got.count(); ++k)
            seen["bonus " + std::to_string(got[k].bonusKind)]++;
        }
      }
    }
  for (const char* what : {"five", "four", "other", "full list", "bonus 1", "bonus 2", "bonus 4"})
    EXPECT_GE(seen[what], 200) << what;
  EXPECT_GE(seen["six"], 50);  // overlines that are not fives under the exact-five rule
}

// Bucket 2 holds the points that turn an open three into an open four, bucket 1 the five
// cell of a four.
constexpr int kThreeBucket = 2, kFourBucket = 1;

TEST(ShapeValueTest, TheOpenThreeIsItsSidesAndColoursSwapTheSign) {
  Scanner scanner(testing::TestPatterns());
  ScanState state(scanner);
  // An open three of side 3 alone: its windows are side 3's, none is side 2's.
  state.Reset(testing::Sparse(15, {{7, "....OOO"}}));
  EXPECT_GT(state.SideWindows(Opponent)[kThreeBucket], 0);
  EXPECT_EQ(state.SideWindows(Opponent)[kFourBucket], 0);
  for (int n : state.SideWindows(Own)) EXPECT_EQ(n, 0);

  const Board board = testing::Sparse(15, {{5, "......X"}, {7, "....OOO"}, {9, ".....X.X"}});
  for (int toMove : {Own, Opponent}) {
    SPointList spoints;
    state.Reset(board);
    const int32_t scan = scanner.FindSPoints(state, spoints, toMove);
    const int32_t value = ShapeValue(state, toMove, scan);
    EXPECT_LT(std::abs(value), 220);
    // Side 3's open three: a win for it on the move, a threat to answer for side 2.
    EXPECT_LT(value, toMove == Opponent ? -100 : 0);
    state.Reset(testing::Swapped(board));
    const int32_t swappedScan = scanner.FindSPoints(state, spoints, 5 - toMove);
    EXPECT_EQ(swappedScan, -scan);
    EXPECT_EQ(ShapeValue(state, 5 - toMove, swappedScan), -value);
  }
}

}  // namespace
}  // namespace kestrova
