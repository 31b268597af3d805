#include "memorymap/names.h"

#include <QStringList>
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/didyoumean.h"
#include "memorymap/attributevalues.h"
#include "memorymap/document.h"
#include "memorymap/placementsegment.h"
#include "xml/preprocessor.h"
#include "base/bytes.h"

namespace {

// A list of attribute names, also kept as bytes by length: the names of
// every element pass here, and each is compared only with the few known
// names of its length, as bytes.
class KnownNames {
public:
  explicit KnownNames(QStringList names) : list_(std::move(names)) {
    for (const QString& name : list_) {
      std::string bytes = toStdBytes(name);
      if (byLength_.size() <= bytes.size())
        byLength_.resize(bytes.size() + 1);
      byLength_[bytes.size()].push_back(std::move(bytes));
    }
  }

  bool contains(std::string_view name) const {
    if (name.size() >= byLength_.size())
      return false;
    for (const std::string& candidate : byLength_[name.size()]) {
      if (candidate[0] == name[0] && std::memcmp(candidate.data(), name.data(), name.size()) == 0)
        return true;
    }
    return false;
  }
  bool isEmpty() const { return list_.isEmpty(); }
  // For the suggestion of a report.
  const QStringList& list() const { return list_; }

private:
  QStringList list_;
  std::vector<std::vector<std::string>> byLength_;  // by the length of the name
};

// The attributes each element of the two file formats reads. Register
// descriptions carry many more that only other tools read, so their
// attributes are not checked.
const KnownNames& knownAttributes(MemoryMapElement::Kind kind, std::string_view tagName) {
  static const KnownNames segment({
      QStringLiteral("name"),   QStringLiteral("start"),          QStringLiteral("size"),
      QStringLiteral("access"), QStringLiteral("address_symbol"), QStringLiteral("size_symbol")});
  static const KnownNames section({
      QStringLiteral("name"),           QStringLiteral("start"),
      QStringLiteral("size"),           QStringLiteral("alignment"),
      QStringLiteral("load"),           QStringLiteral("keep"),
      QStringLiteral("inputsections"),  QStringLiteral("fill"),
      QStringLiteral("address_symbol"), QStringLiteral("end_symbol"),
      QStringLiteral("size_symbol"),    QStringLiteral("runin"),
      QStringLiteral("runoffset"),      QStringLiteral("place_from_segment_end"),
      QStringLiteral("load_with")});
  static const KnownNames root({QStringLiteral("name")});
  static const KnownNames import({QStringLiteral("filename")});
  static const KnownNames symbol({QStringLiteral("name"), QStringLiteral("value"), QStringLiteral("provide")});
  static const KnownNames assertion({QStringLiteral("test"), QStringLiteral("message")});
  static const KnownNames unchecked{QStringList()};
  switch (kind) {
    case MemoryMapElement::MemorySegment:
      return segment;
    case MemoryMapElement::ProgramSection:
      return section;
    case MemoryMapElement::Root:
      return root;
    default:
      if (tagName == "Symbol")
        return symbol;
      if (tagName == "Assert")
        return assertion;
      return tagName == "Import" ? import : unchecked;
  }
}

const QStringList& knownElements() {
  static const QStringList names = [] {
    QStringList list = {QStringLiteral("Root"),          QStringLiteral("MemorySegment"),
                        QStringLiteral("ProgramSection"), QStringLiteral("Import"),
                        QStringLiteral("RegisterGroup"), QStringLiteral("Register"),
                        QStringLiteral("BitField"),      QStringLiteral("Enum"),
                        QStringLiteral("Processor"),     QStringLiteral("Vector"),
                        QStringLiteral("Symbol"),        QStringLiteral("Assert")};
    list += directiveNames();
    return list;
  }();
  return names;
}

template <typename Visit>
void forEachElement(const MemoryMapElement* top, Visit visit) {
  const XMLNode* node = top;
  while (node) {
    if (const XMLElement* element = node->toElement())
      visit(static_cast<const MemoryMapElement&>(*element));
    if (node->firstChild()) {
      node = node->firstChild();
      continue;
    }
    while (node != top && !node->nextSibling())
      node = node->parent();
    node = node == top ? nullptr : node->nextSibling();
  }
}

}  // namespace

void checkNames(const Document& document, Diagnostics& diagnostics) {
  const MemoryMapElement* root = document.rootElement();
  const QStringList& elements = knownElements();
  ReportedOnce reported;
  auto firstTime = [&](const MemoryMapElement& element, const QString& name) {
    return reported.first(document.sources(), element, name);
  };
  forEachElement(root, [&](const MemoryMapElement& element) {
    checkAttributeValues(document, element, diagnostics, reported);
    // Directives left in the tree were reported when they were kept; any
    // root element is accepted. The known kinds need no QString of the tag.
    const bool other = &element != root && element.kind() == MemoryMapElement::Other;
    const QString tag = other ? fromBytes(element.tagName()) : QString();
    if (other && !elements.contains(tag) && firstTime(element, QLatin1Char('<') + tag)) {
      document.sources().report(diagnostics, Severity::Warning, element,
                              QLatin1String("unknown element <") + tag +
                                  QLatin1String(">: it is ignored, its contents are still read") +
                                  didYouMean(tag, elements));
    }
    const KnownNames& known = knownAttributes(element.kind(), element.tagName());
    if (known.isEmpty())
      return;
    for (const XMLAttribute& attribute : element) {
      // Compared as bytes: the names of every element pass here, and a
      // QString is made only for a report.
      const std::string_view raw = attribute.name;
      // Namespace declarations and qualified names (a schema hint such as
      // xsi:noNamespaceSchemaLocation) belong to other tools.
      if (known.contains(raw) || raw.substr(0, 5) == "xmlns" || raw.find(':') != std::string_view::npos)
        continue;
      const QString name = fromBytes(raw);
      if (firstTime(element, name)) {
        const QString tagName = fromBytes(element.tagName());
        diagnostics.reportLocated(Severity::Warning, document.sources().attributeLocation(element, raw),
                                  QLatin1String("unknown attribute \"") + name + QLatin1String("\" in <") + tagName +
                                      QLatin1String(">: it is ignored") + didYouMean(name, known.list()),
                                  document.sources().notes(element));
      }
    }
  });
}

void checkPlacementSegments(const MemoryMap& memoryMap, const SectionPlacement& placement,
                            Diagnostics& diagnostics) {
  if (!diagnostics.located())
    return;
  QStringList mapNames;
  for (const MemoryMapElement* segment : memoryMap.memorySegments(false))
    mapNames.append(segment->name());
  for (const MemoryMapElement* segment : placement.memorySegments(false)) {
    if (memoryMapSegmentFor(memoryMap, segment->name()))
      continue;
    const QStringList names = segment->name().split(QLatin1Char(';'), Qt::SkipEmptyParts);
    const qsizetype sections = placement.programSections(segment).size();
    QString text = QLatin1String("no memory-map segment is named \"") + segment->name() +
                   QLatin1String("\": the ") + QString::number(sections) +
                   QLatin1String(sections == 1 ? " section in it is" : " sections in it are") +
                   QLatin1String(" not placed");
    text += names.isEmpty() ? QString() : didYouMean(names.front(), mapNames);
    placement.sources().report(diagnostics, Severity::Warning, *segment, text);
  }
}
