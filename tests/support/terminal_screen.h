#pragma once
// What a terminal shows after a program's output: the text lines (scrolled-off lines kept
// above), with the cursor movements and erasures a live view uses (carriage return, line
// feed, backspace, cursor up, erase to the end of the line or of the screen) and its colour
// sequences dropped. Enough to tell whether a live view left the screen clean. Qt-free.

// Std
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TerminalScreen {
 public:
  TerminalScreen(std::size_t columns, std::size_t rows) : columns_(columns), rows_(rows) {}

  void Feed(std::string_view bytes);
  // Every line from the first ever written, trailing blanks and empty last lines dropped.
  [[nodiscard]] std::vector<std::string> Lines() const;
  [[nodiscard]] std::size_t Bells() const { return bells_; }

 private:
  void Put(std::string cell);
  void LineFeed();
  [[nodiscard]] std::size_t Top() const { return lines_.size() > rows_ ? lines_.size() - rows_ : 0; }

  std::size_t columns_, rows_;
  std::vector<std::vector<std::string>> lines_{{}};  // cells (one character each) per line
  std::size_t row_ = 0, column_ = 0;
  bool pendingWrap_ = false;
  std::size_t bells_ = 0;
  std::string sequence_;  // an escape sequence being read
  std::string character_;  // a UTF-8 character being read
};
