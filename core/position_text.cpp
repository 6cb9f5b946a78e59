#include "core/position_text.h"

#include <vector>

namespace kestrova {

bool ParsePosition(std::string_view text, Board& board, std::string& error) {
  std::vector<std::string> rows;
  std::string row;
  auto endRow = [&] {
    if (!row.empty()) rows.push_back(row);
    row.clear();
  };
  for (char c : text) {
    if (c == '\n')
      endRow();
    else if (c != ' ' && c != '\r' && c != '\t')
      row.push_back(c);
  }
  endRow();
  // The board is square: its size is the number of rows.
  const int size = int(rows.size());
  if (size < kMinBoardSize || size > BoardSize) {
    error = "expected " + std::to_string(kMinBoardSize) + " to " + std::to_string(BoardSize) +
            " rows, got " + std::to_string(rows.size());
    return false;
  }
  board = Board{};
  ResetBoard(board, size);
  for (int y = 0; y < size; ++y) {
    if (rows[y].size() != size_t(size)) {
      error = "row " + std::to_string(y) + " has " + std::to_string(rows[y].size()) +
              " cells, expected " + std::to_string(size) + " (one per row)";
      return false;
    }
    for (int x = 0; x < size; ++x) {
      const char c = rows[y][x];
      if (c == 'X')
        board.at(x + 1, y + 1) = Own;
      else if (c == 'O')
        board.at(x + 1, y + 1) = Opponent;
      else if (c != '.') {
        error = "row " + std::to_string(y) + " column " + std::to_string(x) +
                ": unexpected character '" + std::string(1, c) + "'";
        return false;
      }
    }
  }
  return true;
}

std::string FormatPosition(const Board& board) {
  std::string text;
  const int size = PlayingSize(board);
  for (int y = 1; y <= size; ++y) {
    for (int x = 1; x <= size; ++x) {
      const uint8_t c = board.at(x, y);
      text.push_back(c == Own ? 'X' : c == Opponent ? 'O' : '.');
    }
    text.push_back('\n');
  }
  return text;
}

}  // namespace kestrova
