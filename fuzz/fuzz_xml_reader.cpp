// The XML reader on any bytes, with both flag values, and a copy of the tree.
#include <string>

#include "xml/xmldocument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (int flags : {0, 1}) {
    XMLDocument document(flags);
    document.parse(text.c_str());
    if (document.root())
      document.cloneNode(*document.root());
  }
  return 0;
}
