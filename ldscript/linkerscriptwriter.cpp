#include "ldscript/linkerscriptwriter.h"

#include <string>

#include "base/diagnostics.h"
#include "base/fatalerror.h"
#include "base/replacingfile.h"
#include "ldscript/copiedtextchecks.h"
#include "ldscript/endplacement.h"
#include "ldscript/layoutchecks.h"
#include "ldscript/ldsyntax.h"
#include "ldscript/scriptstream.h"
#include "ldscript/portabletext.h"
#include "ldscript/scripttext.h"
#include "ldscript/sectionlayout.h"
#include "ldscript/sectionlist.h"
#include "memorymap/document.h"

namespace {

void generate(ScriptStream& out, const LinkerScriptInputs& inputs, Diagnostics& diagnostics) {
  const LayoutModel model = computeLayout(inputs, diagnostics);
  if (inputs.portableScript)
    writePortableScriptText(out, model, inputs);
  else
    writeScriptText(out, model, inputs);
}

// What the linker could not parse in the placement file's Symbol and Assert
// elements: a missing name, value, test or message, or a message with a double quote
// (an ld string has no way to hold one).
void checkStatements(const LayoutModel& model, Diagnostics& diagnostics) {
  auto fail = [&](const MemoryMapElement& element, const QString& text) {
    if (diagnostics.located())
      model.placement->sources().report(diagnostics, Severity::Error, element, text);
    throw FatalError(text);
  };
  auto isEmpty = [](const MemoryMapElement& element, const char* name) {
    const std::string_view* text = element.attribute(name);
    return !text || text->empty();
  };
  for (const MemoryMapElement* symbol : model.symbols) {
    if (isEmpty(*symbol, "name") || isEmpty(*symbol, "value"))
      fail(*symbol, QStringLiteral("a Symbol needs a name and a value"));
  }
  for (const MemoryMapElement* assertion : model.asserts) {
    if (isEmpty(*assertion, "test") || isEmpty(*assertion, "message"))
      fail(*assertion, QStringLiteral("an Assert needs a test and a message"));
    const std::string_view* message = assertion->attribute("message");
    if (message && message->find('"') != std::string::npos)
      fail(*assertion, QStringLiteral("the message of an Assert cannot hold a double quote"));
  }
}

const LayoutSection* findTdataWithoutTbss(const LayoutModel& model) {
  const LayoutSection* tdata = nullptr;
  for (const LayoutSection* section : model.order) {
    if (section->run == RunForm::Reserve)
      continue;
    const std::string_view list = listedInputSections(*section);
    // *(NAME NAME.*): what NAME.* takes, NAME takes as well.
    auto takes = [&](std::string_view name) {
      return list.empty() ? patternTakes(section->name, name) : listTakes(list, name);
    };
    if (takes(".tbss"))
      return nullptr;
    if (!tdata && takes(".tdata"))
      tdata = section;
  }
  for (const MemoryMapElement* discard : model.discards) {
    const std::string_view* list = discard->attribute("inputsections");
    if (list && listTakes(*list, ".tbss"))
      return nullptr;
  }
  return tdata;
}

}  // namespace

LayoutModel computeLayout(const LinkerScriptInputs& inputs, Diagnostics& diagnostics) {
  LayoutModel model;
  buildSectionList(model, *inputs.memoryMap, inputs.placement, inputs.symbols, inputs.verbose);
  checkStatements(model, diagnostics);
  markEndPlacement(model, diagnostics);
  layoutSections(model, inputs, &diagnostics);
  if (inputs.portableScript || diagnostics.located())
    model.tdataWithoutTbss = findTdataWithoutTbss(model);
  checkLayout(model, diagnostics,
              inputs.portableScript           ? ScriptForm::Portable
              : inputs.checkSectionAlignment ? ScriptForm::AlignmentChecked
                                             : ScriptForm::Default);
  checkCopiedTexts(model, inputs.portableScript, diagnostics);
  return model;
}

std::string generateLinkerScript(const LinkerScriptInputs& inputs, Diagnostics& diagnostics) {
  ScriptStream out;
  generate(out, inputs, diagnostics);
  return out.text();
}

void writeLinkerScript(const QString& outputFile, const LinkerScriptInputs& inputs,
                       Diagnostics& diagnostics) {
  ReplacingFile file(outputFile);
  if (!file.isOpen()) {
    // The plain line keeps its words; the located one adds the system's reason.
    const QString text = QLatin1String("cannot open ") + outputFile + QLatin1String(" for writing");
    const SourceLocation where{outputFile, 0, 0};
    throw FatalError(Diagnostic{
        Severity::Error, where, text, text, {{where, QLatin1String("the system's reason: ") + file.errorString()}}});
  }

  ScriptStream out(&file);
  generate(out, inputs, diagnostics);
  const QString error = out.flush() ? file.commit() : file.errorString();
  if (!error.isEmpty())
    throw FatalError(QLatin1String("cannot write ") + outputFile + QLatin1String(": ") + error);
}
