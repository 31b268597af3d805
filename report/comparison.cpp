#include "report/comparison.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "base/bytes.h"
#include "report/jsonreport.h"
#include "report/textreport.h"
#include "report/texttable.h"

namespace {

constexpr size_t MarkdownRows = 25;  // rows of a folded Markdown table before "and N more"

// Sizes by key, duplicates added up (two static symbols of one name).
using Sizes = QMap<std::pair<QString, QString>, uint64_t>;

uint64_t integer(const QJsonValue& value) {
  return value.isDouble() && value.toDouble() >= 0 ? static_cast<uint64_t>(value.toDouble()) : 0;
}

// The rows of both maps whose size differs, largest change first, then by
// key.
std::vector<SizeChange> changes(const Sizes& before, const Sizes& after, bool symbols) {
  std::vector<SizeChange> list;
  const auto add = [&](const std::pair<QString, QString>& key) {
    SizeChange change;
    change.name = key.second;
    if (symbols)
      change.section = key.first;
    if (before.contains(key))
      change.before = before.value(key);
    if (after.contains(key))
      change.after = after.value(key);
    if (change.before != change.after)
      list.push_back(std::move(change));
  };
  for (auto it = after.keyBegin(); it != after.keyEnd(); ++it)
    add(*it);
  for (auto it = before.keyBegin(); it != before.keyEnd(); ++it) {
    if (!after.contains(*it))
      add(*it);
  }
  std::stable_sort(list.begin(), list.end(), [](const SizeChange& a, const SizeChange& b) {
    const int64_t x = std::llabs(a.delta()), y = std::llabs(b.delta());
    if (x != y)
      return x > y;
    return std::tie(a.section, a.name) < std::tie(b.section, b.name);
  });
  return list;
}

QByteArray signedNumber(int64_t value) {
  if (value == 0)
    return "0";
  return (value > 0 ? "+" : "-") + groupedNumber(static_cast<uint64_t>(std::llabs(value)));
}

QByteArray sizeText(const std::optional<uint64_t>& size, uint64_t capacity) {
  if (!size)
    return "-";
  QByteArray text = groupedNumber(*size);
  if (capacity)
    text += " (" + percentText(100.0 * static_cast<double>(*size) / static_cast<double>(capacity)) + ')';
  return text;
}

QByteArray markdownCell(const QString& text) {
  QByteArray out = '`' + toBytes(text).replace('|', "\\|").replace('`', '\'') + '`';
  return out;
}

void markdownTable(QByteArray& out, const char* heading, const std::vector<SizeChange>& rows, bool symbols,
                   size_t limit) {
  out += QByteArray("| ") + heading + (symbols ? " | section | before | after | change |\n|---|---|---:|---:|---:|\n"
                                               : " | before | after | change |\n|---|---:|---:|---:|\n");
  for (size_t i = 0; i < std::min(limit, rows.size()); ++i) {
    const SizeChange& row = rows[i];
    out += "| " + markdownCell(row.name) + " | ";
    if (symbols)
      out += markdownCell(row.section) + " | ";
    out += sizeText(row.before, row.capacityBefore) + " | " + sizeText(row.after, row.capacityAfter) + " | " +
           signedNumber(row.delta()) + " |\n";
  }
  if (rows.size() > limit)
    out += "\nand " + groupedNumber(rows.size() - limit) + " more\n";
}

void textTable(QByteArray& out, const char* heading, const std::vector<SizeChange>& rows, bool symbols) {
  std::vector<bool> right = {false, true, true, true};
  if (symbols)
    right.insert(right.begin() + 1, false);
  TextTable table(right);
  table.cell(heading);
  if (symbols)
    table.cell("section");
  for (const char* title : {"before", "after", "change"})
    table.cell(title);
  for (const SizeChange& row : rows) {
    table.cell() += toBytes(row.name);
    if (symbols)
      table.cell() += toBytes(row.section);
    table.cell(sizeText(row.before, row.capacityBefore));
    table.cell(sizeText(row.after, row.capacityAfter));
    table.cell(signedNumber(row.delta()));
  }
  table.write(out, "  ");
}

}  // namespace

int64_t SizeChange::delta() const {
  return static_cast<int64_t>(after.value_or(0)) - static_cast<int64_t>(before.value_or(0));
}

