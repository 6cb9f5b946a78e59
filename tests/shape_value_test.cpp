// The shape counts behind the fitted leaf value: kept exact as stones come and go, filed under
// the right side, and a value that swaps sign with the colours.
#include "patterns/shape_value.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/search_support.h"

namespace kestrova {
namespace {

using testing::Sparse;

Board Swapped(Board board) {
  for (uint8_t& c : board.cells)
    if (c == Own || c == Opponent) c = uint8_t(5 - c);
  return board;
}

// Bucket 2 holds the points that turn an open three into an open four, bucket 1 the five
// cell of a four.
constexpr int kThreeBucket = 2, kFourBucket = 1;

TEST(ShapeValueTest, CountsFollowPlacingAndTakingBackAndNameTheirSide) {
  Scanner scanner(testing::TestPatterns());
  ScanState state(scanner), fresh(scanner);
  Board board{};
  ResetBoard(board, 15);
  state.Reset(board);
  std::mt19937 rng(7);
  std::vector<int> stones;
  for (int step = 0; step < 3000; ++step) {
    if (!stones.empty() && (rng() % 10 < 4 || stones.size() > 60)) {
      const size_t k = rng() % stones.size();
      board.cells[stones[k]] = Empty;
      state.Set(stones[k], Empty);
      stones.erase(stones.begin() + long(k));
    } else {
      const int cell = int(1 + rng() % 15) * kGrid + int(1 + rng() % 15);
      if (board.cells[cell] != Empty) continue;
      const auto side = uint8_t(Own + rng() % 2);
      board.cells[cell] = side;
      state.Set(cell, side);
      stones.push_back(cell);
    }
    fresh.Reset(board);
    for (int side : {Own, Opponent})
      ASSERT_EQ(state.SideWindows(side), fresh.SideWindows(side)) << "step " << step;
  }

  // An open three of side 3 alone: its windows are side 3's, none is side 2's.
  state.Reset(Sparse(15, {{7, "....OOO"}}));
  EXPECT_GT(state.SideWindows(Opponent)[kThreeBucket], 0);
  EXPECT_EQ(state.SideWindows(Opponent)[kFourBucket], 0);
  for (int n : state.SideWindows(Own)) EXPECT_EQ(n, 0);
}

TEST(ShapeValueTest, TheSideToMoveWithAnOpenThreeLeadsAndColoursSwapTheSign) {
  Scanner scanner(testing::TestPatterns());
  ScanState state(scanner);
  const Board board = Sparse(15, {{5, "......X"}, {7, "....OOO"}, {9, ".....X.X"}});
  for (int toMove : {Own, Opponent}) {
    SPointList spoints;
    state.Reset(board);
    const int32_t scan = scanner.FindSPoints(state, spoints, toMove);
    const int32_t value = ShapeValue(state, toMove, scan);
    EXPECT_LT(std::abs(value), 220);
    // Side 3's open three: a win for it on the move, a threat to answer for side 2.
    EXPECT_LT(value, toMove == Opponent ? -100 : 0);
    state.Reset(Swapped(board));
    const int32_t swappedScan = scanner.FindSPoints(state, spoints, 5 - toMove);
    EXPECT_EQ(swappedScan, -scan);
    EXPECT_EQ(ShapeValue(state, 5 - toMove, swappedScan), -value);
  }
}

}  // namespace
}  // namespace kestrova
