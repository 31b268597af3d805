#include "ldscript/scripttext.h"

#include <string>
#include <string_view>

#include "base/bytes.h"

namespace {

using namespace std::string_view_literals;
using Hex8 = ScriptStream::Hex8;
using Decimal = ScriptStream::Decimal;

void writeSegmentSymbols(ScriptStream& out, const LayoutModel& model) {
  for (const MemoryMapElement* segment : model.segments) {
    const SectionAttributes attributes(*segment);
    const std::string seg = scriptName(*segment);
    const Hex8 start{segment->start()};
    const Hex8 size{segment->size()};
    out << "  __" << seg << "_segment_start__ = 0x" << start << ";\n";
    if (attributes.addressSymbol)
      out << *attributes.addressSymbol << " = 0x" << start << ";\n";
    out << "  __" << seg << "_segment_end__ = 0x" << Hex8{start.value + size.value} << ";\n";
    out << "  __" << seg << "_segment_size__ = 0x" << size << ";\n";
    if (attributes.sizeSymbol)
      out << *attributes.sizeSymbol << " = 0x" << size << ";\n";
  }
}

}  // namespace

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

namespace {

// An attribute's text, empty when absent.
std::string_view textOf(const MemoryMapElement& element, const char* name) {
  const std::string_view* text = element.attribute(name);
  return text ? std::string_view(*text) : std::string_view();
}

}  // namespace

void writeInputSections(ScriptStream& out, const LayoutSection& section) {
  const SectionAttributes& attributes = section.attributes;
  const bool keep = attributes.isKeep();
  out << "    ";
  if (keep)
    out << "KEEP(";
  if (attributes.hasInputSections()) {
    out << *attributes.inputSections;
  } else {
    const std::string_view known = defaultInputSections(section.name);
    if (!known.empty())
      out << known;
    else
      out << "*(" << section.name << ' ' << section.name << ".*)";
  }
  if (keep)
    out << ')';
  out << '\n';
}

std::string_view listedInputSections(const LayoutSection& section) {
  return section.attributes.hasInputSections() ? std::string_view(*section.attributes.inputSections)
                                               : defaultInputSections(section.name);
}

void writeBraces(ScriptStream& out, const LayoutSection& section) {
  out << "  {\n";
  out << "    __" << section.stem << "_start__ = .;\n";
  if (section.attributes.addressSymbol)
    out << "    " << *section.attributes.addressSymbol << " =   __" << section.stem << "_start__;\n";
}

// With an alignment, of any value (0 and 1 included), the minimum size is
// rounded up to it.
void writeMinimumSize(ScriptStream& out, const LayoutSection& section, std::string_view indent,
                      std::string_view counter) {
  const SectionAttributes& attributes = section.attributes;
  if (!attributes.hasSize())
    return;
  out << indent << counter << " = ";
  if (!attributes.hasAlignment()) {
    out << "MAX(__" << section.stem << "_start__ + " << *attributes.size << " , " << counter << ");\n";
    return;
  }
  out << "ALIGN(MAX(__" << section.stem << "_start__ + " << *attributes.size << " , " << counter << "), "
      << Decimal{attributes.alignmentValue} << ");\n";
}

void writeReservedSizes(ScriptStream& out, const LayoutSection& section, std::string_view indent,
                        std::string_view counter, bool fromClientEnds) {
  for (const LayoutSection* client : *section.clients) {
    if (fromClientEnds)
      out << indent << counter << " = MAX(__" << client->stem << "_end__, " << counter << ");\n";
    else
      out << indent << counter << " = MAX(__" << section.stem << "_start__ + SIZEOF(" << client->name << "), "
          << counter << ");\n";
  }
}

// A run section that only sections with a list of runin candidates run in
// has no clients; it keeps the load-start symbol of the section it is in the
// default form.
void writeReservation(ScriptStream& out, const LayoutSection& section, bool fromClientEnds) {
  const std::string_view stem = section.stem;
  if (section.run != RunForm::Reserve) {
    out << "  __" << stem << "_load_start__ = ";
    writeLoadAddress(out, section);
    out << ";\n";
  }
  out << "  __" << stem << "_start__ = ";
  writeLoadAddress(out, section);
  out << ";\n";
  if (section.attributes.addressSymbol)
    out << "  " << *section.attributes.addressSymbol << " =   __" << stem << "_start__;\n";
  const std::string end = "__" + std::string(stem) + "_end__";
  // ABSOLUTE(...), not the bare symbol: GNU ld took the end, updated from
  // itself below, for the start, and placed the section after a run section
  // whose client is aligned up (.bss after .data's) over that client.
  out << "  " << end << " = ABSOLUTE(__" << stem << "_start__);\n";
  if (section.clients)
    writeReservedSizes(out, section, "  "sv, end, fromClientEnds);
  writeMinimumSize(out, section, "  "sv, end);
  out << "  __" << stem << "_size__ = " << end << " - __" << stem << "_start__;\n";
}

