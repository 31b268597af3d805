#include "ldscript/layoutchecks.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <vector>

#include "base/bytes.h"
#include "base/hex.h"
#include "ldscript/scripttext.h"
#include "memorymap/document.h"
#include "expressions/evaluate.h"

namespace {

// Addresses as the script writes them, eight digits at least; sizes short.
QString hex(uint64_t value) { return hexText(value, 8); }
QString size(uint64_t value) { return hexText(value); }
QString nameOf(const LayoutSection& section) { return fromBytes(section.name); }
QString segmentOf(const LayoutSection& section) { return fromBytes(std::string(section.segment)); }

// A segment's start and size when both are constants of the memory map
// (a "+" start is relative to an enclosing segment: not taken).
struct SegmentRange {
  uint64_t start;
  uint64_t end;  // one past the last byte
};

std::optional<SegmentRange> rangeOf(const MemoryMapElement& segment) {
  const SectionAttributes attributes(segment);
  if (!attributes.hasStart() || !attributes.hasSize() || attributes.start->front() == '+')
    return std::nullopt;
  const std::optional<uint64_t> start = evaluateUnsigned(*attributes.start).value;
  const std::optional<uint64_t> size = evaluateUnsigned(*attributes.size).value;
  if (!start || !size || *size == 0 || *start > 0xffffffffu || *size > 0x100000000u)
    return std::nullopt;
  return SegmentRange{*start, *start + *size};
}

class Checks {
public:
  Checks(const LayoutModel& model, Diagnostics& diagnostics, ScriptForm form)
      : model_(model), diagnostics_(diagnostics), form_(form) {}

  void run() {
    overlaps();
    for (const LayoutSection* section : model_.order) {
      startInSegment(*section);
      notLoaded(*section);
      if (form_ != ScriptForm::Portable)
        unaligned(*section);
    }
    segmentTotals();
    endPlacement();
    tbssMissing();
  }

private:
  const std::optional<SegmentRange>& range(const MemoryMapElement& segment) {
    auto found = ranges_.find(&segment);
    if (found == ranges_.end())
      found = ranges_.emplace(&segment, rangeOf(segment)).first;
    return found->second;
  }

  void warn(const LayoutSection& section, const QString& text) {
    reportAt(diagnostics_, Severity::Warning, section, text);
  }
  void note(const LayoutSection& section, const QString& text) {
    reportAt(diagnostics_, Severity::Note, section, text);
  }

  // Sections of constant start in address order; each is checked against
  // the one reaching furthest before it.
  void overlaps() {
    std::vector<const LayoutSection*> placed;
    for (const LayoutSection* section : model_.order) {
      if (section->fixedStart)
        placed.push_back(section);
    }
    std::stable_sort(placed.begin(), placed.end(), [](const LayoutSection* a, const LayoutSection* b) {
      return *a->fixedStart < *b->fixedStart;
    });
    const LayoutSection* furthest = nullptr;
    uint64_t furthestEnd = 0;
    for (const LayoutSection* section : placed) {
      const uint64_t start = *section->fixedStart;
      if (furthest && start < furthestEnd) {
        warn(*section, QStringLiteral("section %1 at %2 overlaps section %3, which takes %4 to %5")
                           .arg(nameOf(*section), hex(start), nameOf(*furthest), hex(*furthest->fixedStart),
                                hex(furthestEnd - 1)));
        note(*furthest, QStringLiteral("section %1 is placed here, with a size of %2")
                            .arg(nameOf(*furthest), size(*furthest->fixedSize)));
      }
      const uint64_t end = start + section->fixedSize.value_or(0);
      if (end > furthestEnd) {
        furthest = section;
        furthestEnd = end;
      }
    }
  }

  void startInSegment(const LayoutSection& section) {
    const std::optional<SegmentRange>& segment = range(*section.segmentElement);
    if (!section.fixedStart || !segment)
      return;
    const uint64_t start = *section.fixedStart;
    const QString where = QStringLiteral("its segment %1 (%2 to %3)")
                              .arg(segmentOf(section), hex(segment->start), hex(segment->end - 1));
    if (start < segment->start || start >= segment->end) {
      warn(section, QStringLiteral("section %1 starts at %2, outside %3").arg(nameOf(section), hex(start), where));
    } else if (section.fixedSize && start + *section.fixedSize > segment->end) {
      warn(section, QStringLiteral("section %1 at %2 with a size of %3 runs past the end of %4")
                        .arg(nameOf(section), hex(start), size(*section.fixedSize), where));
    }
  }

