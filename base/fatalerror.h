// The one error that ends a run. It carries the complete text that follows
// "error: " on the error line; the driver is the only place that catches it,
// prints it through the diagnostics and removes the output file.
#pragma once

#include <QString>
#include <utility>

class FatalError {
public:
  explicit FatalError(QString message) : message_(std::move(message)) {}

  const QString& message() const { return message_; }

private:
  QString message_;
};
