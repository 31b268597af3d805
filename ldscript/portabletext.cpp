#include "ldscript/portabletext.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "base/bytes.h"
#include "ldscript/scripttext.h"

namespace {

using namespace std::string_view_literals;

// The region of the sections whose run address the layout does not put in
// order with the sections of the region it falls in: one placed with
// runoffset, and one that runs in the first of a list of runin candidates
// (its run section does not wait for it, so it comes after the sections
// that follow the run section). It spans the address space, so that ld.lld,
// whose position in a region only grows, counts them apart.
constexpr std::string_view kRunAnywhere = "RUN_ANYWHERE"sv;

bool runsAnywhere(const LayoutSection& section) {
  return section.run == RunForm::Offset ||
         (section.run == RunForm::RunSection && *section.attributes.runIn != section.runSection->name);
}

// The region a section's run address is counted in.
std::string_view runRegion(const LayoutSection& section) {
  if (runsAnywhere(section))
    return kRunAnywhere;
  return section.run == RunForm::RunSection ? section.runSection->segment : section.segment;
}

// The default form's regions, then a region for each segment that sections
// run in but that has none (a placement file that gives only some of its
// segments a start and a size): made from that segment's symbols, so that
// `> NAME` names a region that holds what the symbols say.
void writeMemoryBlock(ScriptStream& out, const LayoutModel& model, const ScriptOptions& options) {
  out << "MEMORY\n{\n";
  writeMemoryLines(out, model, options.checkUnplacedSections);
  std::unordered_set<std::string> named;
  for (const MemoryMapElement* region : model.regions)
    named.insert(scriptName(*region));
  std::unordered_map<std::string, const MemoryMapElement*> bySymbols;
  for (const MemoryMapElement* segment : model.segments)
    bySymbols.emplace(scriptName(*segment), segment);  // the first of a name, as the symbols
  bool anywhere = false;
  std::string_view previous;  // sections mostly follow others of their region
  for (const LayoutSection* section : model.order) {
    if (runsAnywhere(*section)) {
      anywhere = true;
      continue;
    }
    const std::string_view region = runRegion(*section);
    if (region.data() == previous.data() && region.size() == previous.size())
      continue;
    previous = region;
    const std::string name(region);
    if (!named.insert(name).second)
      continue;
    const auto symbols = bySymbols.find(name);
    const MemoryMapElement& segment = symbols != bySymbols.end()         ? *symbols->second
                                      : section->run == RunForm::RunSection ? *section->runSection->segmentElement
                                                                            : *section->segmentElement;
    writeMemoryRegion(out, segment);
  }
  if (anywhere)
    out << "  " << kRunAnywhere << " (wx) : ORIGIN = 0, LENGTH = 0x100000000\n";
  out << "}\n\n";
}

// `withTbss`: the .tbss input sections join the list (LayoutModel::tdataWithoutTbss),
// so that the TLS block is one section, its zeros stored with .tdata's image.
void writeSection(ScriptStream& out, const LayoutSection& section, std::string_view defaultFillPattern,
                  bool withTbss) {
  if (followsSomething(section))
    writeInputAlignment(out, section);
  writeStatementHead(out, section, true);
  writeBraces(out, section);
  writeInputSections(out, section);
  if (withTbss)
    out << "    *(.tbss .tbss.* .gnu.linkonce.tb.*) *(.tcommon)\n";
  writeMinimumSize(out, section, "    "sv, "."sv);
  out << "  } > " << runRegion(section);
  // An empty fill attribute asks for no fill: "=" alone would not parse.
  const std::string_view* fill = section.attributes.fill;
  if (fill && !fill->empty())
    out << " =" << *fill;
  else if (!fill && !defaultFillPattern.empty())
    out << " =" << defaultFillPattern;
  out << '\n';
  out << "  __" << section.stem << "_end__ = __" << section.stem << "_start__ + SIZEOF(" << section.name << ");\n";
  out << "  __" << section.stem << "_size__ = SIZEOF(" << section.name << ");\n";
}

}  // namespace

void writePortableScriptText(ScriptStream& out, const LayoutModel& model, const ScriptOptions& options) {
  writeEntry(out, options);
  writeMemoryBlock(out, model, options);
  writeSectionsHead(out, model, options);
  const std::string defaultFillPattern = toStdBytes(options.defaultFillPattern);
  // The sections that something runs in only through a list of runin
  // candidates: reservations too (a run section that runs elsewhere itself
  // keeps its statement).
  std::unordered_set<const LayoutSection*> runSections;
  for (const LayoutSection* section : model.order) {
    if (section->run == RunForm::RunSection && section->runSection->run == RunForm::AtLoad)
      runSections.insert(section->runSection);
  }
  for (const LayoutSection* section : model.order) {
    const bool reserve = section->run == RunForm::Reserve || runSections.count(section) != 0;
    if (reserve)
      writeReservation(out, *section, true);
    else
      writeSection(out, *section, defaultFillPattern, section == model.tdataWithoutTbss);
    writeSymbolAliases(out, *section);
    writeSegmentUsed(out, *section, reserve, !reserve);
    if (options.checkSegmentOverflow)
      writeChecks(out, *section, "  ASSERT("sv, ")\n"sv);
    if (options.checkSectionAlignment && !reserve)
      writeAlignmentCheck(out, *section, "  ASSERT("sv, ")\n\n"sv);
  }
  writeAssertions(out, model, "  ASSERT("sv, ")\n"sv);
  out << "}\n\n";
}
