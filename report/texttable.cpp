#include "report/texttable.h"

#include <algorithm>
#include <charconv>

#include "report/memoryreport.h"

void TextTable::number(uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  cell().append(digits, end - digits);
}

void TextTable::address(uint64_t value) {
  appendHexAddress(cell(), value);
}

void TextTable::write(QByteArray& out, const char* indent) const {
  const size_t columns = rightAligned_.size();
  std::vector<qsizetype> widths(columns, 0);
  for (size_t i = 0; i < starts_.size(); ++i)
    widths[i % columns] = std::max(widths[i % columns], length(i));
  out.reserve(out.size() + text_.size() +
              static_cast<qsizetype>(starts_.size() / columns) *
                  (qstrlen(indent) + 1 + 2 * static_cast<qsizetype>(columns)));
  for (size_t i = 0; i < starts_.size(); ++i) {
    const size_t column = i % columns;
    const qsizetype padding = widths[column] - length(i);
    if (column == 0)
      out += indent;
    else
      out += "  ";
    if (rightAligned_[column])
      out.append(padding, ' ');
    out.append(text_.constData() + starts_[i], length(i));
    if (column + 1 == columns)
      out += '\n';
    else if (!rightAligned_[column])
      out.append(padding, ' ');
  }
}
