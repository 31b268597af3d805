// One element of a memory-map or section-placement document, with the
// resolved start and size and the attribute accessors the generator reads.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

#include "xml/xmlnode.h"

class MemoryMapElement : public XMLElement {
public:
  // Decided once from the tag name (exact, case-sensitive).
  enum Kind {
    MemorySegment = 0,
    Register = 1,
    ProgramSection = 2,
    Root = 3,
    RegisterGroup = 4,
    BitField = 5,
    Enum = 6,
    Processor = 7,
    Vector = 8,
    Other = 9,
  };

  explicit MemoryMapElement(std::string tagName);

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