void writeSymbolAliases(ScriptStream& out, const LayoutSection& section) {
  const SectionAttributes& attributes = section.attributes;
  const std::string_view stem = section.stem;
  if (attributes.endSymbol)
    out << "  " << *attributes.endSymbol << " =   __" << stem << "_end__;\n";
  if (attributes.sizeSymbol)
    out << *attributes.sizeSymbol << " =   __" << stem << "_size__;\n";
  if (attributes.relocated() || section.storedWith)
    out << "  __" << stem << "_load_end__ = __" << stem << "_load_start__ + SIZEOF(" << section.name << ");\n\n";
  else
    out << "  __" << stem << "_load_end__ = __" << stem << "_end__;\n\n";
}

void writeSegmentUsed(ScriptStream& out, const LayoutSection& section, bool sizeBySymbol, bool toInputs) {
  if (!section.lastInSegment)
    return;
  const std::string_view seg = section.segment;
  out << "  __" << seg << "_segment_used_end__ = ";
  writeLoadAddress(out, section, toInputs);
  if (sizeBySymbol)
    out << " + __" << section.stem << "_size__;\n";
  else
    out << " + SIZEOF(" << section.name << ");\n";
  out << "  __" << seg << "_segment_used_size__ = __" << seg << "_segment_used_end__ - __" << seg
      << "_segment_start__;\n\n";
}

void writeChecks(ScriptStream& out, const LayoutSection& section, std::string_view open, std::string_view close) {
  const SectionAttributes& attributes = section.attributes;
  const std::string_view stem = section.stem;
  const std::string_view seg = section.segment;
  const std::string& name = section.name;
  const bool relocated = attributes.relocated();
  if (relocated) {
    out << open << "__" << stem << "_load_start__ == __" << stem << "_load_end__ || (__" << stem
        << "_load_end__ - __" << seg << "_segment_start__) <=  __" << seg << "_segment_size__ , \"error: " << name
        << " is too large to fit in " << seg << " memory segment\"" << close;
  } else {
    out << open << "__" << stem << "_start__ == __" << stem << "_end__ || (__" << stem << "_end__ - __" << seg
        << "_segment_start__) <= __" << seg << "_segment_size__ , \"error: " << name << " is too large to fit in "
        << seg << " memory segment\"" << close;
  }
  const LayoutSection* predecessor = section.predecessor;
  if (predecessor && (attributes.hasStart() || section.placeFromEnd)) {
    out << open << "__" << predecessor->stem << (predecessor->attributes.relocated() ? "_load"sv : ""sv)
        << "_end__ <= __" << stem << (relocated ? "_load"sv : ""sv) << "_start__ , \"error: section "
        << predecessor->name << " overlaps absolute placed section " << name << "\"" << close;
  }
  out << "\n";
}

void writeAlignmentCheck(ScriptStream& out, const LayoutSection& section, std::string_view open,
                         std::string_view close) {
  out << open << "ABSOLUTE(__" << section.stem << "_start__) % ALIGNOF(" << section.name << ") == 0 , \"error: "
      << section.name << " starts below the alignment of its input sections\"" << close;
}

namespace {

// Everything after the statement's input line: size line, closing line,
// section symbols, segment-used symbols and checks.
void writeTail(ScriptStream& out, const LayoutSection& section, const ScriptOptions& options,
               std::string_view defaultFillPattern) {
  const SectionAttributes& attributes = section.attributes;
  const std::string_view stem = section.stem;
  const std::string& name = section.name;

  writeMinimumSize(out, section, "    "sv, "."sv);
  if (attributes.fill)
    out << "  } =" << *attributes.fill << "\n";
  else if (!defaultFillPattern.empty())
    out << "  } =" << defaultFillPattern << "\n";
  else
    out << "  }\n";

  out << "  __" << stem << "_end__ = __" << stem << "_start__ + SIZEOF(" << name << ");\n";
  out << "  __" << stem << "_size__ = SIZEOF(" << name << ");\n";
  writeSymbolAliases(out, section);
  writeSegmentUsed(out, section, false);
  if (options.checkSegmentOverflow)
    writeChecks(out, section, "  . = ASSERT("sv, ");\n"sv);
  if (options.checkSectionAlignment && section.run != RunForm::Reserve)
    writeAlignmentCheck(out, section, "  . = ASSERT("sv, ");\n\n"sv);
}

void writeStatement(ScriptStream& out, const LayoutSection& section) {
  const std::string_view noload = section.noload ? " (NOLOAD)"sv : ""sv;
  if (section.run == RunForm::Reserve) {
    out << "  " << section.name << ' ';
    writeLoadAddress(out, section);
    out << noload << " :\n";
    writeBraces(out, section);
    writeReservedSizes(out, section, "    "sv, "."sv);
    return;
  }
  writeStatementHead(out, section);
  writeBraces(out, section);
  writeInputSections(out, section);
}

}  // namespace

