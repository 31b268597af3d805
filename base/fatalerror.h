// The one error that ends a run. It carries its diagnostic; the driver is
// the only place that catches it, reports it through the diagnostic engine
// and removes the output file.
#pragma once

#include <QString>
#include <utility>

#include "base/diagnostics.h"

class FatalError {
public:
  // An error of the default output with no place: "error: TEXT".
  explicit FatalError(QString text) : diagnostic_{Severity::Error, {}, QString(), std::move(text), {}} {}
  explicit FatalError(Diagnostic diagnostic) : diagnostic_(std::move(diagnostic)) {}

  const Diagnostic& diagnostic() const { return diagnostic_; }

private:
  Diagnostic diagnostic_;
};
