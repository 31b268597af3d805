#include "memorymap/sectionattributes.h"

#include <string_view>
#include <utility>

#include "memorymap/memorymapelement.h"
#include "expressions/integerliteral.h"

using namespace std::string_view_literals;

bool isYes(const std::string_view* text) {
  return text && text->size() == 3 && ((*text)[0] | 0x20) == 'y' && ((*text)[1] | 0x20) == 'e' &&
         ((*text)[2] | 0x20) == 's';
}

SectionAttributes::SectionAttributes(const MemoryMapElement& element) {
  const std::pair<std::string_view, const std::string_view**> fields[] = {
      {"start"sv, &start},
      {"size"sv, &size},
      {"alignment"sv, &alignment},
      {"load"sv, &load},
      {"inputsections"sv, &inputSections},
      {"keep"sv, &keep},
      {"fill"sv, &fill},
      {"address_symbol"sv, &addressSymbol},
      {"end_symbol"sv, &endSymbol},
      {"size_symbol"sv, &sizeSymbol},
      {"runin"sv, &runIn},
      {"runoffset"sv, &runOffset},
      {"place_from_segment_end"sv, &placeFromSegmentEnd},
      {"load_with"sv, &loadWith},
  };
  for (const XMLAttribute& attribute : element) {
    for (const auto& [name, slot] : fields) {
      if (attribute.name == name) {
        if (!*slot)
          *slot = &attribute.value;
        break;
      }
    }
  }
  if (hasAlignment())
    alignmentValue = static_cast<uint32_t>(parseIntegerLiteral(*alignment));
}
