// The one error type of the tool. Every reportable error carries the complete
// text that follows "error: " on the error line; the driver is the only place
// that catches it.
#pragma once

#include <string>
#include <utility>

class QString;

class HException {
public:
  explicit HException(std::string message) : message_(std::move(message)) {}
  explicit HException(const QString& message);
  virtual ~HException() = default;

  const std::string& message() const { return message_; }

private:
  std::string message_;
};
