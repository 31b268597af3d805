#include "memorymap/documentloader.h"

#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/didyoumean.h"
#include "expressions/evaluate.h"
#include "expressions/integerliteral.h"
#include "memorymap/names.h"
#include "xml/unreadtext.h"
#include "xml/loadcontext.h"
#include "xml/macros.h"
#include "xml/preprocessor.h"
#include "xml/xmlreader.h"

namespace {

// Where a start or size that does not evaluate, or that leaves text unread,
// is reported; no sink: not.
struct Reports {
  const SourceMap& sources;
  Diagnostics* diagnostics;
  const CommandLineMacros& macros;
  ReportedOnce& reported;
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
std::optional<uint32_t> evaluateAddress(const MemoryMapElement& element, const char* attribute,
                                        std::string_view text, const Reports& reports) {
  const Evaluation<uint64_t> result = evaluateUnsigned(text);
  if (!result && reports.diagnostics)
    reportUnevaluated(element, attribute, fromBytes(text), result.error, reports);
  // A section's text goes to ld, which reads "2K" itself.
  if (result && result.unread >= 0 && reports.diagnostics && element.kind() != MemoryMapElement::ProgramSection)
    reportUnreadText(reports.sources, *reports.diagnostics, reports.reported, element, attribute, fromBytes(text),
                     static_cast<uint32_t>(*result), result.unread, reports.macros);
  if (!result)
    return std::nullopt;
  return static_cast<uint32_t>(*result);
}

void resolveStart(MemoryMapElement& element, const std::string_view* text, uint32_t base, const Reports& reports) {
  element.setStart(0);
  if (text->empty())
    return;
  // A failed evaluation leaves 0.
  uint32_t start = evaluateAddress(element, "start", *text, reports).value_or(0);
  // A leading '+' is a unary plus to the evaluator and "relative to the
  // enclosing element" to the memory map.
  if ((*text)[0] == '+')
    start += base;
  element.setStart(start);
}

void resolveSize(MemoryMapElement& element, const Reports& reports) {
  const std::string_view* text = element.attribute("size");
  if (!text)
    return;
  switch (element.kind()) {
    case MemoryMapElement::MemorySegment:
    case MemoryMapElement::ProgramSection:
    case MemoryMapElement::RegisterGroup: {
      if (const std::optional<uint32_t> size = evaluateAddress(element, "size", *text, reports))
        element.setSize(*size);
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
  if (const std::string_view* start = element.attribute("start")) {
    switch (element.kind()) {
      case MemoryMapElement::MemorySegment:
      case MemoryMapElement::ProgramSection:
      case MemoryMapElement::RegisterGroup:
        resolveStart(element, start, base, reports);
        childBase = element.start();
        break;
      case MemoryMapElement::Register:
        resolveStart(element, start, base, reports);
        break;
      case MemoryMapElement::BitField:
      case MemoryMapElement::Enum:
        resolveStart(element, start, 0, reports);
        break;
      default:
        break;
    }
  }
  resolveSize(element, reports);
  return childBase;
}

void resolveAddresses(MemoryMapElement* root, uint32_t base, const Reports& reports) {
  walkElements(root, base, [&reports](MemoryMapElement& element, uint32_t elementBase) {
    return std::make_pair(true, resolveElement(element, elementBase, reports));
  });
}

// Reads a file named on the command line, then the files its top-level
// Import elements name, into one document.
class Loader {
public:
  Loader(LoadContext& context, Document& document, const QString& macros)
      : context_(context), document_(document), preprocessor_(context, document.tree()),
        macros_(parseMacroList(macros)) {}

  bool load(const QString& path) {
    context_.startDocument();
    MemoryMapElement* root = readFile(path);
    if (!root)
      return false;
    document_.tree().setRoot(root);
    filePath_ = path;
    return importFiles();
  }

private:
  // `importElement`: the Import that names the file, null for the file
  // named by the user.
  MemoryMapElement* readFile(const QString& path, const XMLElement* importElement = nullptr);
  // False when an imported file failed on a preprocessing limit: leaving
  // its Import in place would give a script without it.
  bool importFiles();

  LoadContext& context_;
  Document& document_;
  Preprocessor preprocessor_;
  const MacroTable macros_;
  QString filePath_;
};

MemoryMapElement* Loader::readFile(const QString& path, const XMLElement* importElement) {
  QString expanded = expandMacros(MacroTable(), path, true);
  // Diagnostics name the file as the Import resolved it relative to the
  // file naming it, as an include does; it is read by its absolute path.
  QString shown = expanded;
  if (QFileInfo(expanded).isRelative() && !filePath_.isEmpty()) {
    shown = fromNativePath(QFileInfo(nativePath(filePath_)).path()) + QLatin1Char('/') + expanded;
    expanded = fromNativePath(QFileInfo(nativePath(filePath_)).absolutePath()) + QLatin1Char('/') + expanded;
  }
  SourceMap& sources = context_.sources();
  Diagnostics& diagnostics = context_.diagnostics();
  const std::uint32_t openedBy =
      importElement ? sources.addOrigin(SourceMap::Directive::Import, *importElement) : 0;
  const LoadContext::FileText file = context_.readFile(document_.tree().arena(), expanded, openedBy, shown);
  // The file named on the command line fails the run; an Import is left
  // out, and one whose file cannot be read is reported at the Import.
  if (!file.read) {
    if (importElement) {
      sources.report(diagnostics, Severity::Warning, *importElement,
                     QLatin1String("cannot read imported file \"") + shown + QLatin1String("\": ") +
                         file.readError + didYouMeanFile(shown));
    } else {
      diagnostics.reportLocated(Severity::Error, sources.location(file.file, 0, 0),
                                QLatin1String("cannot read the file: ") + file.readError);
    }
    return nullptr;
  }
  const ReadOutcome read =
      readXML(context_, document_.tree(), file.text, file.file, importElement ? Severity::Warning : Severity::Error);
  if (!read.root)
    return nullptr;
  return static_cast<MemoryMapElement*>(preprocessor_.run(read.root, expanded, macros_, true,
                                                          importElement ? Severity::Warning : Severity::Error));
}

bool Loader::importFiles() {
  XMLElement* top = document_.tree().root();
  XMLNode* child = top->firstChild();
  while (child && child->type() == XMLNode::Type::Element) {
    XMLNode* next = child->nextSibling();
    auto* element = static_cast<MemoryMapElement*>(child);
    if (element->tagName() == "Import") {
      const std::string_view* fileName = element->attribute("filename");
      if (MemoryMapElement* imported = readFile(fileName ? fromBytes(*fileName) : QString(), element))
        top->replaceChild(element, imported);
      else if (context_.budget().exceeded)
        return false;
    }
    child = next;
  }
  return true;
}

// Resolves starts and sizes, and checks the names, of a loaded tree.
void resolve(LoadContext& context, const Document& document, const CommandLineMacros& macros) {
  Diagnostics& diagnostics = context.diagnostics();
  Diagnostics* const sink = diagnostics.located() ? &diagnostics : nullptr;
  ReportedOnce reported;
  resolveAddresses(document.rootElement(), 0, Reports{document.sources(), sink, macros, reported});
  if (sink)
    checkNames(document, *sink);
}

template <typename Loaded>
std::optional<Loaded> loadDocument(LoadContext& context, const QString& path, const QString& macros,
                                   const char* macroOption, const char* failure) {
  Loaded document(context.sources());
  const std::uint32_t firstFile = context.sources().fileCount() + 1;
  if (!Loader(context, document, macros).load(path)) {
    context.diagnostics().reportPlain(Severity::Error, QLatin1String(failure));
    return std::nullopt;
  }
  const CommandLineMacros commandLine{parseMacroList(macros), macroOption};
  resolve(context, document, commandLine);
  reportUnusedMacros(context.sources(), context.diagnostics(), firstFile, commandLine);
  return std::optional<Loaded>(std::move(document));
}

}  // namespace

std::optional<MemoryMap> loadMemoryMap(LoadContext& context, const QString& path, const QString& macros) {
  return loadDocument<MemoryMap>(context, path, macros, "-memory-map-macros", "cannot load memory map file");
}

std::optional<SectionPlacement> loadSectionPlacement(LoadContext& context, const QString& path,
                                                     const QString& macros) {
  return loadDocument<SectionPlacement>(context, path, macros, "-section-placement-macros",
                                        "cannot load section placement file");
}

MemoryMap memoryMapOfSegments(LoadContext& context, const QString& segments) {
  MemoryMap memoryMap(context.sources());
  XMLTree& tree = memoryMap.tree();
  Arena& arena = tree.arena();
  XMLElement* root = tree.newElement("Root");
  root->setAttribute(arena, "name", "none");
  tree.setRoot(root);
  const QStringList entries = segments.split(QLatin1Char(';'));
  QSet<QString> usedNames;
  // From the last entry to the first: the last entry of a name counts.
  for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry) {
    const QStringList fields = entry->split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() != 4 || usedNames.contains(fields[0]))
      continue;
    usedNames.insert(fields[0]);
    XMLElement* segment = tree.newElement("MemorySegment");
    segment->setAttribute(arena, "name", copyBytes(arena, fields[0]));
    segment->setAttribute(arena, "start", copyBytes(arena, fields[2]));
    segment->setAttribute(arena, "size", copyBytes(arena, fields[3]));
    const QString& access = fields[1];
    if (access == QLatin1String("RW") || access == QLatin1String("RWX"))
      segment->setAttribute(arena, "access", "ReadWrite");
    else if (access == QLatin1String("R") || access == QLatin1String("RX"))
      segment->setAttribute(arena, "access", "ReadOnly");
    root->appendChild(segment);
  }
  resolve(context, memoryMap, CommandLineMacros{});
  return memoryMap;
}

