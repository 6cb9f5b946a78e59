#include "core/board.h"

namespace kestrova {

void ClearPlayingArea(Board& board) {
  for (int i = 1; i <= BoardSize; ++i)
    for (int j = 1; j <= BoardSize; ++j)
      if (board.at(i, j) != Wall) board.at(i, j) = Empty;
}

int ResetBoard(Board& board, int size) {
  for (int i = 0; i <= BoardSize + 1; ++i)
    for (int j = 0; j <= BoardSize + 1; ++j)
      board.at(i, j) = InPlayingArea(i, j, size) ? Empty : Wall;
  return 0;
}

int PlayingSize(const Board& board) {
  int size = 0;
  while (size < BoardSize && board.at(size + 1, 1) != Wall) ++size;
  return size;
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

bool HasStones(const Board& board) {
  for (int i = 1; i <= BoardSize; ++i)
    for (int j = 1; j <= BoardSize; ++j)
      if (board.at(i, j) == Own || board.at(i, j) == Opponent) return true;
  return false;
}

bool MakesFive(const Board& board, int cell, uint8_t side, Rule rule) {
  for (int step : kLineSteps)
    if (IsFiveRun(RunThrough(board, cell, step, side), rule)) return true;
  return false;
}

int FiveCells(const Board& board, uint8_t side, int& x, int& y, Rule rule) {
  int found = 0;
  for (int i = 1; i <= BoardSize; ++i)
    for (int j = 1; j <= BoardSize; ++j)
      if (board.at(i, j) == Empty && MakesFive(board, i * kGrid + j, side, rule) && found++ == 0)
        x = i, y = j;
  return found;
}

}  // namespace kestrova