std::optional<Comparison> compareWithJson(const MemoryReport& report, const QString& oldFile,
                                          const QByteArray& oldJson, QString* error) {
  QJsonParseError parseError;
  const QJsonDocument document = QJsonDocument::fromJson(oldJson, &parseError);
  const QJsonObject old = document.object();
  if (document.isNull() || !document.isObject()) {
    *error = oldFile + QLatin1String(" is not JSON: ") + parseError.errorString();
    return std::nullopt;
  }
  const QJsonValue version = old.value(QLatin1String("formatVersion"));
  if (version.toInt(-1) != JsonFormatVersion) {
    *error = oldFile + QLatin1String(" is not a memory report of format version ") +
             QString::number(JsonFormatVersion) + QLatin1String(" (write it again with -json)");
    return std::nullopt;
  }
  Comparison comparison;
  comparison.oldFile = oldFile;
  // Segments: every one of either report, the new ones in order.
  QMap<QString, std::pair<uint64_t, uint64_t>> oldSegments;  // name -> used, size
  QStringList oldOrder;
  for (const QJsonValue& value : old.value(QLatin1String("segments")).toArray()) {
    const QJsonObject segment = value.toObject();
    const QString name = segment.value(QLatin1String("name")).toString();
    oldSegments.insert(name, {integer(segment.value(QLatin1String("used"))),
                              integer(segment.value(QLatin1String("size")))});
    oldOrder.append(name);
  }
  for (const SegmentUsage& segment : report.segments) {
    SizeChange change{segment.name, QString(), std::nullopt, segment.usedBytes(), 0, segment.size};
    if (oldSegments.contains(segment.name))
      std::tie(change.before, change.capacityBefore) = oldSegments.value(segment.name);
    comparison.segments.push_back(std::move(change));
  }
  for (const QString& name : oldOrder) {
    const bool kept = std::any_of(report.segments.begin(), report.segments.end(),
                                  [&](const SegmentUsage& segment) { return segment.name == name; });
    if (!kept)
      comparison.segments.push_back({name, QString(), oldSegments.value(name).first, std::nullopt,
                                     oldSegments.value(name).second, 0});
  }
  Sizes oldSections, newSections, oldSymbols, newSymbols;
  for (const QJsonValue& value : old.value(QLatin1String("sections")).toArray()) {
    const QJsonObject section = value.toObject();
    const QString name = section.value(QLatin1String("name")).toString();
    oldSections[{QString(), name}] += integer(section.value(QLatin1String("size")));
    for (const QJsonValue& symbolValue : section.value(QLatin1String("symbols")).toArray()) {
      const QJsonObject symbol = symbolValue.toObject();
      oldSymbols[{name, symbol.value(QLatin1String("name")).toString()}] +=
          integer(symbol.value(QLatin1String("size")));
    }
  }
  for (const SectionUsage& section : report.sections) {
    newSections[{QString(), section.name}] += section.size;
    for (const SymbolUsage& symbol : section.symbols)
      newSymbols[{section.name, symbol.name}] += symbol.size;
  }
  comparison.sections = changes(oldSections, newSections, false);
  comparison.symbols = changes(oldSymbols, newSymbols, true);
  return comparison;
}

QByteArray comparisonText(const Comparison& comparison) {
  QByteArray out = "Compared with " + toBytes(comparison.oldFile) + " (bytes used)\n";
  textTable(out, "segment", comparison.segments, false);
  out += "\nSections that changed: " + groupedNumber(comparison.sections.size()) + "\n";
  if (!comparison.sections.empty())
    textTable(out, "section", comparison.sections, false);
  out += "\nSymbols that changed: " + groupedNumber(comparison.symbols.size()) + "\n";
  if (!comparison.symbols.empty())
    textTable(out, "symbol", comparison.symbols, true);
  return out;
}

QByteArray comparisonMarkdown(const Comparison& comparison) {
  QByteArray out = "### Memory usage compared with " + markdownCell(comparison.oldFile) + "\n\n";
  markdownTable(out, "segment", comparison.segments, false, comparison.segments.size());
  const auto folded = [&](const char* what, const char* heading, const std::vector<SizeChange>& rows, bool symbols) {
    out += "\n<details><summary>" + groupedNumber(rows.size()) + ' ' + what + " changed</summary>\n\n";
    if (!rows.empty())
      markdownTable(out, heading, rows, symbols, MarkdownRows);
    out += "\n</details>\n";
  };
  folded("sections", "section", comparison.sections, false);
  folded("symbols", "symbol", comparison.symbols, true);
  return out;
}
