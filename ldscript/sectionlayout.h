// The layout walk: where each section is stored and where it runs, and the
// order in which the script states them.
//
// Design priority: the output order is that of a depth-first walk in which a
// section first lays out the section before it in its segment and the
// sections its run address or its reserved space refers to. The walk keeps
// its own stack of work items, so a chain of any length cannot exhaust the
// call stack, and the lookups it needs (run sections by name, run-in clients
// by name) are indexed once for the whole list.
#pragma once

#include <QString>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ldscript/layoutmodel.h"
#include "ldscript/scriptoptions.h"

#include "base/diagnostics.h"

class SectionLayout {
public:
  // Borrows the model for its lifetime and indexes its sections; the
  // sections' list facts (prev, element, name) must not change meanwhile.
  // With `diagnostics` (located lines printed), an error is located at the
  // sections involved.
  SectionLayout(LayoutModel& model, const ScriptOptions& options, Diagnostics* diagnostics = nullptr);
  ~SectionLayout();

  // Lays out `section` once, after whatever it depends on, appending it to
  // the model's output order; a section already laid out adds nothing.
  // Prints the -verbose walk lines. Throws FatalError: a dependency cycle, a
  // run section with run-in sections of its own, or (when missingRunInError
  // is set) a missing run section.
  void layoutSection(LayoutSection& section);

private:
  struct Frame;
  LayoutSection* advance(Frame& frame);
  LayoutSection* findRunSection(const LayoutSection& section) const;
  const LayoutSection* findStoredWith(const LayoutSection& section) const;
  void finish(LayoutSection& section);
  void noteCycle(const LayoutSection& section, Diagnostic& error);
  // The error at `section`: `plain` for the default output, `text` located.
  Diagnostic errorAt(const LayoutSection& section, const QString& plain, const QString& text) const;
  static void addNote(Diagnostic& diagnostic, const LayoutSection& section, const QString& text);
  QString suggestRunSection(std::string_view runIn) const;

  LayoutModel& model_;
  const bool missingRunInError_;
  const bool verbose_;
  Diagnostics* const diagnostics_;
  // The first section of each name that a runin candidate or a load_with
  // names, null for none; keys are views of those attribute texts.
  std::unordered_map<std::string_view, LayoutSection*> firstByName_;
  std::vector<Frame> stack_;
};

// Lays out every section of the model in list order.
void layoutSections(LayoutModel& model, const ScriptOptions& options, Diagnostics* diagnostics = nullptr);
