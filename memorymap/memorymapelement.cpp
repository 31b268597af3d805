#include "memorymap/memorymapelement.h"

#include "base/bytes.h"

namespace {

MemoryMapElement::Kind kindOf(std::string_view tagName) {
  static const struct {
    std::string_view tag;
    MemoryMapElement::Kind kind;
  } kinds[] = {
      {"MemorySegment", MemoryMapElement::MemorySegment},
      {"Register", MemoryMapElement::Register},
      {"ProgramSection", MemoryMapElement::ProgramSection},
      {"Root", MemoryMapElement::Root},
      {"RegisterGroup", MemoryMapElement::RegisterGroup},
      {"BitField", MemoryMapElement::BitField},
      {"Enum", MemoryMapElement::Enum},
      {"Processor", MemoryMapElement::Processor},
      {"Vector", MemoryMapElement::Vector},
  };
  for (const auto& k : kinds) {
    if (tagName == k.tag)
      return k.kind;
  }
  return MemoryMapElement::Other;
}

}  // namespace

MemoryMapElement::MemoryMapElement(std::string_view tagName) : XMLElement(tagName), kind_(kindOf(tagName)) {}

XMLElement* MemoryMapElement::make(Arena& arena, std::string_view tagName) {
  return arena.make<MemoryMapElement>(tagName);
}

QString MemoryMapElement::name() const {
  const std::string_view* value = attribute("name");
  return value ? fromBytes(*value) : QString();
}

bool MemoryMapElement::isReadOnly() const {
  const std::string_view* value = attribute("access");
  return value && *value == "ReadOnly";
}
