// The XML reader on any bytes, with the located reasons worked out, and a
// copy of the tree.
#include <string>

#include "base/diagnostics.h"
#include "xml/loadcontext.h"
#include "xml/xmlnode.h"
#include "xml/xmlreader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Diagnostics diagnostics(true);
  LoadContext context(diagnostics);
  XMLTree tree;
  if (const XMLElement* root = readXML(context, tree, text, 0, Severity::Error).root)
    tree.clone(*root);
  return 0;
}
