#include "memorymap/memorymap.h"

#include <QFileInfo>
#include <algorithm>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/didyoumean.h"
#include "memorymap/names.h"
#include "expressions/evaluate.h"
#include "expressions/integerliteral.h"
#include "xml/macros.h"

namespace {

MemoryMapElement* asMemoryMapElement(XMLNode* node) {
  // Every element of a MemoryMap comes from its createElement.
  return node && node->type() == XMLNode::Type::Element ? static_cast<MemoryMapElement*>(node)
                                                        : nullptr;
}

// Where a start or size that does not evaluate is reported; no sink: not.
struct Reports {
  const SourceMap& sources;
  Diagnostics* diagnostics;
};

// A section's start and size go into the script as written, for ld to
// read: the rules of what ld reads there come with the layout. An
// unexpanded $(NAME) was reported where it stands.
void reportUnevaluated(const MemoryMapElement& element, const char* attribute, const QString& text,
                       const EvaluationError& error, const Reports& reports) {
  if (element.kind() == MemoryMapElement::ProgramSection)
    return;
  reports.sources.reportExpression(*reports.diagnostics, element, attribute, text, error,
                                   QLatin1String("the ") + QLatin1String(attribute) +
                                       QLatin1String(" is taken as 0"));
}

// Number rule 1: a constant expression, reduced to 32 bits.
bool evaluateAddress(const MemoryMapElement& element, const char* attribute,
                     const std::string& text, uint32_t& value, const Reports& reports) {
  EvaluationError error;
  const QString expression = fromBytes(text);
  const std::optional<uint64_t> result = evaluateUnsigned(expression, &error);
  if (result) {
    value = static_cast<uint32_t>(*result);
  } else if (reports.diagnostics) {
    reportUnevaluated(element, attribute, expression, error, reports);
  }
  return result.has_value();
}

void resolveStart(MemoryMapElement& element, uint32_t base, const Reports& reports) {
  element.setStart(0);
  const std::string* text = element.attribute("start");
  if (!text || text->empty())
    return;
  uint32_t start = 0;
  evaluateAddress(element, "start", *text, start, reports);  // a failed evaluation leaves 0
  // A leading '+' is a unary plus to the evaluator and "relative to the
  // enclosing element" to the memory map.
  if ((*text)[0] == '+')
    start += base;
  element.setStart(start);
}

void resolveSize(MemoryMapElement& element, const Reports& reports) {
  const std::string* text = element.attribute("size");
  if (!text)
    return;
  switch (element.kind()) {
    case MemoryMapElement::MemorySegment:
    case MemoryMapElement::ProgramSection:
    case MemoryMapElement::RegisterGroup: {
      uint32_t size = 0;
      if (evaluateAddress(element, "size", *text, size, reports))
        element.setSize(size);
      break;
    }
    case MemoryMapElement::Register:
    case MemoryMapElement::BitField:
    case MemoryMapElement::Enum:
      element.setSize(static_cast<uint32_t>(parseIntegerLiteral(*text)));
      break;
    default:
      break;
  }
}

// Resolves the element's own start and size and returns the base its
// children resolve relative starts against.
uint32_t resolveElement(MemoryMapElement& element, uint32_t base, const Reports& reports) {
  uint32_t childBase = base;
  if (element.hasAttribute("start")) {
    switch (element.kind()) {
      case MemoryMapElement::MemorySegment:
      case MemoryMapElement::ProgramSection:
      case MemoryMapElement::RegisterGroup:
        resolveStart(element, base, reports);
        childBase = element.start();
        break;
      case MemoryMapElement::Register:
        resolveStart(element, base, reports);
        break;
      case MemoryMapElement::BitField:
      case MemoryMapElement::Enum:
        resolveStart(element, 0, reports);
        break;
      default:
        break;
    }
  }
  resolveSize(element, reports);
  return childBase;
}

// Visits `start` and the elements below it depth first in document order,
// without recursion. `visit(element, base)` returns whether to descend and
// the base the children receive.
template <typename Visit>
void walk(MemoryMapElement* start, uint32_t base, Visit visit) {
  if (!start)
    return;
  std::vector<std::pair<MemoryMapElement*, uint32_t>> pending{{start, base}};
  std::vector<MemoryMapElement*> children;
  while (!pending.empty()) {
    auto [element, elementBase] = pending.back();
    pending.pop_back();
    const auto [descend, childBase] = visit(*element, elementBase);
    if (!descend)
      continue;
    children.clear();
    for (XMLNode* child = element->firstChild(); child; child = child->nextSibling()) {
      if (MemoryMapElement* childElement = asMemoryMapElement(child))
        children.push_back(childElement);
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it)
      pending.emplace_back(*it, childBase);
  }
}

void resolveAddresses(MemoryMapElement* root, uint32_t base, const Reports& reports) {
  walk(root, base, [&reports](MemoryMapElement& element, uint32_t elementBase) {
    return std::make_pair(true, resolveElement(element, elementBase, reports));
  });
}

// Elements of `kind` at or below `start` in document order; a match is not
// searched further.
QList<MemoryMapElement*> collect(MemoryMapElement* start, MemoryMapElement::Kind kind) {
  QList<MemoryMapElement*> found;
  walk(start, 0, [&](MemoryMapElement& element, uint32_t) {
    const bool match = element.kind() == kind;
    if (match)
      found.append(&element);
    return std::make_pair(!match, uint32_t{0});
  });
  return found;
}

}  // namespace

