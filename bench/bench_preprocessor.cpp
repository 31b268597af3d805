// Preprocessing time for loop-generated trees and for macro expansion.
#include <benchmark/benchmark.h>

#include <QString>
#include <string>

#include "base/diagnostics.h"
#include "xml/loadcontext.h"
#include "xml/preprocessor.h"
#include "xml/xmlnode.h"
#include "xml/xmlreader.h"

namespace {

// Reads `xml` and preprocesses it with the given macros.
void preprocess(benchmark::State& state, const std::string& xml, const char* macros) {
  const MacroTable table = parseMacroList(QLatin1String(macros));
  for (auto _ : state) {
    Diagnostics diagnostics(false);
    LoadContext context(diagnostics);
    XMLTree tree;
    Preprocessor preprocessor(context, tree);
    XMLElement* root = readXML(context, tree, xml, 0, Severity::Error).root;
    if (!root || !(root = preprocessor.run(root, QString(), table, true, Severity::Error))) {
      state.SkipWithError("preprocessing failed");
      return;
    }
    benchmark::DoNotOptimize(root);
  }
}
std::string loop(int count, const std::string& body) {
  return "<Root><for index=\"i\" start=\"0\" end=\"" + std::to_string(count) +
         "\" incr=\"1\" mul=\"0x100\" add=\"$(BASE)\">" + body + "</for></Root>";
}

void BM_ForLoop100k(benchmark::State& state) {
  preprocess(state,
             loop(100000,
                  "<MemorySegment name=\"SEG$(i)\" start=\"$(i_ap_hex)\" size=\"0x100\" "
                  "access=\"$(ACCESS)\"/>"),
             "BASE=0x20000000;ACCESS=ReadWrite");
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_ForLoop100k)->Unit(benchmark::kMillisecond);

// Every copy is a conditional that is then replaced by its content.
void BM_ConditionalsInLoop100k(benchmark::State& state) {
  preprocess(state,
             loop(100000,
                  "<if KIND=\"flash\"><ProgramSection name=\".s$(i)\" start=\"$(i_ap_hex)\"/>"
                  "</if><ifnot KIND=\"flash\"><Other/></ifnot>"),
             "BASE=0;KIND=flash");
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_ConditionalsInLoop100k)->Unit(benchmark::kMillisecond);

void BM_ExpandMacros(benchmark::State& state) {
  const MacroTable table =
      parseMacroList(QStringLiteral("BASE=0x08000000;SIZE=0x80000;NAME=FLASH"));
  const QString text = QStringLiteral("$(NAME)_$(KIND:rom) at $(BASE) + $(OFFSET:$(SIZE)) $$ end");
  for (auto _ : state)
    benchmark::DoNotOptimize(expandMacros(table, text, false));
}
BENCHMARK(BM_ExpandMacros);

}  // namespace
