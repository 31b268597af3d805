#include "memorymap/memorymapelement.h"

#include <cstring>
#include <string_view>

#include "base/bytes.h"
#include "xml/expressions/integerliteral.h"

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

bool isYes(const std::string* value) {
  return value && value->size() == 3 && (((*value)[0] | 0x20) == 'y') &&
         (((*value)[1] | 0x20) == 'e') && (((*value)[2] | 0x20) == 's');
}

}  // namespace

MemoryMapElement::MemoryMapElement(std::string tagName, bool readOnly)
    : XMLElement(std::move(tagName)), readOnly(readOnly), kind_(kindOf(this->tagName())) {}

QString MemoryMapElement::text(const char* name) const {
  const std::string* value = attribute(name);
  return value ? fromBytes(*value) : QString();
}

bool MemoryMapElement::hasNonEmpty(const char* name) const {
  const std::string* value = attribute(name);
  return value && !value->empty();
}

QString MemoryMapElement::name() const { return text("name"); }
bool MemoryMapElement::hasStart() const { return hasNonEmpty("start"); }
QString MemoryMapElement::startText() const { return text("start"); }
bool MemoryMapElement::hasAddressSymbol() const { return hasAttribute("address_symbol"); }
QString MemoryMapElement::addressSymbol() const { return text("address_symbol"); }
bool MemoryMapElement::hasEndSymbol() const { return hasAttribute("end_symbol"); }
QString MemoryMapElement::endSymbol() const { return text("end_symbol"); }
bool MemoryMapElement::hasSize() const { return hasNonEmpty("size"); }
QString MemoryMapElement::sizeText() const { return text("size"); }
bool MemoryMapElement::hasSizeSymbol() const { return hasAttribute("size_symbol"); }
QString MemoryMapElement::sizeSymbol() const { return text("size_symbol"); }
bool MemoryMapElement::hasAlignment() const { return hasNonEmpty("alignment"); }

uint32_t MemoryMapElement::alignment() const {
  const std::string* value = attribute("alignment");
  return value ? static_cast<uint32_t>(parseIntegerLiteral(*value)) : 0;
}

bool MemoryMapElement::hasRunIn() const { return hasAttribute("runin"); }
QString MemoryMapElement::runIn() const { return text("runin"); }
bool MemoryMapElement::hasRunOffset() const { return hasAttribute("runoffset"); }
QString MemoryMapElement::runOffset() const { return text("runoffset"); }

bool MemoryMapElement::isReadOnly() const {
  const std::string* value = attribute("access");
  return value && *value == "ReadOnly";
}

bool MemoryMapElement::hasInputSections() const { return hasNonEmpty("inputsections"); }
QString MemoryMapElement::inputSections() const { return text("inputsections"); }
bool MemoryMapElement::isLoad() const { return isYes(attribute("load")); }
bool MemoryMapElement::hasFill() const { return hasAttribute("fill"); }
QString MemoryMapElement::fill() const { return text("fill"); }
bool MemoryMapElement::isKeep() const { return isYes(attribute("keep")); }