MemoryMap::MemoryMap() : XMLPP2(0) {}

MemoryMap::~MemoryMap() = default;

std::unique_ptr<XMLElement> MemoryMap::createElement(std::string tagName) {
  return std::make_unique<MemoryMapElement>(std::move(tagName));
}

MemoryMapElement* MemoryMap::rootElement() const { return asMemoryMapElement(root()); }

bool MemoryMap::loadFile(const QString& path, const QString& macros, bool preprocessFile) {
  preprocess = preprocessFile;
  macroList = macros;
  // The file and everything it imports share one budget: readFile lowers
  // the limits by what each file used, and they are restored at the end.
  const Limits perLoad = limits;
  std::unique_ptr<MemoryMapElement> newRoot = readFile(path);
  if (!newRoot) {
    limits = perLoad;
    return false;
  }
  setRoot(std::move(newRoot));
  filePath = path;
  const bool imported = importFiles();
  limits = perLoad;
  if (!imported) {
    setRoot(nullptr);
    return false;
  }
  resolve();
  return true;
}

void MemoryMap::resolve() {
  Diagnostics* const sink = diagnostics && diagnostics->located() ? diagnostics : nullptr;
  resolveAddresses(rootElement(), 0, Reports{sources, sink});
  if (sink)
    checkNames(*this, *sink);
}

bool MemoryMap::loadString(const QString& text) {
  parse(toBytes(text).constData());
  if (!rootElement())
    return false;
  filePath.clear();
  if (!importFiles()) {
    setRoot(nullptr);
    return false;
  }
  resolve();
  return true;
}

std::unique_ptr<MemoryMapElement> MemoryMap::readFile(const QString& path, std::uint32_t openedBy,
                                                     const XMLElement* importElement) {
  QString expanded = expandMacros(MacroTable(), path, true);
  // Diagnostics name the file as the Import resolved it relative to the
  // file naming it, as an include does; it is read by its absolute path.
  QString shown = expanded;
  if (QFileInfo(expanded).isRelative() && !filePath.isEmpty()) {
    shown = fromNativePath(QFileInfo(nativePath(filePath)).path()) + QLatin1Char('/') + expanded;
    expanded = fromNativePath(QFileInfo(nativePath(filePath)).absolutePath()) + QLatin1Char('/') + expanded;
  }

  std::unique_ptr<XMLElement> savedRoot = takeRoot();

  lastUsage = Usage();
  bool ok = load(expanded, openedBy, shown) && root();
  if (!ok && diagnostics) {
    // The file named on the command line fails the run; an Import is left
    // out, and one whose file cannot be read is reported at the Import.
    if (openedBy && !readError.isEmpty() && importElement) {
      sources.report(*diagnostics, Severity::Warning, *importElement,
                     QLatin1String("cannot read imported file \"") + shown + QLatin1String("\": ") +
                         readError + didYouMeanFile(shown));
    } else {
      reportLoadProblem(*diagnostics, openedBy ? Severity::Warning : Severity::Error);
    }
  }
  if (ok && diagnostics)
    reportNotices(*diagnostics);
  if (ok && preprocess) {
    ok = processConditionals(root(), expanded, parseMacroList(macroList), true) && root();
    limits.maxCreatedElements -= std::min(limits.maxCreatedElements, lastUsage.createdElements);
    limits.maxExpandedCharacters -= std::min(limits.maxExpandedCharacters, lastUsage.expandedCharacters);
  }

  std::unique_ptr<XMLElement> loaded = takeRoot();
  setRoot(std::move(savedRoot));
  if (!ok)
    return nullptr;
  return std::unique_ptr<MemoryMapElement>(static_cast<MemoryMapElement*>(loaded.release()));
}

bool MemoryMap::importFiles() {
  XMLElement* top = root();
  XMLNode* child = top->firstChild();
  while (child && child->type() == XMLNode::Type::Element) {
    XMLNode* next = child->nextSibling();
    auto* element = static_cast<MemoryMapElement*>(child);
    if (element->tagName() == "Import") {
      const std::string* fileName = element->attribute("filename");
      const std::uint32_t origin = sources.addOrigin(SourceMap::Directive::Import, *element);
      if (std::unique_ptr<MemoryMapElement> imported =
              readFile(fileName ? fromBytes(*fileName) : QString(), origin, element)) {
        top->replaceChild(element, std::move(imported));
      } else if (lastUsage.limitExceeded) {
        return false;
      }
    }
    child = next;
  }
  return true;
}

QList<MemoryMapElement*> MemoryMap::memorySegments(bool reverse) const {
  QList<MemoryMapElement*> segments = collect(rootElement(), MemoryMapElement::MemorySegment);
  if (reverse)
    std::reverse(segments.begin(), segments.end());
  return segments;
}

QList<MemoryMapElement*> MemoryMap::programSections(const MemoryMapElement* segment) const {
  return collect(const_cast<MemoryMapElement*>(segment), MemoryMapElement::ProgramSection);
}

MemoryMapElement* MemoryMap::findSegment(const QString& name) const {
  const std::string wanted = toStdBytes(name);
  MemoryMapElement* found = nullptr;
  walk(rootElement(), 0, [&](MemoryMapElement& element, uint32_t) {
    if (!found && element.kind() == MemoryMapElement::MemorySegment) {
      const std::string* segmentName = element.attribute("name");
      if (segmentName && *segmentName == wanted)
        found = &element;
    }
    return std::make_pair(!found, uint32_t{0});
  });
  return found;
}
