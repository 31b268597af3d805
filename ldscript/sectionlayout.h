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

#include <QString>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ldscript/scriptoptions.h"
#include "ldscript/scriptstream.h"
#include "ldscript/sectionentry.h"

class SectionLayout {
public:
  // Borrows the entries and the stream for its lifetime. The entries' fields
  // that locate them (prev, section, name) must not change meanwhile.
  SectionLayout(const std::vector<std::unique_ptr<SectionEntry>>& entries, ScriptStream& stream,
                const ScriptOptions& options);
  ~SectionLayout();

  // Writes `entry` once, after whatever it depends on; an entry already laid
  // out writes nothing. Throws FatalError: a dependency
  // cycle, a run section with run-in sections of its own, or (when
  // missingRunInError is set) a missing run section.
  void layoutSection(SectionEntry& entry);

private:
  struct Work;
  struct Frame;
  SectionEntry* advance(Frame& frame);
  void writeBraces(const Frame& frame);
  SectionEntry* predecessorOf(const SectionEntry& entry) const;
  SectionEntry* findRunSection(const SectionEntry& entry) const;
  std::string_view segmentName(const MemoryMapElement& segment);
  void discard(SectionEntry& entry);
  void writeTail(const Frame& frame);

  ScriptStream& out_;
  const bool checkSegmentOverflow_;
  const bool missingRunInError_;
  const bool verbose_;
  const std::string defaultFillPattern_;
  // Keys are views of the entries' names and of the documents' attribute
  // texts, which outlive the layout.
  // The first entry of each name, for run-section lookups.
  std::unordered_map<std::string_view, SectionEntry*> firstByName_;
  // The entries whose whole runin text is a given name, in list order.
  std::unordered_map<std::string_view, std::vector<SectionEntry*>> clientsByRunIn_;
  // Each segment's name as the script writes it, made on first use.
  std::unordered_map<const MemoryMapElement*, std::string> segmentNames_;
  // For a discarded entry: the nearest entry before it that is not discarded.
  std::unordered_map<const SectionEntry*, SectionEntry*> skipDiscarded_;
  std::vector<Frame> stack_;
};
