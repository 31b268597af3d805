// One element of a memory-map or section-placement document, with the
// resolved start and size and the attribute accessors the generator reads.
#pragma once

#include <QString>
#include <cstdint>
#include <string_view>

#include "xml/xmlnode.h"

class MemoryMapElement : public XMLElement {
public:
  // Decided once from the tag name (exact, case-sensitive).
  enum Kind : std::uint8_t {
    MemorySegment,
    Register,
    ProgramSection,
    Root,
    RegisterGroup,
    BitField,
    Enum,
    Processor,
    Vector,
    Other,
  };

  explicit MemoryMapElement(std::string_view tagName);
  // The element maker of the documents' trees (XMLTree::ElementMaker).
  static XMLElement* make(Arena& arena, std::string_view tagName);

  Kind kind() const { return kind_; }

  // Resolved values; 0 until resolved and for an element without them.
  uint32_t start() const { return start_; }
  uint32_t size() const { return size_; }
  void setStart(uint32_t start) { start_ = start; }
  void setSize(uint32_t size) { size_ = size; }

  // The name attribute, or an empty string. The attributes the script is
  // made of are read through SectionAttributes (memorymap/sectionattributes.h).
  QString name() const;
  bool isReadOnly() const;  // access is exactly "ReadOnly"

private:
  Kind kind_;
  uint32_t start_ = 0;
  uint32_t size_ = 0;
};
