#include "memorymap/sectionattributes.h"

#include <string_view>

#include "memorymap/memorymapelement.h"
#include "expressions/integerliteral.h"

using namespace std::string_view_literals;

bool isYes(const std::string_view* text) {
  return text && text->size() == 3 && ((*text)[0] | 0x20) == 'y' && ((*text)[1] | 0x20) == 'e' &&
         ((*text)[2] | 0x20) == 's';
}

// The slot of an attribute name, or null for a name the script does not
// read. The length picks the few names to compare, each a comparison of
// known length.
const std::string_view** SectionAttributes::slotOf(std::string_view name) {
  switch (name.size()) {
    case 4:
      return name == "size"sv ? &size : name == "load"sv ? &load : name == "keep"sv ? &keep
                                                                  : name == "fill"sv ? &fill : nullptr;
    case 5:
      return name == "start"sv ? &start : name == "runin"sv ? &runIn : nullptr;
    case 9:
      return name == "alignment"sv ? &alignment : name == "runoffset"sv ? &runOffset
                                                : name == "load_with"sv ? &loadWith : nullptr;
    case 10:
      return name == "end_symbol"sv ? &endSymbol : nullptr;
    case 11:
      return name == "size_symbol"sv ? &sizeSymbol : nullptr;
    case 13:
      return name == "inputsections"sv ? &inputSections : nullptr;
    case 14:
      return name == "address_symbol"sv ? &addressSymbol : nullptr;
    case 22:
      return name == "place_from_segment_end"sv ? &placeFromSegmentEnd : nullptr;
    default:
      return nullptr;
  }
}

SectionAttributes::SectionAttributes(const MemoryMapElement& element) {
  for (const XMLAttribute& attribute : element) {
    const std::string_view** slot = slotOf(attribute.name);
    if (slot && !*slot)
      *slot = &attribute.value;
  }
  if (hasAlignment())
    alignmentValue = static_cast<uint32_t>(parseIntegerLiteral(*alignment));
}
