// Whether GNU ld can read the texts that mkld copies into the script as they
// are (a section's start, size and fill, its input-section list), so that
// -diagnostics can point at the attribute instead of ld at a script line.
//
// Design priority: say no only where ld says no. The grammar is ld's, as its
// lexer reads an assignment (and, for a start, a section statement's
// address); a symbol ld may not find is not a fault here. One lexer feeds one
// pass with an explicit stack of open brackets, so no input nests the call
// stack.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where the text lands in the script.
enum class LdContext {
  Assignment,      // "X = TEXT;", "MAX(__s_start__ + TEXT , .)", "} =TEXT"
  SectionAddress,  // ".s TEXT : AT(TEXT)" too: no suffixed numbers such as 10h
};

// Where and why ld stops reading a text.
struct LdFault {
  std::size_t offset = 0;  // bytes into the text
  std::string message;     // what is wrong there, e.g. "\"O0\" cannot follow the
                           // number 0x2"
};

// No fault: ld reads `text` as one whole expression.
std::optional<LdFault> checkLdExpression(std::string_view text, LdContext context = LdContext::Assignment);

// A section's input line read as ld reads the inside of KEEP(...).
struct InputSectionList {
  std::vector<std::size_t> descriptions;  // the offset of each input-section description
  std::vector<bool> kept;                 // per description: it is KEEP(...) itself
  std::optional<LdFault> fault;           // where the text stops being such a list
};
InputSectionList readInputSections(std::string_view text);

// Whether a section pattern matches input sections called `name` or
// `name`.SUFFIX (as -fdata-sections names them). Patterns match as ld
// matches them, with fnmatch; one that matches the text "NAME.*" itself
// counts for the suffixed names.
bool patternTakes(std::string_view pattern, std::string_view name);
// Whether a section pattern of the list takes `name` (patternTakes), from
// whatever file. Those inside EXCLUDE_FILE(...) and INPUT_SECTION_FLAGS(...)
// are no section patterns.
bool listTakes(std::string_view text, std::string_view name);

// The fault of wrapping `text` in one KEEP(...): a second description, a
// KEEP inside, or a text that is no list of descriptions.
std::optional<LdFault> checkKeptInputSections(std::string_view text);
