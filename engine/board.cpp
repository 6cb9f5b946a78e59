#include "engine/board.h"

namespace kestrova {

void ClearPlayingArea(Board& board) {
  for (int i = 1; i <= BoardSize; ++i)
    for (int j = 1; j <= BoardSize; ++j) board.at(i, j) = Empty;
}

int ResetBoard(Board& board) {
  ClearPlayingArea(board);
  for (int k = 0; k <= BoardSize + 1; ++k) {
    board.at(k, 0) = Wall;
    board.at(k, BoardSize + 1) = Wall;
    board.at(0, k) = Wall;
    board.at(BoardSize + 1, k) = Wall;
  }
  return 0;
}

bool FirstEmptyCell(const Board& board, int& x, int& y, int from) {
  for (int i = from; i <= BoardSize; ++i)
    for (int j = from; j <= BoardSize; ++j)
      if (board.at(i, j) == Empty) {
        x = i;
        y = j;
        return true;
      }
  return false;
}

}  // namespace kestrova
