#include "memorymap/memorymapelement.h"

#include <cstring>
#include <string_view>

#include "base/bytes.h"

namespace {

MemoryMapElement::Kind kindOf(const std::string& tagName) {
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

MemoryMapElement::MemoryMapElement(std::string tagName)
    : XMLElement(std::move(tagName)), kind_(kindOf(this->tagName())) {}

QString MemoryMapElement::name() const {
  const std::string* value = attribute("name");
  return value ? fromBytes(*value) : QString();
}

bool MemoryMapElement::isReadOnly() const {
  const std::string* value = attribute("access");
  return value && *value == "ReadOnly";
}
