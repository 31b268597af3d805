#include "ldscript/sectionlayout.h"

#include <utility>

#include "base/bytes.h"
#include "base/console.h"
#include "base/fatalerror.h"

namespace {

using namespace std::string_view_literals;
using Hex8 = ScriptStream::Hex8;
using Decimal = ScriptStream::Decimal;

// Symbols drop one leading dot: ".text" gives __text_start__.
std::string_view stemOf(std::string_view name) {
  return !name.empty() && name.front() == '.' ? name.substr(1) : name;
}

// Stored in one place and run in another: its load symbols differ from its
// run symbols.
bool isRelocated(const SectionEntry& entry) {
  return entry.section->hasRunIn() || entry.section->hasRunOffset();
}

bool isNonEmpty(const std::string* text) { return text && !text->empty(); }

bool isYes(const std::string* text) {
  return text && text->size() == 3 && ((*text)[0] | 0x20) == 'y' && ((*text)[1] | 0x20) == 'e' &&
         ((*text)[2] | 0x20) == 's';
}

// The attributes of the section being laid out, found in one pass over its
// attribute list rather than one search per use. "Set" follows the element
// accessors: present for most, non-empty for start, size, alignment and
// inputsections.
struct SectionAttributes {
  explicit SectionAttributes(const MemoryMapElement& section) {
    const std::pair<std::string_view, const std::string**> fields[] = {
        {"start"sv, &start},
        {"size"sv, &size},
        {"alignment"sv, &alignment},
        {"load"sv, &load},
        {"inputsections"sv, &inputSections},
        {"keep"sv, &keep},
        {"fill"sv, &fill},
        {"address_symbol"sv, &addressSymbol},
        {"end_symbol"sv, &endSymbol},
        {"size_symbol"sv, &sizeSymbol},
        {"runin"sv, &runIn},
        {"runoffset"sv, &runOffset},
    };
    for (const XMLElement::Attribute& attribute : section.attributes()) {
      for (const auto& [name, slot] : fields) {
        // The first of a repeated name counts, as for XMLElement::attribute.
        if (attribute.name == name && !*slot) {
          *slot = &attribute.value;
          break;
        }
      }
    }
    if (isNonEmpty(alignment))
      alignmentValue = section.alignment();
  }

  bool hasStart() const { return isNonEmpty(start); }
  bool hasSize() const { return isNonEmpty(size); }
  bool hasAlignment() const { return isNonEmpty(alignment); }
  bool relocated() const { return runIn || runOffset; }

