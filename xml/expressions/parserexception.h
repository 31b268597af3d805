// The one error type of expression parsing and evaluation. The message is the
// complete text; the entry points of evaluate.h turn any of them into ok false.
#pragma once

#include <QString>
#include <utility>

class ParserException {
public:
  explicit ParserException(QString message) : message_(std::move(message)) {}

  const QString& message() const { return message_; }

private:
  QString message_;
};
