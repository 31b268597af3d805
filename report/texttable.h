// A plain-text table as the report prints them: columns padded to their
// widest cell, numbers right-aligned. The last column is not padded, so no
// line ends in blanks. The cells' text lies back to back in one buffer: a
// report of 100,000 sections is 600,000 cells.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <vector>

class TextTable {
public:
  // One entry per column: whether it is right-aligned.
  explicit TextTable(std::vector<bool> rightAligned) : rightAligned_(std::move(rightAligned)) {}

  // Starts the next cell, row by row; its text is what is appended to the
  // buffer returned.
  QByteArray& cell() {
    starts_.push_back(text_.size());
    return text_;
  }
  void cell(const QByteArray& text) { cell() += text; }
  void cell(const char* text) { cell() += text; }
  void number(uint64_t value);
  void address(uint64_t value);

  // Appends the rows to `out`, each line starting with `indent`.
  void write(QByteArray& out, const char* indent) const;

private:
  qsizetype length(size_t i) const { return (i + 1 < starts_.size() ? starts_[i + 1] : text_.size()) - starts_[i]; }

  std::vector<bool> rightAligned_;
  QByteArray text_;
  std::vector<qsizetype> starts_;
};