namespace {

// Where the image is stored: the load address, or beside the stored copy
// of the section that load_with names.
void writeStoredAddress(ScriptStream& out, const LayoutSection& section, bool toInputs) {
  if (!section.storedWith) {
    writeLoadAddress(out, section, toInputs);
    return;
  }
  const LayoutSection& with = *section.storedWith;
  out << "__" << with.stem << "_load_start__ + (ADDR(" << section.name << ") - ADDR(" << with.name << "))";
}

}  // namespace

void writeStatementHead(ScriptStream& out, const LayoutSection& section, bool toInputs) {
  const std::string_view noload = section.noload ? " (NOLOAD)"sv : ""sv;
  out << "  __" << section.stem << "_load_start__ = ";
  writeStoredAddress(out, section, toInputs);
  out << ";\n  " << section.name << ' ';
  switch (section.run) {
    case RunForm::AtLoad:
    case RunForm::Reserve:
      writeLoadAddress(out, section, toInputs);
      break;
    case RunForm::Offset:
      out << "__" << section.stem << "_load_start__ + " << *section.attributes.runOffset;
      break;
    case RunForm::RunSection:
      writeRunAddress(out, section, toInputs);
      break;
  }
  out << noload << " : AT(";
  writeStoredAddress(out, section, toInputs);
  out << ")\n";
}

bool followsSomething(const LayoutSection& section) {
  return section.run == RunForm::RunSection ||
         (section.load != LoadAddress::Start && section.load != LoadAddress::FromSegmentEnd);
}

void writeInputAlignment(ScriptStream& out, const LayoutSection& section) {
  out << "  __" << section.stem << "_align__ = ALIGNOF(" << section.name << ");\n";
}

namespace {

// "ALIGN(" and its alignment after the base address: `alignment` when above
// `least`; with `toInputs`, the largest of that and __STEM_align__, in one
// ALIGN (ld.lld keeps only the outer of two nested ones).
class Aligned {
public:
  Aligned(ScriptStream& out, const LayoutSection& section, uint32_t alignment, bool aligned, bool toInputs)
      : out_(out), stem_(section.stem), alignment_(alignment), aligned_(aligned), toInputs_(toInputs) {
    if (aligned_ || toInputs_)
      out_ << "ALIGN(";
  }
  ~Aligned() {
    if (aligned_ && toInputs_)
      out_ << " , MAX(" << Decimal{alignment_} << ", __" << stem_ << "_align__))";
    else if (toInputs_)
      out_ << " , __" << stem_ << "_align__)";
    else if (aligned_)
      out_ << " , " << Decimal{alignment_} << ')';
  }

private:
  ScriptStream& out_;
  std::string_view stem_;
  uint32_t alignment_;
  bool aligned_;
  bool toInputs_;
};

}  // namespace

void writeLoadAddress(ScriptStream& out, const LayoutSection& section, bool toInputs) {
  const std::string_view seg = section.segment;
  switch (section.load) {
    case LoadAddress::Start:
      out << *section.attributes.start;
      return;
    case LoadAddress::FromSegmentEnd:
      out << "__" << seg << "_segment_start__ + (__" << seg << "_segment_size__ - " << Decimal{section.endOffset}
          << ')';
      return;
    case LoadAddress::SegmentStart:
    case LoadAddress::AfterSection:
    case LoadAddress::AfterStoredCopy:
      break;
  }
  const Aligned aligned(out, section, section.loadAlignment, section.loadAlignment > 1, toInputs);
  if (section.load == LoadAddress::SegmentStart)
    out << "__" << seg << "_segment_start__";
  else if (section.load == LoadAddress::AfterSection)
    out << "__" << section.predecessor->stem << "_end__";
  else  // after the stored copy of a section that runs elsewhere
    out << "__" << section.predecessor->stem << "_load_start__ + SIZEOF(" << section.predecessor->name << ')';
}

