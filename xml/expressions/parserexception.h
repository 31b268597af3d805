// The one error type of expression parsing and evaluation. The message is the
// complete text; the offset says where in the text evaluation stopped, and is
// filled in by the innermost place that knows it (-1 until then).
#pragma once

#include <QString>
#include <utility>

class ParserException {
public:
  explicit ParserException(QString message, qsizetype offset = -1)
      : message_(std::move(message)), offset_(offset) {}

  const QString& message() const { return message_; }
  qsizetype offset() const { return offset_; }
  // Keeps an offset already known: the innermost one is the most precise.
  void locate(qsizetype offset) {
    if (offset_ < 0)
      offset_ = offset;
  }

private:
  QString message_;
  qsizetype offset_;
};
