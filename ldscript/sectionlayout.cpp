#include "ldscript/sectionlayout.h"

#include "mkld/commandline.h"
#include "mkld/console.h"

namespace {

// Symbols drop one leading dot: ".text" gives __text_start__.
QString stemOf(const QString& name) {
  return name.startsWith(QLatin1Char('.')) ? name.mid(1) : name;
}

// Stored in one place and run in another: its load symbols differ from its
// run symbols.
bool isRelocated(const SectionEntry& entry) {
  return entry.section->hasRunIn() || entry.section->hasRunOffset();
}

QString decimal(uint32_t value) { return QString::number(value); }

QString alignmentText(const SectionEntry& entry) { return decimal(entry.section->alignment()); }

QString segmentStart(const QString& seg) {
  return QLatin1String("__") + seg + QLatin1String("_segment_start__");
}

QString loadAddress(const SectionEntry& entry, const SectionEntry* predecessor, const QString& seg) {
  const MemoryMapElement& section = *entry.section;
  if (section.hasStart())
    return section.startText();
  if (entry.placeFromEnd) {
    return segmentStart(seg) + QLatin1String(" + (__") + seg + QLatin1String("_segment_size__ - ") +
           decimal(entry.endOffset) + QLatin1Char(')');
  }
  QString load;
  if (!predecessor) {
    load = segmentStart(seg);
  } else if (!isRelocated(*predecessor)) {
    load = QLatin1String("__") + stemOf(predecessor->name) + QLatin1String("_end__");
  } else {
    // After the stored copy of a section that runs elsewhere.
    load = QLatin1String("__") + stemOf(predecessor->name) + QLatin1String("_load_start__ + SIZEOF(") +
           predecessor->name + QLatin1Char(')');
  }
  if (section.hasAlignment() && section.alignment() > 1)
    load = QLatin1String("ALIGN(") + load + QLatin1String(" , ") + alignmentText(entry) + QLatin1Char(')');
  return load;
}

QString sizeLine(const SectionEntry& entry, const QString& stem) {
  const MemoryMapElement& section = *entry.section;
  if (!section.hasSize())
    return QString();
  if (!section.hasAlignment()) {
    return QLatin1String("    . = MAX(__") + stem + QLatin1String("_start__ + ") + section.sizeText() +
           QLatin1String(" , .);\n");
  }
  return QLatin1String("    . = ALIGN(MAX(__") + stem + QLatin1String("_start__ + ") + section.sizeText() +
         QLatin1String(" , .), ") + alignmentText(entry) + QLatin1String(");\n");
}

QString inputSections(const SectionEntry& entry) {
  const MemoryMapElement& section = *entry.section;
  const QString& name = entry.name;
  QString inputs;
  if (section.hasInputSections()) {
    inputs = section.inputSections();
  } else if (name == QLatin1String(".text")) {
    inputs = QStringLiteral(
        "*(.text .text.* .glue_7t .glue_7 .gnu.linkonce.t.* .gcc_except_table .ARM.extab* "
        ".gnu.linkonce.armextab.*)");
  } else if (name == QLatin1String(".dtors")) {
    inputs = QStringLiteral(
        "KEEP (*(SORT(.dtors.*))) KEEP (*(.dtors)) KEEP (*(.fini_array)) KEEP (*(SORT(.fini_array.*)))");
  } else if (name == QLatin1String(".ctors")) {
    inputs = QStringLiteral(
        "KEEP (*(SORT(.ctors.*))) KEEP (*(.ctors)) KEEP (*(.init_array)) KEEP (*(SORT(.init_array.*)))");
  } else if (name == QLatin1String(".data")) {
    inputs = QStringLiteral("*(.data .data.* .gnu.linkonce.d.*)");
  } else if (name == QLatin1String(".rodata")) {
    inputs = QStringLiteral("*(.rodata .rodata.* .gnu.linkonce.r.*)");
  } else if (name == QLatin1String(".bss")) {
    inputs = QStringLiteral("*(.bss .bss.* .gnu.linkonce.b.*) *(COMMON)");
  } else {
    inputs = QLatin1String("*(") + name + QLatin1Char(' ') + name + QLatin1String(".*)");
  }
  if (section.isKeep())
    inputs = QLatin1String("KEEP(") + inputs + QLatin1Char(')');
  return inputs;
}

[[noreturn]] void fail(const QString& message) { throw message; }

}  // namespace

