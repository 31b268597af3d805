// One element of a memory-map or section-placement document, with the
// resolved start and size and the attribute accessors the generator reads.
#pragma once

#include <QDateTime>
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

  MemoryMapElement(std::string tagName, bool readOnly);

  Kind kind() const { return kind_; }

  // Resolved values; 0 until resolved and for an element without them.
  uint32_t start() const { return start_; }
  uint32_t size() const { return size_; }
  void setStart(uint32_t start) { start_ = start; }
  void setSize(uint32_t size) { size_ = size; }

  // "Present" accessors are true for an attribute with an empty value;
  // "non-empty" ones (hasStart, hasSize, hasAlignment, hasInputSections) are not.
  // Text accessors return the value, or an empty string when absent.
  QString name() const;
  bool hasStart() const;
  QString startText() const;
  bool hasAddressSymbol() const;
  QString addressSymbol() const;
  bool hasEndSymbol() const;
  QString endSymbol() const;
  bool hasSize() const;
  QString sizeText() const;
  bool hasSizeSymbol() const;
  QString sizeSymbol() const;
  bool hasAlignment() const;
  uint32_t alignment() const;  // integer literal rule
  bool hasRunIn() const;
  QString runIn() const;
  bool hasRunOffset() const;
  QString runOffset() const;
  bool isReadOnly() const;  // access is exactly "ReadOnly"
  bool hasInputSections() const;
  QString inputSections() const;
  bool isLoad() const;  // load is "Yes" in any letter case
  bool hasFill() const;
  QString fill() const;
  bool isKeep() const;  // keep is "Yes" in any letter case

  // Recorded for the root element of each file read; nothing reads them.
  std::unique_ptr<XMLNode> importElement;  // the Import element this root replaced
  QDateTime lastModified;
  bool readOnly;

private:
  QString text(const char* name) const;
  bool hasNonEmpty(const char* name) const;

  Kind kind_;
  uint32_t start_ = 0;
  uint32_t size_ = 0;
};