  // The statement of such a section becomes (NOLOAD): the linker keeps its
  // addresses but the image gets none of its contents.
  void notLoaded(const LayoutSection& section) {
    if (!section.noload || section.run == RunForm::Reserve || !section.segmentElement->isReadOnly())
      return;
    if (holdsNoStoredContents(section)) {
      warn(section, QStringLiteral("section %1 holds data that the program writes at run time, but it is placed "
                                   "in read-only segment %2: move it to a read-write segment")
                        .arg(nameOf(section), segmentOf(section)));
    } else {
      warn(section, QStringLiteral("section %1 has input sections in read-only segment %2 but is not loaded "
                                   "(no load=\"Yes\"): it becomes NOLOAD and its contents are missing from "
                                   "the image")
                        .arg(nameOf(section), segmentOf(section)));
    }
  }

  // A section that starts where another ends keeps that address under GNU
  // ld, whatever its input sections need: a table of pointers or a
  // doubleword then starts at an odd address and its symbols point before
  // its first entry.
  void unaligned(const LayoutSection& section) {
    if (section.run == RunForm::Reserve)
      return;
    const LayoutSection* before = nullptr;
    if (section.run == RunForm::RunSection) {
      const LayoutSection& runSection = *section.runSection;
      if (runSection.attributes.hasStart() || runSection.attributes.hasAlignment() || !section.runPredecessor)
        return;
      before = section.runPredecessor;
    } else if (section.load == LoadAddress::AfterSection || section.load == LoadAddress::AfterStoredCopy) {
      if (section.attributes.hasAlignment())
        return;
      before = section.predecessor;
    } else {
      return;
    }
    const QString remedy = form_ == ScriptForm::AlignmentChecked
                               ? QStringLiteral(": ld keeps that address even when the input sections need more, "
                                                "and the alignment check then fails the link; give it an alignment "
                                                "or use -portable-script")
                               : QStringLiteral(": ld keeps that address even when the input sections need more; "
                                                "give it an alignment or use -portable-script");
    if (section.run == RunForm::RunSection) {
      warn(section, QStringLiteral("section %1 runs in section %2, which has no alignment and starts where "
                                   "section %3 ends")
                            .arg(nameOf(section), nameOf(*section.runSection), nameOf(*before)) +
                        remedy);
    } else {
      warn(section, QStringLiteral("section %1 has no alignment and starts where section %2 ends")
                            .arg(nameOf(section), nameOf(*before)) +
                        remedy);
    }
  }

  // A .bss-like section: zero-initialised or reserved space, which the image
  // has no contents for, so loading it is no cure.
  static bool holdsNoStoredContents(const LayoutSection& section) {
    const std::string_view name = section.name;
    const std::string_view list = listedInputSections(section);
    for (const std::string_view kind : {".bss", ".sbss", ".tbss", ".noinit", ".heap", ".stack"}) {
      if (name.substr(0, kind.size()) == kind)
        return true;
    }
    return list.find(".bss") != std::string_view::npos || list.find("COMMON") != std::string_view::npos ||
           list.find(".noinit") != std::string_view::npos;
  }

  // Sizes are minimums (a section grows past its size, never below it), so
  // a sum past the segment's size cannot fit whatever the linker does. The
  // section the sum passes the segment at need not be the one to blame: the
  // largest share is named too.
  void segmentTotals() {
    struct Total {
      uint64_t sum = 0;
      const LayoutSection* largest = nullptr;
    };
    std::unordered_map<const MemoryMapElement*, Total> totals;
    for (const LayoutSection& section : model_.sections) {
      if (section.discarded || !section.fixedSize)
        continue;
      const std::optional<SegmentRange>& segment = range(*section.segmentElement);
      if (!segment)
        continue;
      Total& sum = totals[section.segmentElement];
      uint64_t& total = sum.sum;
      const uint64_t segmentSize = segment->end - segment->start;
      const bool fitted = total <= segmentSize;
      total += *section.fixedSize;
      const LayoutSection*& biggest = sum.largest;
      if (!biggest || *section.fixedSize > *biggest->fixedSize)
        biggest = &section;
      if (fitted && total > segmentSize) {
        Diagnostic warning = diagnosticAt(
            Severity::Warning, section,
            QStringLiteral("the sizes of the sections up to %1 in segment %2 add up to %3 bytes, more than the "
                           "segment's %4")
                .arg(nameOf(section), segmentOf(section), size(total), size(segmentSize)));
        if (biggest != &section) {
          warning.notes.push_back(
              {diagnosticAt(Severity::Note, *biggest, QString()).where,
               QStringLiteral("section %1 takes %2 of them, the largest share")
                   .arg(nameOf(*biggest), size(*biggest->fixedSize))});
        }
        diagnostics_.report(std::move(warning));
      }
    }
  }