// One entry's layout, suspended while something it depends on is laid out.
// The values it computed before it was suspended are kept, exactly as local
// variables of a recursive call would be.
struct SectionLayout::Frame {
  enum class Step { Enter, Prepare, RunIn, Clients, Body };

  explicit Frame(SectionEntry* entry) : entry(entry) {}

  SectionEntry* entry;
  Step step = Step::Enter;
  QString stem;
  QString seg;
  SectionEntry* predecessor = nullptr;
  QString load;
  QString noload;
  QString sizeLine;
  const std::vector<SectionEntry*>* clients = nullptr;
  size_t nextClient = 0;
  SectionEntry* runSection = nullptr;
  SectionEntry* runPredecessor = nullptr;
};

SectionLayout::SectionLayout(const std::vector<std::unique_ptr<SectionEntry>>& entries,
                             ScriptStream& stream, bool checkSegmentOverflow,
                             QString defaultFillPattern)
    : out_(stream),
      checkSegmentOverflow_(checkSegmentOverflow),
      defaultFillPattern_(std::move(defaultFillPattern)) {
  for (const std::unique_ptr<SectionEntry>& entry : entries) {
    if (!firstByName_.contains(entry->name))
      firstByName_.insert(entry->name, entry.get());
    if (entry->section->hasRunIn())
      clientsByRunIn_[entry->section->runIn()].push_back(entry.get());
  }
}

SectionLayout::~SectionLayout() = default;

void SectionLayout::layoutSection(SectionEntry& entry) {
  stack_.clear();
  stack_.emplace_back(&entry);
  while (!stack_.empty()) {
    if (SectionEntry* dependency = advance(stack_.back()))
      stack_.emplace_back(dependency);
    else
      stack_.pop_back();
  }
}

