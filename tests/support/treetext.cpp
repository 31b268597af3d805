#include "support/treetext.h"

#include <cstdio>
#include <vector>

#include "xml/xmlnode.h"

namespace {

void appendQuoted(std::string& out, std::string_view value) {
  out += '"';
  for (const char c : value) {
    const unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte >= 0x7f) {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02X", byte);
          out += hex;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

// Writes everything of `node` up to its children; returns true for an element,
// whose "[" is then open.
bool appendHead(std::string& out, const XMLNode& node) {
  if (const XMLElement* element = node.toElement()) {
    out += element->tagName();
    if (element->attributeCount() != 0) {
      out += '(';
      bool first = true;
      for (const XMLAttribute& attribute : *element) {
        if (!first)
          out += ' ';
        first = false;
        out += attribute.name;
        out += '=';
        appendQuoted(out, attribute.value);
      }
      out += ')';
    }
    out += '[';
    return true;
  }
  out += "#cdata(";
  appendQuoted(out, static_cast<const XMLCDATASection&>(node).value());
  out += ')';
  return false;
}

}  // namespace

std::string treeText(const XMLNode* node) {
  if (!node)
    return "null";
  std::string out;
  if (!appendHead(out, *node))
    return out;
  // For each open element: the next child still to print.
  std::vector<const XMLNode*> next{node->firstChild()};
  while (!next.empty()) {
    const XMLNode* child = next.back();
    if (!child) {
      out += ']';
      next.pop_back();
      continue;
    }
    next.back() = child->nextSibling();
    if (out.back() != '[')
      out += ' ';
    if (appendHead(out, *child))
      next.push_back(child->firstChild());
  }
  return out;
}

