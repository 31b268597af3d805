#include "report/jsonreport.h"

#include "base/bytes.h"
#include "base/hex.h"

namespace {

// Names are bytes; the JSON carries them as they are, with the characters
// JSON does not allow in a string escaped.
QByteArray string(const QString& text) {
  QByteArray out = "\"";
  for (const char c : toBytes(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
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

}  // namespace

QByteArray jsonReport(const MemoryReport& report) {
  QByteArray out = "{\n  \"file\": " + string(report.elfFile) + ",\n  \"segments\": [";
  const char* separator = "\n";
  for (const SegmentUsage& segment : report.segments) {
    out += separator;
    out += "    {\"name\": " + string(segment.name) + ", \"start\": " + number(segment.start) +
           ", \"size\": " + number(segment.size) + ", \"run\": " + number(segment.runBytes) +
           ", \"load\": " + number(segment.loadBytes) + ", \"reserved\": " + number(segment.reservedBytes) +
           ", \"free\": " + number(segment.freeBytes) + ", \"largestGap\": " + number(segment.largestFreeGap) +
           ", \"usedPercent\": " + QByteArray::number(segment.usedPercent(), 'f', 1) +
           ",\n     \"blocks\": " + blocks(segment.blocks, "       ") + '}';
    separator = ",\n";
  }
  out += report.segments.empty() ? "],\n" : "\n  ],\n";
  out += "  \"outside\": " + blocks(report.outside, "    ") + "\n}\n";
  return out;
}
