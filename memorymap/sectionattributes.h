// The one way to read the attributes the script is made of, from a
// ProgramSection or a MemorySegment: one pass over the element's attribute
// list instead of one search per use. The texts stay bytes, borrowed from the
// element, which must outlive this.
#pragma once

#include <cstdint>
#include <string_view>

class MemoryMapElement;

// "Yes" in any letter case: the one reading of a yes/no attribute (load,
// keep, place_from_segment_end). Absent or anything else is no.
bool isYes(const std::string_view* text);

struct SectionAttributes {
  explicit SectionAttributes(const MemoryMapElement& element);

  // Present: the attribute exists, even with an empty value. Set (hasStart,
  // hasSize, hasAlignment, hasInputSections): it exists and is not empty.
  bool hasStart() const { return isSet(start); }
  bool hasSize() const { return isSet(size); }
  bool hasAlignment() const { return isSet(alignment); }
  bool hasInputSections() const { return isSet(inputSections); }
  bool isLoad() const { return isYes(load); }
  bool isKeep() const { return isYes(keep); }
  bool wantsSegmentEnd() const { return isYes(placeFromSegmentEnd); }
  // Stored in one place and run in another (runin or runoffset present).
  bool relocated() const { return runIn || runOffset; }

  // Null when absent; the first of a repeated name counts, as for
  // XMLElement::attribute.
  const std::string_view* start = nullptr;
  const std::string_view* size = nullptr;
  const std::string_view* alignment = nullptr;
  const std::string_view* load = nullptr;
  const std::string_view* inputSections = nullptr;
  const std::string_view* keep = nullptr;
  const std::string_view* fill = nullptr;
  const std::string_view* addressSymbol = nullptr;
  const std::string_view* endSymbol = nullptr;
  const std::string_view* sizeSymbol = nullptr;
  const std::string_view* runIn = nullptr;
  const std::string_view* runOffset = nullptr;
  const std::string_view* placeFromSegmentEnd = nullptr;
  const std::string_view* loadWith = nullptr;
  // The alignment read by the integer literal rule; 0 when not set.
  uint32_t alignmentValue = 0;

private:
  const std::string_view** slotOf(std::string_view name);
  static bool isSet(const std::string_view* text) { return text && !text->empty(); }
};