  const std::string* start = nullptr;
  const std::string* size = nullptr;
  const std::string* alignment = nullptr;
  const std::string* load = nullptr;
  const std::string* inputSections = nullptr;
  const std::string* keep = nullptr;
  const std::string* fill = nullptr;
  const std::string* addressSymbol = nullptr;
  const std::string* endSymbol = nullptr;
  const std::string* sizeSymbol = nullptr;
  const std::string* runIn = nullptr;
  const std::string* runOffset = nullptr;
  uint32_t alignmentValue = 0;
};

std::string concat(std::initializer_list<std::string_view> pieces) {
  std::string text;
  for (std::string_view piece : pieces)
    text += piece;
  return text;
}

// Sets `load` to the section's load address expression.
void loadAddress(std::string& load, const SectionEntry& entry, const SectionAttributes& attributes,
                 const SectionEntry* predecessor, std::string_view seg) {
  load.clear();
  if (attributes.hasStart()) {
    load = *attributes.start;
    return;
  }
  if (entry.placeFromEnd) {
    load.append("__"sv).append(seg).append("_segment_start__ + (__"sv).append(seg);
    load.append("_segment_size__ - "sv).append(std::to_string(entry.endOffset)).append(")"sv);
    return;
  }
  const bool aligned = attributes.hasAlignment() && attributes.alignmentValue > 1;
  if (aligned)
    load.append("ALIGN("sv);
  if (!predecessor) {
    load.append("__"sv).append(seg).append("_segment_start__"sv);
  } else if (!isRelocated(*predecessor)) {
    load.append("__"sv).append(stemOf(predecessor->name)).append("_end__"sv);
  } else {
    // After the stored copy of a section that runs elsewhere.
    load.append("__"sv).append(stemOf(predecessor->name)).append("_load_start__ + SIZEOF("sv);
    load.append(predecessor->name).append(")"sv);
  }
  if (aligned)
    load.append(" , "sv).append(std::to_string(attributes.alignmentValue)).append(")"sv);
}

// The braces' input-section list of a section without inputsections.
std::string_view defaultInputSections(std::string_view name) {
  if (name == ".text"sv)
    return "*(.text .text.* .glue_7t .glue_7 .gnu.linkonce.t.* .gcc_except_table .ARM.extab* "
           ".gnu.linkonce.armextab.*)"sv;
  if (name == ".dtors"sv)
    return "KEEP (*(SORT(.dtors.*))) KEEP (*(.dtors)) KEEP (*(.fini_array)) KEEP (*(SORT(.fini_array.*)))"sv;
  if (name == ".ctors"sv)
    return "KEEP (*(SORT(.ctors.*))) KEEP (*(.ctors)) KEEP (*(.init_array)) KEEP (*(SORT(.init_array.*)))"sv;
  if (name == ".data"sv)
    return "*(.data .data.* .gnu.linkonce.d.*)"sv;
  if (name == ".rodata"sv)
    return "*(.rodata .rodata.* .gnu.linkonce.r.*)"sv;
  if (name == ".bss"sv)
    return "*(.bss .bss.* .gnu.linkonce.b.*) *(COMMON)"sv;
  return {};
}

void writeInputSections(ScriptStream& out, std::string_view name, const SectionAttributes& attributes) {
  const bool keep = isYes(attributes.keep);
  out << "    ";
  if (keep)
    out << "KEEP(";
  if (isNonEmpty(attributes.inputSections)) {
    out << *attributes.inputSections;
  } else {
    const std::string_view known = defaultInputSections(name);
    if (!known.empty())
      out << known;
    else
      out << "*(" << name << ' ' << name << ".*)";
  }
  if (keep)
    out << ')';
  out << '\n';
}

// With an alignment, of any value (0 and 1 included), the minimum size is
// rounded up to it.
void writeSizeLine(ScriptStream& out, std::string_view stem, const SectionAttributes& attributes) {
  if (!attributes.hasSize())
    return;
  if (!attributes.hasAlignment()) {
    out << "    . = MAX(__" << stem << "_start__ + " << *attributes.size << " , .);\n";
    return;
  }
  out << "    . = ALIGN(MAX(__" << stem << "_start__ + " << *attributes.size << " , .), "
      << Decimal{attributes.alignmentValue} << ");\n";
}

QString message(std::initializer_list<std::string_view> pieces) { return fromBytes(concat(pieces)); }

[[noreturn]] void fail(std::initializer_list<std::string_view> pieces) { throw FatalError(message(pieces)); }

}  // namespace

// One entry's layout, suspended while something it depends on is laid out.
// The values it computed before it was suspended are kept, exactly as local
// variables of a recursive call would be. They live apart from the frame and
// only from the Prepare step on: in a long chain laid out from its end every
// frame but the last waits before that step, so each costs a few bytes.
struct SectionLayout::Work {
  explicit Work(const MemoryMapElement& section) : attributes(section) {}

  SectionAttributes attributes;
  std::string_view stem;
  std::string_view seg;
  SectionEntry* predecessor = nullptr;
  std::string load;
  std::string_view noload;
  const std::vector<SectionEntry*>* clients = nullptr;
  size_t nextClient = 0;
  SectionEntry* runSection = nullptr;
  SectionEntry* runPredecessor = nullptr;
};

struct SectionLayout::Frame {
  enum class Step { Enter, Prepare, RunIn, Clients, Body };

  explicit Frame(SectionEntry* entry) : entry(entry) {}

  SectionEntry* entry;
  Step step = Step::Enter;
  std::unique_ptr<Work> work;  // from the Prepare step on
};

