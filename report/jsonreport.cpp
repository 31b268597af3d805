#include "report/jsonreport.h"

#include "base/bytes.h"
#include "base/hex.h"

namespace {

// Names are bytes, and need not be UTF-8: a byte above 0x7f is written as
// the character of its value (\u00XX), as are the control characters JSON
// does not allow in a string. The JSON is then valid for any name, and a
// reader that takes each character as one byte (as -compare does) gets the
// name back exactly.
QByteArray string(const QString& text) {
  QByteArray out = "\"";
  for (const char c : toBytes(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte > 0x7f) {
      char digits[kMaxHexDigits];
      out += "\\u00";
      out.append(digits, static_cast<qsizetype>(hexDigits(byte, 2, digits)));
    } else {
      out += c;
    }
  }
  return out + '"';
}

QByteArray number(uint64_t value) {
  return QByteArray::number(static_cast<qulonglong>(value));
}

QByteArray blocks(const std::vector<Block>& list, const char* indent) {
  QByteArray out = "[";
  const char* separator = "\n";
  for (const Block& block : list) {
    out += separator;
    out += indent;
    out += "{\"section\": ";
    out += block.kind == BlockKind::Free ? QByteArray("null") : string(block.section);
    out += ", \"kind\": \"";
    out += kindName(block.kind);
    out += "\", \"runAddress\": " + number(block.runAddress);
    out += ", \"loadAddress\": " + (block.loadAddress ? number(*block.loadAddress) : QByteArray("null"));
    out += ", \"size\": " + number(block.size);
    out += ", \"loadSegment\": " + (block.loadSegment.isEmpty() ? QByteArray("null") : string(block.loadSegment));
    out += '}';
    separator = ",\n";
  }
  if (!list.empty())
    out += QByteArray("\n") + QByteArray(indent).chopped(2);
  return out + ']';
}

QByteArray limit(const SegmentUsage& segment) {
  if (!segment.limit)
    return "null";
  return "{\"percent\": " + toBytes(segment.limit->percentText) + ", \"bytes\": " + number(segment.limit->bytes) +
         ", \"held\": " + (segment.overLimit() ? "false" : "true") + '}';
}

QByteArray symbols(const std::vector<SymbolUsage>& list) {
  QByteArray out = "[";
  const char* separator = "";
  for (const SymbolUsage& symbol : list) {
    out += separator;
    out += "{\"name\": " + string(symbol.name) + ", \"address\": " + number(symbol.address) +
           ", \"size\": " + number(symbol.size) + '}';
    separator = ", ";
  }
  return out + ']';
}

const char* objectSource(ObjectSource source) {
  switch (source) {
  case ObjectSource::Dwarf:
    return "\"dwarf\"";
  case ObjectSource::MapFile:
    return "\"map\"";
  case ObjectSource::None:
    break;
  }
  return "null";
}

}  // namespace

QByteArray jsonReport(const MemoryReport& report) {
  QByteArray out = "{\n  \"formatVersion\": " + QByteArray::number(JsonFormatVersion) +
                   ",\n  \"file\": " + string(report.elfFile) + ",\n  \"outcome\": \"" +
                   (report.fails() ? "fail" : "pass") + "\",\n  \"segments\": [";
  const char* separator = "\n";
  for (const SegmentUsage& segment : report.segments) {
    out += separator;
    out += "    {\"name\": " + string(segment.name) + ", \"start\": " + number(segment.start) +
           ", \"size\": " + number(segment.size) + ", \"used\": " + number(segment.usedBytes()) +
           ", \"run\": " + number(segment.runBytes) + ", \"load\": " + number(segment.loadBytes) +
           ", \"reserved\": " + number(segment.reservedBytes) + ", \"free\": " + number(segment.freeBytes) +
           ", \"overflow\": " + number(segment.overflowBytes) + ", \"largestGap\": " +
           number(segment.largestFreeGap) + ", \"usedPercent\": " +
           QByteArray::number(segment.usedPercent(), 'f', 1) + ", \"limit\": " + limit(segment) +
           ",\n     \"blocks\": " + blocks(segment.blocks, "       ") + '}';
    separator = ",\n";
  }
  out += report.segments.empty() ? "],\n" : "\n  ],\n";
  out += "  \"outside\": " + blocks(report.outside, "    ") + ",\n  \"sections\": [";
  separator = "\n";
  for (const SectionUsage& section : report.sections) {
    out += separator;
    out += "    {\"name\": " + string(section.name) + ", \"segment\": " +
           (section.segment.isEmpty() ? QByteArray("null") : string(section.segment)) +
           ", \"runAddress\": " + number(section.runAddress) + ", \"size\": " + number(section.size) +
           ",\n     \"symbols\": " + symbols(section.symbols) + '}';
    separator = ",\n";
  }
  out += report.sections.empty() ? "],\n" : "\n  ],\n";
  out += "  \"objectSource\": " + QByteArray(objectSource(report.objectSource)) + ",\n  \"objects\": [";
  separator = "\n";
  for (const ObjectUsage& object : report.objects) {
    out += separator;
    out += "    {\"object\": " + string(object.object) + ", \"library\": " +
           (object.library.isEmpty() ? QByteArray("null") : string(object.library)) +
           ", \"section\": " + string(object.section) + ", \"size\": " + number(object.size) + '}';
    separator = ",\n";
  }
  out += report.objects.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}