void writeRunAddress(ScriptStream& out, const LayoutSection& section, bool toInputs) {
  const LayoutSection& runSection = *section.runSection;
  if (runSection.attributes.hasStart()) {
    const Aligned aligned(out, section, 0, false, toInputs);
    out << "0x" << Hex8{runSection.element->start()};
    return;
  }
  // Any alignment of the run section wraps the run address, even 0 or 1.
  const Aligned aligned(out, section, runSection.attributes.alignmentValue, runSection.attributes.hasAlignment(),
                        toInputs);
  if (section.runPredecessor)
    out << "__" << section.runPredecessor->stem << "_end__";
  else
    out << "__" << runSection.segment << "_segment_start__";
}

void writeEntry(ScriptStream& out, const ScriptOptions& options) {
  // Without it the linker starts the program at the start of .text, which
  // is the entry point only by chance; a loader that takes the ELF's entry
  // (a debugger, an emulator) then starts the wrong code.
  if (!options.entry.isEmpty())
    out << "ENTRY(" << options.entry << ")\n\n";
}

void writeMemoryRegion(ScriptStream& out, const MemoryMapElement& segment) {
  out << "  " << scriptName(segment) << " (" << (segment.isReadOnly() ? "rx" : "wx") << ") : ORIGIN = 0x"
      << Hex8{segment.start()} << ", LENGTH = 0x" << Hex8{segment.size()} << "\n";
}

void writeMemoryLines(ScriptStream& out, const LayoutModel& model, bool checkUnplacedSections) {
  if (checkUnplacedSections)
    out << "  UNPLACED_SECTIONS (wx) : ORIGIN = 0x100000000, LENGTH = 0\n";
  for (const MemoryMapElement* segment : model.regions)
    writeMemoryRegion(out, *segment);
}

void writeSectionsHead(ScriptStream& out, const LayoutModel& model, const ScriptOptions& options) {
  out << "SECTIONS\n{\n";
  writeSegmentSymbols(out, model);
  out << "\n";
  for (auto it = options.symbols.cbegin(); it != options.symbols.cend(); ++it)
    out << "  " << it.key() << " = " << it.value() << ";\n";
  for (auto it = options.provideSymbols.cbegin(); it != options.provideSymbols.cend(); ++it)
    out << "  PROVIDE(" << it.key() << " = " << it.value() << ");\n";
  for (const MemoryMapElement* symbol : model.symbols) {
    const std::string_view name = textOf(*symbol, "name");
    const std::string_view value = textOf(*symbol, "value");
    if (isYes(symbol->attribute("provide")))
      out << "  PROVIDE(" << name << " = " << value << ");\n";
    else
      out << "  " << name << " = " << value << ";\n";
  }
  out << "\n";
  for (const MemoryMapElement* discard : model.discards) {
    out << "  /DISCARD/ :\n  {\n";
    const std::string_view inputs = textOf(*discard, "inputsections");
    if (!inputs.empty())
      out << "    " << inputs << "\n";
    out << "  }\n\n";
  }
}

void writeAssertions(ScriptStream& out, const LayoutModel& model, std::string_view open, std::string_view close) {
  for (const MemoryMapElement* assertion : model.asserts)
    out << open << textOf(*assertion, "test") << " , \"" << textOf(*assertion, "message") << '"' << close;
  if (!model.asserts.empty())
    out << "\n";
}

void writeScriptText(ScriptStream& out, const LayoutModel& model, const ScriptOptions& options) {
  writeEntry(out, options);
  out << "MEMORY\n{\n";
  writeMemoryLines(out, model, options.checkUnplacedSections);
  out << "}\n\n";
  writeSectionsHead(out, model, options);
  const std::string defaultFillPattern = toStdBytes(options.defaultFillPattern);
  for (const LayoutSection* section : model.order) {
    if (options.runSectionsAsSymbols && section->run == RunForm::Reserve) {
      // No output section between a run section's clients and what follows
      // it: GNU ld wants .tdata and .tbss adjacent, and a NOLOAD section at
      // a client's run address gets its load address too.
      writeReservation(out, *section, false);
      writeSymbolAliases(out, *section);
      writeSegmentUsed(out, *section, true);
      if (options.checkSegmentOverflow)
        writeChecks(out, *section, "  . = ASSERT("sv, ");\n"sv);
      continue;
    }
    writeStatement(out, *section);
    writeTail(out, *section, options, defaultFillPattern);
  }
  writeAssertions(out, model, "  . = ASSERT("sv, ");\n"sv);
  out << "}\n\n";
}