SectionLayout::SectionLayout(const std::vector<std::unique_ptr<SectionEntry>>& entries,
                             ScriptStream& stream, const ScriptOptions& options)
    : out_(stream),
      checkSegmentOverflow_(options.checkSegmentOverflow),
      missingRunInError_(options.missingRunInError),
      verbose_(options.verbose),
      defaultFillPattern_(toStdBytes(options.defaultFillPattern)) {
  firstByName_.reserve(entries.size());
  for (const std::unique_ptr<SectionEntry>& entry : entries) {
    firstByName_.emplace(entry->name, entry.get());  // keeps the first of a name
    if (const std::string* runIn = entry->section->attribute("runin"))
      clientsByRunIn_[*runIn].push_back(entry.get());
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
  for (;;) {
    switch (frame.step) {
      case Frame::Step::Enter:
        if (verbose_)
          printOutput(message({"Laying out section "sv, entry.name, "\n"sv}));
        if (entry.laidOut) {
          if (verbose_)
            printOutput(message({"Section "sv, entry.name, " already laid out\n"sv}));
          return nullptr;
        }
        if (entry.layingOut)
          fail({"cyclic memory section dependency with section "sv, entry.name});
        entry.layingOut = true;
        frame.step = Frame::Step::Prepare;
        if (entry.prev && !entry.prev->laidOut)
          return entry.prev;
        break;

      case Frame::Step::Prepare: {
        frame.work = std::make_unique<Work>(*entry.section);
        Work& work = *frame.work;
        const SectionAttributes& attributes = work.attributes;
        work.stem = stemOf(entry.name);
        work.seg = segmentName(*entry.segment);
        work.predecessor = predecessorOf(entry);
        loadAddress(work.load, entry, attributes, work.predecessor, work.seg);
        work.noload = isYes(attributes.load) ? ""sv : " (NOLOAD)"sv;

        static const std::vector<SectionEntry*> kNoClients;
        const auto clients = clientsByRunIn_.find(entry.name);
        work.clients = clients == clientsByRunIn_.end() ? &kNoClients : &clients->second;
        if (attributes.runIn && !work.clients->empty())
          fail({"run section "sv, entry.name, " cannot have run in sections"sv});

        if (attributes.runIn) {
          work.runSection = findRunSection(entry);
          if (!work.runSection) {
            if (missingRunInError_)
              fail({"cannot find run section "sv, *attributes.runIn, " referenced in "sv, work.stem});
            if (verbose_) {
              printOutput(message({"Discarding "sv, entry.name, " because run in section "sv, *attributes.runIn,
                                   " not found\n"sv}));
            }
            discard(entry);
            return nullptr;
          }
          work.runPredecessor = predecessorOf(*work.runSection);
          frame.step = Frame::Step::RunIn;
          if (work.runPredecessor && !work.runPredecessor->laidOut)
            return work.runPredecessor;
        } else if (attributes.runOffset) {
          out_ << "  __" << work.stem << "_load_start__ = " << work.load << ";\n";
          out_ << "  " << entry.name << " __" << work.stem << "_load_start__ + " << *attributes.runOffset
               << work.noload << " : AT(" << work.load << ")\n";
          frame.step = Frame::Step::Body;
        } else if (!work.clients->empty()) {
          frame.step = Frame::Step::Clients;
        } else {
          out_ << "  __" << work.stem << "_load_start__ = " << work.load << ";\n";
          out_ << "  " << entry.name << ' ' << work.load << work.noload << " : AT(" << work.load << ")\n";
          frame.step = Frame::Step::Body;
        }
        break;
      }

      case Frame::Step::RunIn: {
        const Work& work = *frame.work;
        const SectionEntry& runSection = *work.runSection;
        const MemoryMapElement& runElement = *runSection.section;
        out_ << "  __" << work.stem << "_load_start__ = " << work.load << ";\n";
        out_ << "  " << entry.name << ' ';
        if (runElement.hasStart()) {
          out_ << "0x" << Hex8{runElement.start()};
        } else {
          // Any alignment of the run section wraps the run address, even 0 or 1.
          const bool aligned = runElement.hasAlignment();
          if (aligned)
            out_ << "ALIGN(";
          if (work.runPredecessor)
            out_ << "__" << stemOf(work.runPredecessor->name) << "_end__";
          else
            out_ << "__" << segmentName(*runSection.segment) << "_segment_start__";
          if (aligned)
            out_ << " , " << Decimal{runElement.alignment()} << ')';
        }
        out_ << work.noload << " : AT(" << work.load << ")\n";
        frame.step = Frame::Step::Body;
        break;
      }

      case Frame::Step::Clients: {
        Work& work = *frame.work;
        // Every client is visited, even one already laid out, as a recursive
        // call would (its verbose lines show it).
        if (work.nextClient < work.clients->size())
          return (*work.clients)[work.nextClient++];
        out_ << "  " << entry.name << ' ' << work.load << work.noload << " :\n";
        writeBraces(frame);
        for (const SectionEntry* client : *work.clients)
          out_ << "    . = MAX(__" << work.stem << "_start__ + SIZEOF(" << client->name << "), .);\n";
        writeTail(frame);
        return nullptr;
      }

      case Frame::Step::Body:
        writeBraces(frame);
        writeInputSections(out_, entry.name, frame.work->attributes);
        writeTail(frame);
        return nullptr;
    }
  }
}

// The opening brace, the start symbol and the address symbol.
void SectionLayout::writeBraces(const Frame& frame) {
  const Work& work = *frame.work;
  out_ << "  {\n";
  out_ << "    __" << work.stem << "_start__ = .;\n";
  if (work.attributes.addressSymbol)
    out_ << "    " << *work.attributes.addressSymbol << " =   __" << work.stem << "_start__;\n";
}

// Everything after the statement's input line: size line, closing line,
// section symbols, segment-used symbols and checks.
void SectionLayout::writeTail(const Frame& frame) {
  SectionEntry& entry = *frame.entry;
  const Work& work = *frame.work;
  const SectionAttributes& attributes = work.attributes;
  const std::string_view stem = work.stem;
  const std::string_view seg = work.seg;
  const bool relocated = attributes.relocated();

  writeSizeLine(out_, stem, attributes);
  if (attributes.fill)
    out_ << "  } =" << *attributes.fill << "\n";
  else if (!defaultFillPattern_.empty())
    out_ << "  } =" << defaultFillPattern_ << "\n";
  else
    out_ << "  }\n";

  out_ << "  __" << stem << "_end__ = __" << stem << "_start__ + SIZEOF(" << entry.name << ");\n";
  out_ << "  __" << stem << "_size__ = SIZEOF(" << entry.name << ");\n";
  if (attributes.endSymbol)
    out_ << "  " << *attributes.endSymbol << " =   __" << stem << "_end__;\n";
  if (attributes.sizeSymbol)
    out_ << *attributes.sizeSymbol << " =   __" << stem << "_size__;\n";
  if (relocated)
    out_ << "  __" << stem << "_load_end__ = __" << stem << "_load_start__ + SIZEOF(" << entry.name << ");\n\n";
  else
    out_ << "  __" << stem << "_load_end__ = __" << stem << "_end__;\n\n";

  if (entry.lastInSegment) {
    out_ << "  __" << seg << "_segment_used_end__ = " << work.load << " + SIZEOF(" << entry.name << ");\n";
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
    const SectionEntry* predecessor = work.predecessor;
    if (predecessor && (attributes.hasStart() || entry.placeFromEnd)) {
      out_ << "  . = ASSERT(__" << stemOf(predecessor->name) << (isRelocated(*predecessor) ? "_load"sv : ""sv)
           << "_end__ <= __" << stem << (relocated ? "_load"sv : ""sv) << "_start__ , \"error: section "
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
  if (previous && previous->discarded) {
    const auto skip = skipDiscarded_.find(previous);
    previous = skip == skipDiscarded_.end() ? nullptr : skip->second;
  }
  return previous;
}

std::string_view SectionLayout::segmentName(const MemoryMapElement& segment) {
  auto found = segmentNames_.find(&segment);
  if (found == segmentNames_.end())
    found = segmentNames_.emplace(&segment, scriptName(segment)).first;
  return found->second;
}

void SectionLayout::discard(SectionEntry& entry) {
  skipDiscarded_.emplace(&entry, predecessorOf(entry));
  entry.layingOut = false;
  entry.laidOut = true;
  entry.discarded = true;
}

// The first entry named by a runin candidate ("a;b": a, else b), trying the
// candidates in order; empty candidates are skipped.
SectionEntry* SectionLayout::findRunSection(const SectionEntry& entry) const {
  const std::string* runIn = entry.section->attribute("runin");
  std::string_view rest = runIn ? std::string_view(*runIn) : std::string_view();
  while (!rest.empty()) {
    const size_t end = rest.find(';');
    const std::string_view candidate = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (candidate.empty())
      continue;
    const auto found = firstByName_.find(candidate);
    if (found != firstByName_.end())
      return found->second;
  }
  return nullptr;
}
