// Macro lists and expansion: part 1 is a macro list, part 2 the text.
#include "base/bytes.h"
#include "fuzz/fuzz_support.h"
#include "xml/macros.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = splitParts(data, size, 2);
  const MacroTable table = parseMacroList(fromBytes(parts[0]));
  const QString text = fromBytes(parts[1]);
  for (bool builtins : {false, true})
    expandMacros(table, text, builtins);
  mergeMacros(table, parseMacroList(text));
  return 0;
}