// Runs `frame` until it needs another entry laid out (returned) or is done
// (null).
SectionEntry* SectionLayout::advance(Frame& frame) {
  SectionEntry& entry = *frame.entry;
  const MemoryMapElement& section = *entry.section;
  for (;;) {
    switch (frame.step) {
      case Frame::Step::Enter:
        if (verbose)
          printOutput(QLatin1String("Laying out section ") + entry.name + QLatin1Char('\n'));
        if (entry.laidOut) {
          if (verbose)
            printOutput(QLatin1String("Section ") + entry.name + QLatin1String(" already laid out\n"));
          return nullptr;
        }
        if (entry.layingOut)
          fail(QLatin1String("cyclic memory section dependency with section ") + entry.name);
        entry.layingOut = true;
        frame.step = Frame::Step::Prepare;
        if (entry.prev && !entry.prev->laidOut)
          return entry.prev;
        break;

      case Frame::Step::Prepare: {
        frame.stem = stemOf(entry.name);
        frame.seg = scriptName(*entry.segment);
        frame.predecessor = predecessorOf(entry);
        frame.load = loadAddress(entry, frame.predecessor, frame.seg);
        frame.noload = section.isLoad() ? QString() : QStringLiteral(" (NOLOAD)");
        frame.sizeLine = sizeLine(entry, frame.stem);

        static const std::vector<SectionEntry*> kNoClients;
        const auto clients = clientsByRunIn_.constFind(entry.name);
        frame.clients = clients == clientsByRunIn_.cend() ? &kNoClients : &clients.value();
        if (section.hasRunIn() && !frame.clients->empty())
          fail(QLatin1String("run section ") + entry.name + QLatin1String(" cannot have run in sections"));

        if (section.hasRunIn()) {
          frame.runSection = findRunSection(entry);
          if (!frame.runSection) {
            if (missingRunInError) {
              fail(QLatin1String("cannot find run section ") + section.runIn() +
                   QLatin1String(" referenced in ") + frame.stem);
            }
            if (verbose) {
              printOutput(QLatin1String("Discarding ") + entry.name +
                          QLatin1String(" because run in section ") + section.runIn() +
                          QLatin1String(" not found\n"));
            }
            discard(entry);
            return nullptr;
          }
          frame.runPredecessor = predecessorOf(*frame.runSection);
          frame.step = Frame::Step::RunIn;
          if (frame.runPredecessor && !frame.runPredecessor->laidOut)
            return frame.runPredecessor;
        } else if (section.hasRunOffset()) {
          out_ << "  __" << frame.stem << "_load_start__ = " << frame.load << ";\n";
          out_ << "  " << entry.name << " __" << frame.stem << "_load_start__ + " << section.runOffset()
               << frame.noload << " : AT(" << frame.load << ")\n";
          frame.step = Frame::Step::Body;
        } else if (!frame.clients->empty()) {
          frame.step = Frame::Step::Clients;
        } else {
          out_ << "  __" << frame.stem << "_load_start__ = " << frame.load << ";\n";
          out_ << "  " << entry.name << ' ' << frame.load << frame.noload << " : AT(" << frame.load << ")\n";
          frame.step = Frame::Step::Body;
        }
        break;
      }

      case Frame::Step::RunIn: {
        const SectionEntry& runSection = *frame.runSection;
        QString run;
        if (runSection.section->hasStart()) {
          run = QStringLiteral("0x%1").arg(runSection.section->start(), 8, 16, QLatin1Char('0'));
        } else {
          run = frame.runPredecessor
                    ? QLatin1String("__") + stemOf(frame.runPredecessor->name) + QLatin1String("_end__")
                    : segmentStart(scriptName(*runSection.segment));
          // Any alignment of the run section wraps the run address, even 0 or 1.
          if (runSection.section->hasAlignment())
            run = QLatin1String("ALIGN(") + run + QLatin1String(" , ") + alignmentText(runSection) +
                  QLatin1Char(')');
        }
        out_ << "  __" << frame.stem << "_load_start__ = " << frame.load << ";\n";
        out_ << "  " << entry.name << ' ' << run << frame.noload << " : AT(" << frame.load << ")\n";
        frame.step = Frame::Step::Body;
        break;
      }

      case Frame::Step::Clients:
        // Every client is visited, even one already laid out, as a recursive
        // call would (its verbose lines show it).
        if (frame.nextClient < frame.clients->size())
          return (*frame.clients)[frame.nextClient++];
        out_ << "  " << entry.name << ' ' << frame.load << frame.noload << " :\n";
        out_ << "  {\n";
        out_ << "    __" << frame.stem << "_start__ = .;\n";
        if (section.hasAddressSymbol())
          out_ << "    " << section.addressSymbol() << " =   __" << frame.stem << "_start__;\n";
        for (const SectionEntry* client : *frame.clients)
          out_ << "    . = MAX(__" << frame.stem << "_start__ + SIZEOF(" << client->name << "), .);\n";
        writeTail(frame);
        return nullptr;

      case Frame::Step::Body:
        out_ << "  {\n";
        out_ << "    __" << frame.stem << "_start__ = .;\n";
        if (section.hasAddressSymbol())
          out_ << "    " << section.addressSymbol() << " =   __" << frame.stem << "_start__;\n";
        out_ << "    " << inputSections(entry) << "\n";
        writeTail(frame);
        return nullptr;
    }
  }
}

