#include "support/terminal_screen.h"

// Std
#include <algorithm>
#include <cstdlib>

void TerminalScreen::LineFeed() {
  ++row_;
  if (row_ == lines_.size()) lines_.emplace_back();
}

void TerminalScreen::Put(std::string cell) {
  if (pendingWrap_) {  // the last column was written: this character starts the next line
    pendingWrap_ = false;
    column_ = 0;
    LineFeed();
  }
  std::vector<std::string>& line = lines_[row_];
  if (line.size() <= column_) line.resize(column_ + 1, " ");
  line[column_] = std::move(cell);
  if (column_ + 1 == columns_)
    pendingWrap_ = true;
  else
    ++column_;
}

void TerminalScreen::Feed(std::string_view bytes) {
  for (const char c : bytes) {
    if (!sequence_.empty()) {
      sequence_ += c;
      if (sequence_.size() == 2 && c != '[') {  // not a control sequence: dropped
        sequence_.clear();
        continue;
      }
      if (sequence_.size() > 2 && c >= 0x40 && c <= 0x7e) {
        const int n = std::max(1, std::atoi(sequence_.substr(2).c_str()));
        const int zero = std::atoi(sequence_.substr(2).c_str());
        pendingWrap_ = false;
        if (c == 'A') {
          row_ = std::max(Top(), row_ >= static_cast<std::size_t>(n) ? row_ - n : 0);
        } else if (c == 'J' && zero == 0) {
          lines_[row_].resize(std::min(lines_[row_].size(), column_));
          lines_.resize(row_ + 1);
        } else if (c == 'K' && zero == 0) {
          lines_[row_].resize(std::min(lines_[row_].size(), column_));
        }
        sequence_.clear();
      }
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    if (!character_.empty() && (byte & 0xc0) == 0x80) {
      character_ += c;
      const auto lead = static_cast<unsigned char>(character_[0]);
      const std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
      if (character_.size() == length) Put(std::exchange(character_, std::string()));
      continue;
    }
    character_.clear();
    if (c == '\x1b') {
      sequence_ = "\x1b";
    } else if (c == '\r') {
      column_ = 0;
      pendingWrap_ = false;
    } else if (c == '\n') {
      pendingWrap_ = false;
      LineFeed();
    } else if (c == '\b') {
      if (column_ > 0) --column_;
      pendingWrap_ = false;
    } else if (c == '\a') {
      ++bells_;
    } else if (byte >= 0xc0) {
      character_ = std::string(1, c);
    } else if (byte >= 0x20) {
      Put(std::string(1, c));
    }
  }
}

std::vector<std::string> TerminalScreen::Lines() const {
  std::vector<std::string> out;
  for (const auto& cells : lines_) {
    std::string line;
    for (const std::string& cell : cells) line += cell;
    line.erase(line.find_last_not_of(' ') + 1);
    out.push_back(line);
  }
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}
