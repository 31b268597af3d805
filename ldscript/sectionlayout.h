// Writes the output-section statement of each program section, with its
// symbols and optional checks, after the statements it depends on.
//
// Design priority: the output order is that of a depth-first walk in which a
// section first lays out the section before it in its segment and the
// sections its run address or its reserved space refers to. The walk keeps
// its own stack of work items, so a chain of any length cannot exhaust the
// call stack, and the lookups it needs (run sections by name, run-in clients
// by name) are indexed once for the whole list.
#pragma once

#include <QHash>
#include <QString>
#include <memory>
#include <vector>

#include "ldscript/scriptstream.h"
#include "ldscript/sectionentry.h"

class SectionLayout {
public:
  // Borrows the entries and the stream for its lifetime. The entries' fields
  // that locate them (prev, section, name) must not change meanwhile.
  SectionLayout(const std::vector<std::unique_ptr<SectionEntry>>& entries, ScriptStream& stream,
                bool checkSegmentOverflow, QString defaultFillPattern);
  ~SectionLayout();

  // Writes `entry` once, after whatever it depends on; an entry already laid
  // out writes nothing. Throws the error message as a QString: a dependency
  // cycle, a run section with run-in sections of its own, or (when
  // missingRunInError is set) a missing run section.
  void layoutSection(SectionEntry& entry);

private:
  struct Frame;
  SectionEntry* advance(Frame& frame);
  SectionEntry* predecessorOf(const SectionEntry& entry) const;
  SectionEntry* findRunSection(const SectionEntry& entry) const;
  void discard(SectionEntry& entry);
  void writeTail(const Frame& frame);

  ScriptStream& out_;
  const bool checkSegmentOverflow_;
  const QString defaultFillPattern_;
  // The first entry of each name, for run-section lookups.
  QHash<QString, SectionEntry*> firstByName_;
  // The entries whose whole runin text is a given name, in list order.
  QHash<QString, std::vector<SectionEntry*>> clientsByRunIn_;
  // For a discarded entry: the nearest entry before it that is not discarded.
  QHash<const SectionEntry*, SectionEntry*> skipDiscarded_;
  std::vector<Frame> stack_;
};