// Everything after the statement's input line: size line, closing line,
// section symbols, segment-used symbols and checks.
void SectionLayout::writeTail(const Frame& frame) {
  SectionEntry& entry = *frame.entry;
  const MemoryMapElement& section = *entry.section;
  const QString& stem = frame.stem;
  const QString& seg = frame.seg;
  const bool relocated = isRelocated(entry);

  out_ << frame.sizeLine;
  if (section.hasFill())
    out_ << "  } =" << section.fill() << "\n";
  else if (!defaultFillPattern_.isEmpty())
    out_ << "  } =" << defaultFillPattern_ << "\n";
  else
    out_ << "  }\n";

  out_ << "  __" << stem << "_end__ = __" << stem << "_start__ + SIZEOF(" << entry.name << ");\n";
  out_ << "  __" << stem << "_size__ = SIZEOF(" << entry.name << ");\n";
  if (section.hasEndSymbol())
    out_ << "  " << section.endSymbol() << " =   __" << stem << "_end__;\n";
  if (section.hasSizeSymbol())
    out_ << section.sizeSymbol() << " =   __" << stem << "_size__;\n";
  if (relocated)
    out_ << "  __" << stem << "_load_end__ = __" << stem << "_load_start__ + SIZEOF(" << entry.name << ");\n\n";
  else
    out_ << "  __" << stem << "_load_end__ = __" << stem << "_end__;\n\n";

  if (entry.lastInSegment) {
    out_ << "  __" << seg << "_segment_used_end__ = " << frame.load << " + SIZEOF(" << entry.name << ");\n";
    out_ << "  __" << seg << "_segment_used_size__ = __" << seg << "_segment_used_end__ - __" << seg
         << "_segment_start__;\n\n";
  }

  if (checkSegmentOverflow_) {
    if (relocated) {
      out_ << "  . = ASSERT(__" << stem << "_load_start__ == __" << stem << "_load_end__ || (__" << stem
           << "_load_end__ - __" << seg << "_segment_start__) <=  __" << seg << "_segment_size__ , \"error: "
           << entry.name << " is too large to fit in " << seg << " memory segment\");\n";
    } else {
      out_ << "  . = ASSERT(__" << stem << "_start__ == __" << stem << "_end__ || (__" << stem << "_end__ - __"
           << seg << "_segment_start__) <= __" << seg << "_segment_size__ , \"error: " << entry.name
           << " is too large to fit in " << seg << " memory segment\");\n";
    }
    const SectionEntry* predecessor = frame.predecessor;
    if (predecessor && (section.hasStart() || entry.placeFromEnd)) {
      out_ << "  . = ASSERT(__" << stemOf(predecessor->name) << (isRelocated(*predecessor) ? "_load" : "")
           << "_end__ <= __" << stem << (relocated ? "_load" : "") << "_start__ , \"error: section "
           << predecessor->name << " overlaps absolute placed section " << entry.name << "\");\n";
    }
    out_ << "\n";
  }

  entry.layingOut = false;
  entry.laidOut = true;
}

// The nearest entry before `entry` in its segment that was not discarded.
// An entry is discarded only after everything before it is laid out, so the
// answer recorded for it then stays valid and each lookup is one step.
SectionEntry* SectionLayout::predecessorOf(const SectionEntry& entry) const {
  SectionEntry* previous = entry.prev;
  if (previous && previous->discarded)
    previous = skipDiscarded_.value(previous);
  return previous;
}

void SectionLayout::discard(SectionEntry& entry) {
  skipDiscarded_.insert(&entry, predecessorOf(entry));
  entry.layingOut = false;
  entry.laidOut = true;
  entry.discarded = true;
}

// The first entry named by a runin candidate, trying the candidates in order.
SectionEntry* SectionLayout::findRunSection(const SectionEntry& entry) const {
  const QStringList candidates = entry.section->runIn().split(QLatin1Char(';'), Qt::SkipEmptyParts);
  for (const QString& candidate : candidates) {
    if (SectionEntry* found = firstByName_.value(candidate))
      return found;
  }
  return nullptr;
}
