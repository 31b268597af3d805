// The lenient XML reader: one left-to-right pass over a file's text into a
// tree. It recognises a small set of constructs, skips the rest (character
// data and comments included), and knows exactly two syntax errors: a byte
// that cannot start an attribute name, and an end tag that does not match.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/diagnostics.h"

class LoadContext;
class XMLElement;
class XMLTree;

struct ReadOutcome {
  XMLElement* root = nullptr;  // null: the text had a syntax error or no element
  bool syntaxError = false;
};

// Reads `text` into `tree`'s arena, marking every node with the SourceMap
// `file`. The text ends at its first NUL and must be followed by one (as
// LoadContext::readFile leaves it); names and values are views into it, so
// it must live as long as the tree. When no root comes out, why is reported
// at its place with `failure` (an error for a file the user named, a warning
// for one an include reads), with notes on how the file was reached; input
// skipped in a text that reads well is reported as warnings.
ReadOutcome readXML(LoadContext& context, const XMLTree& tree, std::string_view text, std::uint32_t file,
                    Severity failure);
