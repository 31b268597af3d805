// The layout of a script, computed once and printed by the script writers.
//
// Four pieces fill it in turn: the section list (which sections, in which
// segment, chained in placement order), the constants (numbers mkld can hold
// itself), end placement, and the layout walk (addresses, run forms and the
// output order). A writer only prints what the model says; it decides
// nothing about the layout.
//
// Names and attribute texts stay bytes borrowed from the documents, which
// must outlive the model: a layout of 100,000 sections would spend more on
// copies than on the layout itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/blocklist.h"
#include "memorymap/memorymapelement.h"
#include "memorymap/sectionattributes.h"

class Document;

// A name as it is written into the script: every blank becomes "_".
std::string scriptName(const MemoryMapElement& element);

// Where a section's stored image starts: the address after AT(), which is
// also the run address of a section that runs where it is stored.
enum class LoadAddress : uint8_t {
  Start,            // the start attribute's text, as written
  FromSegmentEnd,   // __SEG_segment_start__ + (__SEG_segment_size__ - endOffset)
  SegmentStart,     // __SEG_segment_start__, the first of its segment
  AfterSection,     // __P_end__, P the predecessor
  AfterStoredCopy,  // __P_load_start__ + SIZEOF(P): P is stored apart from where it runs
};

// Where a section runs, and so the shape of its statement.
enum class RunForm : uint8_t {
  AtLoad,      // NAME LOAD [(NOLOAD)] : AT(LOAD), with its input sections
  Reserve,     // a run section: NAME LOAD [(NOLOAD)] :, reserving its clients' sizes
  Offset,      // NAME __STEM_load_start__ + RUNOFFSET [(NOLOAD)] : AT(LOAD)
  RunSection,  // NAME RUNADDRESS [(NOLOAD)] : AT(LOAD), RUNADDRESS from runSection
};

struct LayoutSection {
  LayoutSection(LayoutSection* prev, const MemoryMapElement& element, const MemoryMapElement& segmentElement);
  LayoutSection(const LayoutSection&) = delete;
  LayoutSection& operator=(const LayoutSection&) = delete;

  // The section list.
  LayoutSection* prev;                     // same segment, listed just before; null for the first
  const MemoryMapElement* element;         // its ProgramSection
  const MemoryMapElement* segmentElement;  // the memory-map MemorySegment it is placed in
  const Document* document = nullptr;      // the document `element` comes from, for its location
  std::string name;                        // output-section name
  std::string_view stem;                   // name without one leading dot: __STEM_start__
  std::string_view segment;                // the segment's name as the script writes it
  SectionAttributes attributes;
  bool lastInSegment = true;               // the newest section of its segment

  // Constants: set only where the number is certain.
  std::optional<uint32_t> fixedStart;  // start is a constant expression (not "+" relative)
  std::optional<uint32_t> fixedSize;   // size (or the symbol it names) is a plain number

  // End placement.
  bool placeFromEnd = false;  // placed endOffset bytes below the segment end
  uint32_t endOffset = 0;

  // The layout walk.
  LoadAddress load = LoadAddress::SegmentStart;
  uint32_t loadAlignment = 0;  // > 1: the load address is wrapped in ALIGN(..., loadAlignment)
  RunForm run = RunForm::AtLoad;
  bool noload = true;  // not load="Yes": (NOLOAD)
  // The nearest section before it in its segment that is not discarded.
  LayoutSection* predecessor = nullptr;
  // RunForm::RunSection: the section it runs in and that one's predecessor.
  LayoutSection* runSection = nullptr;
  LayoutSection* runPredecessor = nullptr;
  // load_with: stored beside that section's stored copy, at the distance
  // their run addresses have (GNU ld makes the TLS segment of .tdata and
  // .tbss from their load addresses); null for none.
  const LayoutSection* storedWith = nullptr;
  // The sections whose runin names this one exactly; null for none.
  const std::vector<LayoutSection*>* clients = nullptr;
  bool discarded = false;  // its run section is missing and that is not an error
  bool laidOut = false;    // placed in the output order, or discarded
  bool layingOut = false;  // being laid out; meeting it again is a cycle
};

struct LayoutModel {
  LayoutModel() = default;
  LayoutModel(const LayoutModel&) = delete;
  LayoutModel& operator=(const LayoutModel&) = delete;
  LayoutModel(LayoutModel&&) = default;

  // The MEMORY regions, and the segments whose symbols are written.
  std::vector<const MemoryMapElement*> regions;
  std::vector<const MemoryMapElement*> segments;
  // Every section in list order; pointers to them stay valid.
  BlockList<LayoutSection> sections;
  // End placement: the sections that ask for the segment end and are not
  // placed there, each with the section whose size prevents it (itself, or
  // the nearest later one without a fixed size), chain by chain from the end.
  struct EndPlacementMiss {
    const LayoutSection* section;
    const LayoutSection* blocker;
  };
  std::vector<EndPlacementMiss> endPlacementMisses;
  // The sections laid out, in output order; discarded ones are left out.
  std::vector<const LayoutSection*> order;

  // The statements of the placement file beside the sections, in document
  // order: the sections named "/DISCARD/" (their input sections are thrown
  // away; they take no place in any segment), the Symbol elements and the
  // Assert elements.
  std::vector<const MemoryMapElement*> discards;
  std::vector<const MemoryMapElement*> symbols;
  std::vector<const MemoryMapElement*> asserts;
  const Document* placement = nullptr;  // the file they come from, for locations
  // The first section that takes .tdata input sections when no section and
  // no /DISCARD/ takes .tbss ones; null otherwise. The linkers then place
  // .tbss apart from .tdata's block (GNU ld at address 0 in the default
  // form), so the portable form adds .tbss to it. Looked for only in the
  // portable form and with -diagnostics.
  const LayoutSection* tdataWithoutTbss = nullptr;

  // Storage for the views above.
  std::unordered_map<const MemoryMapElement*, std::string> segmentNames;
  std::unordered_map<std::string_view, std::vector<LayoutSection*>> clientsByRunIn;

  // Appends a section to the list, chained after `prev` (null: the first of
  // its segment).
  LayoutSection& addSection(LayoutSection* prev, const MemoryMapElement& element,
                            const MemoryMapElement& segmentElement);
  // The sections whose runin text is exactly `name`, in list order; null for
  // none.
  const std::vector<LayoutSection*>* clientsOf(std::string_view name) const;
  // Whether the layout makes `section` a run section (RunForm::Reserve): it
  // runs where it is stored and other sections run in it, so it holds room
  // for them.
  bool isRunSection(const LayoutSection& section) const;
  // The segment's name as written, made on first use.
  std::string_view segmentName(const MemoryMapElement& segment);
};