  // Why a section that asks to be placed at the segment end is not: the
  // size that is not a plain number, its own or that of a later section.
  void endPlacement() {
    for (const LayoutModel::EndPlacementMiss& miss : model_.endPlacementMisses) {
      const LayoutSection& section = *miss.section;
      if (section.discarded)
        continue;
      const QString notPlaced = QStringLiteral("section %1 is not placed at the end of segment %2: ")
                                    .arg(nameOf(section), segmentOf(section));
      if (miss.blocker == &section) {
        warn(section, notPlaced + QStringLiteral("it ") + sizeProblem(section));
      } else {
        warn(section, notPlaced + QStringLiteral("section %1 after it has no fixed size").arg(nameOf(*miss.blocker)));
        note(*miss.blocker, QStringLiteral("section %1 ").arg(nameOf(*miss.blocker)) + sizeProblem(*miss.blocker));
      }
    }
  }

  // Code reaches a thread-local variable at its offset in the TLS block
  // that .tdata starts, so .tbss must follow .tdata where it runs.
  void tbssMissing() {
    if (!model_.tdataWithoutTbss)
      return;
    const LayoutSection& tdata = *model_.tdataWithoutTbss;
    const QString missing = QStringLiteral("section %1 takes thread-local data (.tdata) but no section takes .tbss: ")
                                .arg(nameOf(tdata));
    if (form_ == ScriptForm::Portable) {
      warn(tdata, missing + QStringLiteral("the script adds the .tbss input sections to %1, so that the TLS block "
                                           "is whole and has its room, and their zeros are stored in the image; "
                                           "place a .tbss right after where %1 runs to keep them out of it")
                                .arg(nameOf(tdata)));
    } else {
      warn(tdata, missing + QStringLiteral("GNU ld places the zero-initialised thread-local variables apart from "
                                           "the TLS block (at address 0 when the unplaced sections are checked), "
                                           "and the program reaches them at wrong addresses; place a .tbss right "
                                           "after where %1 runs, or use -portable-script")
                                .arg(nameOf(tdata)));
    }
  }

  // What is wrong with a size that end placement cannot add up, said of
  // the section: "has no size", ...
  static QString sizeProblem(const LayoutSection& section) {
    if (!section.attributes.hasSize())
      return QStringLiteral("has no size");
    const QString text = fromBytes(*section.attributes.size);
    const std::optional<uint64_t> value = evaluateUnsigned(text).value;
    if (value && *value <= 0xffffffffu) {
      return QStringLiteral("has the size %1, an expression, and only plain numbers are added up: write %2")
          .arg(text, size(*value));
    }
    return QStringLiteral("has the size %1, which is not a plain number").arg(text);
  }

  const LayoutModel& model_;
  Diagnostics& diagnostics_;
  const ScriptForm form_;
  std::unordered_map<const MemoryMapElement*, std::optional<SegmentRange>> ranges_;
};

}  // namespace

Diagnostic diagnosticAt(Severity severity, const LayoutSection& section, const QString& text) {
  if (section.document)
    return section.document->sources().diagnostic(severity, *section.element, text);
  return {severity, {}, text, QString(), {}};  // a section built by hand, outside any file
}

void reportAt(Diagnostics& diagnostics, Severity severity, const LayoutSection& section, const QString& text) {
  if (diagnostics.located())
    diagnostics.report(diagnosticAt(severity, section, text));
}

void checkLayout(const LayoutModel& model, Diagnostics& diagnostics, ScriptForm form) {
  if (diagnostics.located())
    Checks(model, diagnostics, form).run();
}
