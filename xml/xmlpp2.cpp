// The preprocessor. Design priority: any input ends with a defined tree or a
// failed load, in time linear in the output. Each sibling list is rebuilt
// front to back (a node is taken off the front of a pending list, processed,
// and its result appended to the parent), so no step ever searches a
// sibling list; recursion follows element nesting and is bounded by
// Limits::maxNesting.
#include "xml/xmlpp2.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/didyoumean.h"
#include "expressions/evaluate.h"
#include "xml/macroregistry.h"

namespace {

const QString kForWarning = QStringLiteral(
    "<for> needs index, start, end and incr and at least one child element, as in "
    "<for index=\"i\" start=\"0\" end=\"32\" incr=\"1\">: the loop is dropped");

QString quoted(const QString& text) {
  return QLatin1Char('"') + text + QLatin1Char('"');
}

// Each directive with the attributes it reads; null: any name is a macro
// name (if, ifnot, foreach).
struct DirectiveVocabulary {
  std::string_view tag;
  const char* const* attributes;
};
constexpr const char* kNameOnly[] = {"name", nullptr};
constexpr const char* kIfex[] = {"expression", nullptr};
constexpr const char* kInclude[] = {"filename", "inherit_attributes", "no_root", "expand_macros",
                                    "macros", nullptr};
constexpr const char* kDefine[] = {"name", "value", "expression", "hex_expression", nullptr};
constexpr const char* kFor[] = {"index", "start", "end", "incr", "add", "sub", "mul", nullptr};
constexpr const char* kXmlput[] = {"name", "expand_macros", "macros", nullptr};
constexpr const char* kCase[] = {"value", nullptr};
constexpr const char* kNothing[] = {nullptr};
constexpr DirectiveVocabulary kDirectives[] = {
    {"if", nullptr},        {"ifnot", nullptr},     {"ifex", kIfex},       {"ifdef", kNameOnly},
    {"ifndef", kNameOnly},  {"switch", kNameOnly},  {"case", kCase},       {"default", kNothing},
    {"include", kInclude},  {"define", kDefine},    {"for", kFor},         {"xmldef", kNameOnly},
    {"xmlput", kXmlput},    {"foreach", nullptr},
};

// The attribute as text; absent reads as empty.
QString text(const XMLElement& element, const char* name) {
  const std::string* value = element.attribute(name);
  return value ? fromBytes(*value) : QString();
}

QStringList commaList(const QString& value) {
  return value.split(QLatin1Char(','), Qt::SkipEmptyParts);
}

QString withoutNewlines(QString value) {
  return value.remove(QLatin1Char('\n'));
}

void expandAttributes(XMLElement& element, const MacroTable& table, ExpansionBudget& budget,
                      QStringList* undefined) {
  for (XMLElement::Attribute& attribute : element.mutableAttributes()) {
    if (attribute.value.find('$') == std::string::npos)
      continue;
    std::string expanded = toStdBytes(
        expandMacros(table, fromBytes(attribute.value), false, &budget, undefined));
    if (expanded != attribute.value)
      attribute.value = std::move(expanded);
  }
}

// Visits every element of the subtree at `top` (not its siblings), without
// recursion.
template <typename Visit>
void forEachElement(XMLNode& top, Visit visit) {
  XMLNode* node = &top;
  for (;;) {
    if (XMLElement* element = node->toElement())
      visit(*element);
    if (node->firstChild()) {
      node = node->firstChild();
      continue;
    }
    while (node != &top && !node->nextSibling())
      node = node->parent();
    if (node == &top)
      return;
    node = node->nextSibling();
  }
}

std::uint64_t countElements(XMLNode& top) {
  std::uint64_t count = 0;
  forEachElement(top, [&count](XMLElement&) { ++count; });
  return count;
}

// Appends a detached chain of siblings to `parent`'s child list.
void appendChain(XMLNode& parent, std::unique_ptr<XMLNode> chain) {
  if (chain)
    parent.insertChildrenAfter(parent.lastChild(), std::move(chain));
}


QString hex(uint32_t value) {
  return QLatin1String("0x") + QString::number(value, 16).toUpper();
}

}  // namespace

class XMLPP2::Run {
public:
  explicit Run(XMLPP2& document) : document_(document) {
    expansion_.remaining = document.limits.maxExpandedCharacters;
  }

  bool process(XMLNode* first, const QString& filePath, MacroTable macros, bool expand);
  Usage usage() const {
    return {created_,
            document_.limits.maxExpandedCharacters - std::max<std::int64_t>(expansion_.remaining, 0),
            limitExceeded_};
  }

private:
  // Thrown past every level once the load must fail; caught in process().
  struct LoadFailed {};

  struct Scope {
    QString filePath;
    bool expand;
    int depth;
    Scope deeper() const { return {filePath, expand, depth + 1}; }
  };

  enum class IncludeResult { Loaded, Failed, Empty };

  // The sink when located lines are wanted; every report starts here, so a
  // run without them spends nothing on words.
  Diagnostics* sink() const {
    Diagnostics* diagnostics = document_.diagnostics;
    return diagnostics && diagnostics->located() ? diagnostics : nullptr;
  }
  void report(Severity severity, const SourceMap::Place* at, const QString& text) {
    if (Diagnostics* diagnostics = sink())
      document_.sources.report(*diagnostics, severity, at ? *at : SourceMap::Place{}, text);
  }
  void warn(const XMLNode& at, const QString& text) {
    const SourceMap::Place place = SourceMap::placeOf(at);
    report(Severity::Warning, &place, text);
  }
  // Reports an attribute whose expression does not evaluate; `consequence`
  // says what is taken instead.
  void badExpression(const XMLElement& element, const char* attribute, const QString& text,
                     const EvaluationError& error, const QString& consequence) {
    if (Diagnostics* diagnostics = sink())
      document_.sources.reportExpression(*diagnostics, element, attribute, text, error, consequence);
  }
  // Evaluates the attribute; reports it when it does not evaluate.
  std::optional<uint32_t> evaluate32(const XMLElement& element, const char* attribute,
                                     const QString& text, const QString& consequence) {
    EvaluationError error;
    if (const std::optional<uint64_t> value = evaluateUnsigned(text, &error))
      return static_cast<uint32_t>(*value);
    badExpression(element, attribute, text, error, consequence);
    return std::nullopt;
  }
  // Signed loop parameters (add, sub, mul): expanded first; 0 when they do
  // not evaluate.
  uint32_t signedParameter(const XMLElement& element, const char* attribute,
                           const MacroTable& table) {
    const QString text = expand(table, *element.attribute(attribute));
    EvaluationError error;
    const std::optional<int64_t> value = evaluateInt(text, &error);
    if (!value)
      badExpression(element, attribute, text, error, QStringLiteral("it counts as 0"));
    return static_cast<uint32_t>(value.value_or(0));
  }
  void checkDirectiveAttributes(const XMLElement& element);
  // Reports the $(NAME) references that an expansion left as they were.
  void reportUndefined(const XMLElement& element, const MacroTable& table,
                       const QStringList& names);

  // Fails the load with an error at `at` (none: the whole load).
  [[noreturn]] void fail(const SourceMap::Place* at, const QString& text) {
    limitExceeded_ = true;
    report(Severity::Error, at, text);
    throw LoadFailed{};
  }

  void charge(std::uint64_t elements);
  // Fails the load once macro expansion has spent its budget.
  void checkExpansionBudget();
  QString expand(const MacroTable& table, const std::string& text, bool searchBuiltins = false) {
    QString expanded = expandMacros(table, fromBytes(text), searchBuiltins, &expansion_);
    checkExpansionBudget();
    return expanded;
  }
  // With `reportUndefined`, a reference that neither the table nor a default
  // resolves is reported; copies made by loops leave that to the run over
  // the copy with the enclosing table.
  void expandAll(XMLElement& element, const MacroTable& table, bool undefinedToo = false) {
    QStringList undefined;
    expandAttributes(element, table, expansion_, undefinedToo && sink() ? &undefined : nullptr);
    checkExpansionBudget();
    if (!undefined.isEmpty())
      reportUndefined(element, table, undefined);
  }
  void charge(std::uint64_t times, std::uint64_t elementsEach);

  void processChildrenFrom(XMLNode& parent, XMLNode* first, MacroTable table, const Scope& scope);
  void processChildren(XMLNode& parent, MacroTable table, const Scope& scope) {
    processChildrenFrom(parent, parent.firstChild(), std::move(table), scope);
  }
  void drain(XMLNode& source, XMLNode& destination, MacroTable& table, const Scope& scope);
  void processElement(std::unique_ptr<XMLElement> element, XMLNode& destination, MacroTable& table,
                      const Scope& scope);

  // The three outcomes of a directive (removal is simply dropping it).
  void keep(std::unique_ptr<XMLElement> element, XMLNode& destination, const MacroTable& table,
            const Scope& scope);
  void select(XMLElement& container, XMLNode& destination, const MacroTable& table,
              const Scope& scope);

  void processIf(std::unique_ptr<XMLElement> element, XMLNode& destination, MacroTable& table,
                 const Scope& scope);
  void processSwitch(std::unique_ptr<XMLElement> element, XMLNode& destination, MacroTable& table,
                     const Scope& scope);
  void processInclude(std::unique_ptr<XMLElement> element, XMLNode& destination, MacroTable& table,
                      const Scope& scope);
  IncludeResult loadInclude(const XMLElement& include, const QString& name,
                            std::unique_ptr<XMLElement>& loaded);
  void processDefine(const XMLElement& element, MacroTable& table);
  void processFor(std::unique_ptr<XMLElement> element, XMLNode& destination, MacroTable& table,
                  const Scope& scope);
  void processForeach(std::unique_ptr<XMLElement> element, XMLNode& destination, MacroTable& table,
                      const Scope& scope);
  void processXmlput(std::unique_ptr<XMLElement> element, XMLNode& destination, MacroTable& table,
                     const Scope& scope);
  void appendCopies(const XMLElement& loop, const MacroTable& loopTable, std::uint32_t origin,
                    XMLNode& copies);

  XMLPP2& document_;
  std::uint64_t created_ = 0;
  ExpansionBudget expansion_;
  bool limitExceeded_ = false;
  // The element being processed, for the errors of the limits.
  SourceMap::Place current_;
  // $(NAME) references already reported.
  ReportedOnce reportedUndefined_;
  // Canonical paths of the file being processed and of every include open
  // inside it.
  QStringList openFiles_;
  int includeDepth_ = 0;
};

XMLPP2::~XMLPP2() = default;

void XMLPP2::Run::reportUndefined(const XMLElement& element, const MacroTable& table,
                                  const QStringList& names) {
  // An include's file name is expanded once more with the built-in macros.
  const bool builtinsFollow = element.tagName() == "include";
  for (const QString& name : names) {
    if (builtinsFollow && MacroRegistry::instance().builtins().contains(name))
      continue;
    if (!reportedUndefined_.first(document_.sources, element, name))
      continue;
    QString hint = didYouMean(name, table.keys());
    if (hint.isEmpty()) {
      hint = QLatin1String("; define it in the macro list or with <define>, or give a default as "
                           "in $(") +
             name + QLatin1String(":value)");
    }
    warn(element, QLatin1String("$(") + name +
                      QLatin1String(") has no value and no default, so it stays as written") + hint);
  }
}

bool XMLPP2::processConditionals(XMLNode* first, const QString& currentFilePath, MacroTable macros,
                                 bool expandAttributes) {
  Run run(*this);
  const bool ok = run.process(first, currentFilePath, std::move(macros), expandAttributes);
  lastUsage = run.usage();
  return ok;
}

bool XMLPP2::Run::process(XMLNode* first, const QString& filePath, MacroTable macros, bool expand) {
  if (!first)
    return true;
  const QString canonical = QFileInfo(nativePath(filePath)).canonicalFilePath();
  if (!canonical.isEmpty())
    openFiles_.append(canonical);
  const Scope scope{filePath, expand, 0};
  const SourceMap::Place firstPlace = SourceMap::placeOf(*first);
  try {
    if (XMLNode* parent = first->parent()) {
      processChildrenFrom(*parent, first, std::move(macros), scope);
      return true;
    }
    if (first != document_.root())
      return false;
    // The root is processed as the only child of a holder, so a directive at
    // the root is removed or replaced like anywhere else; what is left must
    // be exactly one element (other nodes are dropped).
    XMLElement holder{std::string()};
    holder.appendChild(document_.takeRoot());
    processChildren(holder, std::move(macros), scope);
    int elements = 0;
    XMLNode* newRoot = nullptr;
    for (XMLNode* node = holder.firstChild(); node; node = node->nextSibling()) {
      if (node->toElement()) {
        ++elements;
        newRoot = node;
      }
    }
    if (elements != 1) {
      const SourceMap::Place place = newRoot ? SourceMap::placeOf(*newRoot) : firstPlace;
      report(Severity::Error, &place,
             elements == 0 ? QStringLiteral("preprocessing left no root element")
                           : QStringLiteral("preprocessing turned the root element into %1 elements")
                                 .arg(elements));
      return false;
    }
    std::unique_ptr<XMLNode> root = holder.removeChild(newRoot);
    document_.setRoot(std::unique_ptr<XMLElement>(static_cast<XMLElement*>(root.release())));
    return true;
  } catch (const LoadFailed&) {
    return false;
  }
}

void XMLPP2::Run::charge(std::uint64_t elements) {
  const std::uint64_t limit = document_.limits.maxCreatedElements;
  if (elements > limit || created_ > limit - elements) {
    fail(&current_, QStringLiteral("more than %1 elements created by <for>, <foreach>, <xmlput> "
                                  "and <include>")
                       .arg(limit));
  }
  created_ += elements;
}

void XMLPP2::Run::checkExpansionBudget() {
  if (expansion_.exhausted) {
    fail(&current_, QStringLiteral("macro expansion read and wrote more than %1 characters")
                       .arg(document_.limits.maxExpandedCharacters));
  }
}

void XMLPP2::Run::charge(std::uint64_t times, std::uint64_t elementsEach) {
  const std::uint64_t limit = document_.limits.maxCreatedElements;
  charge(times != 0 && elementsEach > limit / times ? limit + 1 : times * elementsEach);
}

void XMLPP2::Run::processChildrenFrom(XMLNode& parent, XMLNode* first, MacroTable table,
                                      const Scope& scope) {
  XMLElement pending{std::string()};
  appendChain(pending, parent.takeChildren());
  while (pending.firstChild() && pending.firstChild() != first)
    parent.appendChild(pending.removeChild(pending.firstChild()));
  drain(pending, parent, table, scope);
}

// Takes the nodes of `source` from the front, processes each and appends
// the result to `destination`. The node that follows is therefore always the
// one that followed before, and inserted content is never visited twice.
void XMLPP2::Run::drain(XMLNode& source, XMLNode& destination, MacroTable& table,
                        const Scope& scope) {
  if (!source.firstChild())
    return;
  if (scope.depth > document_.limits.maxNesting) {
    const SourceMap::Place deep = SourceMap::placeOf(*source.firstChild());
    fail(&deep, QStringLiteral("elements nested deeper than %1 levels").arg(document_.limits.maxNesting));
  }
  while (XMLNode* front = source.firstChild()) {
    std::unique_ptr<XMLNode> node = source.removeChild(front);
    if (!node->toElement()) {
      destination.appendChild(std::move(node));
      continue;
    }
    processElement(std::unique_ptr<XMLElement>(static_cast<XMLElement*>(node.release())),
                   destination, table, scope);
  }
}

void XMLPP2::Run::keep(std::unique_ptr<XMLElement> element, XMLNode& destination,
                       const MacroTable& table, const Scope& scope) {
  processChildren(*element, table, scope.deeper());
  destination.appendChild(std::move(element));
}

void XMLPP2::Run::select(XMLElement& container, XMLNode& destination, const MacroTable& table,
                         const Scope& scope) {
  processChildren(container, table, scope.deeper());
  appendChain(destination, container.takeChildren());
}

void XMLPP2::Run::processElement(std::unique_ptr<XMLElement> element, XMLNode& destination,
                                 MacroTable& table, const Scope& scope) {
  current_ = SourceMap::placeOf(*element);
  if (scope.expand)
    expandAll(*element, table, true);
  // A view: its comparisons with the literals check the length first, and
  // every element of every file passes through here.
  const std::string_view tag = element->tagName();
  if (sink())
    checkDirectiveAttributes(*element);
  if (tag == "if" || tag == "ifnot") {
    processIf(std::move(element), destination, table, scope);
  } else if (tag == "ifex") {
    const std::string* expression = element->attribute("expression");
    if (!expression || expression->empty()) {
      keep(std::move(element), destination, table, scope);
      return;
    }
    const QString condition = expand(table, *expression);
    EvaluationError error;
    const std::optional<bool> holds = evaluateBool(condition, &error);
    if (!holds) {
      badExpression(*element, "expression", condition, error,
                    QStringLiteral("the condition counts as false"));
    }
    if (holds.value_or(false))
      select(*element, destination, table, scope);
  } else if (tag == "ifdef" || tag == "ifndef") {
    // An absent name reads as the empty name.
    const bool defined = table.contains(text(*element, "name"));
    if (defined == (tag == "ifdef"))
      select(*element, destination, table, scope);
  } else if (tag == "switch") {
    processSwitch(std::move(element), destination, table, scope);
  } else if (tag == "include") {
    processInclude(std::move(element), destination, table, scope);
  } else if (tag == "define") {
    processDefine(*element, table);
  } else if (tag == "for") {
    processFor(std::move(element), destination, table, scope);
  } else if (tag == "xmldef") {
    const std::string* name = element->attribute("name");
    if (!name) {
      keep(std::move(element), destination, table, scope);
      return;
    }
    // Replacing an entry frees the fragment it held.
    const std::string key = *name;
    document_.fragments[key] = std::move(element);
  } else if (tag == "xmlput") {
    processXmlput(std::move(element), destination, table, scope);
  } else if (tag == "foreach") {
    processForeach(std::move(element), destination, table, scope);
  } else {
    keep(std::move(element), destination, table, scope);
  }
}

void XMLPP2::Run::processIf(std::unique_ptr<XMLElement> element, XMLNode& destination,
                            MacroTable& table, const Scope& scope) {
  const std::vector<XMLElement::Attribute>& attributes = element->attributes();
  if (attributes.size() != 1) {
    warn(*element, QLatin1String("one condition required for <") + fromBytes(element->tagName()) +
                       QStringLiteral(">: it has %1 attributes, so it is kept as an ordinary element")
                           .arg(attributes.size()));
    keep(std::move(element), destination, table, scope);
    return;
  }
  // Looking the name up enters it: an undefined name is defined as empty.
  const QString value = table[fromBytes(attributes.front().name)];
  const bool listed = commaList(fromBytes(attributes.front().value)).contains(value);
  if (listed == (element->tagName() == "if"))
    select(*element, destination, table, scope);
}

void XMLPP2::Run::processSwitch(std::unique_ptr<XMLElement> element, XMLNode& destination,
                                MacroTable& table, const Scope& scope) {
  const QString value = table[text(*element, "name")];
  XMLElement* matchingCase = nullptr;
  XMLElement* lastDefault = nullptr;
  for (XMLNode* child = element->firstChild(); child && !matchingCase;
       child = child->nextSibling()) {
    XMLElement* option = child->toElement();
    if (!option)
      continue;
    if (option->tagName() == "case" && commaList(text(*option, "value")).contains(value))
      matchingCase = option;
    else if (option->tagName() == "default")
      lastDefault = option;
  }
  XMLElement* selected = matchingCase ? matchingCase : lastDefault;
  if (selected)
    select(*selected, destination, table, scope);
}

void XMLPP2::Run::processInclude(std::unique_ptr<XMLElement> element, XMLNode& destination,
                                 MacroTable& table, const Scope& scope) {
  const std::string* filename = element->attribute("filename");
  if (!filename) {
    warn(*element, QStringLiteral("missing filename in <include>: it is kept as an ordinary element"));
    keep(std::move(element), destination, table, scope);
    return;
  }
  QString name = expand(MacroTable(), *filename, true);
  // Without a current file there is no directory to join: the name stays
  // relative to the working directory.
  if (QDir::isRelativePath(name) && !scope.filePath.isEmpty())
    name = QFileInfo(scope.filePath).path() + QLatin1Char('/') + name;

  const QString canonical = QFileInfo(nativePath(name)).canonicalFilePath();
  std::unique_ptr<XMLElement> loaded;
  IncludeResult result = IncludeResult::Failed;
  auto refuse = [&](const QString& reason) {
    warn(*element, QLatin1String("include file ") + quoted(name) + QLatin1String(" not read: ") + reason);
  };
  // A file that includes itself, directly or through others, or a chain of
  // includes deeper than the limit fails like an unreadable file.
  if (!canonical.isEmpty() && openFiles_.contains(canonical))
    refuse(QStringLiteral("included again while it is being included"));
  else if (includeDepth_ >= document_.limits.maxIncludeDepth)
    refuse(QStringLiteral("includes nested deeper than %1").arg(document_.limits.maxIncludeDepth));
  else
    result = loadInclude(*element, name, loaded);

  const bool noRoot = element->hasAttribute("no_root");
  if (result == IncludeResult::Failed && noRoot) {
    select(*element, destination, table, scope);
    return;
  }
  if (result != IncludeResult::Loaded) {
    keep(std::move(element), destination, table, scope);
    return;
  }

  charge(countElements(*loaded));
  MacroTable childTable = table;
  bool childExpand = scope.expand;
  if (scope.expand || element->hasAttribute("expand_macros")) {
    if (const std::string* macros = element->attribute("macros")) {
      childTable = mergeMacros(table, parseMacroList(withoutNewlines(fromBytes(*macros))));
      childExpand = true;
      expandAll(*loaded, childTable);
    } else if (scope.expand) {
      expandAll(*loaded, table);
    }
  }
  openFiles_.append(canonical);
  ++includeDepth_;
  processChildren(*loaded, std::move(childTable), Scope{name, childExpand, scope.depth + 1});
  --includeDepth_;
  openFiles_.removeLast();

  if (noRoot || loaded->tagName() == "envelope") {
    appendChain(destination, loaded->takeChildren());
    return;
  }
  // Names the include element does not carry are skipped.
  for (const QString& inherited :
       text(*element, "inherit_attributes").split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const std::string attributeName = toStdBytes(inherited);
    if (const std::string* value = element->attribute(attributeName))
      loaded->setAttribute(attributeName, *value);
  }
  destination.appendChild(std::move(loaded));
}

// Loads `name` into the document without disturbing its root. A file that
// failed or gave no root draws its warning here and is freed.
XMLPP2::Run::IncludeResult XMLPP2::Run::loadInclude(const XMLElement& include,
                                                    const QString& name,
                                                    std::unique_ptr<XMLElement>& loaded) {
  std::unique_ptr<XMLElement> saved = document_.takeRoot();
  const std::uint32_t origin = document_.sources.addOrigin(SourceMap::Directive::Include, include);
  const bool parsed = document_.load(name, origin);
  loaded = document_.takeRoot();
  document_.setRoot(std::move(saved));
  if (!parsed || !loaded) {
    if (!document_.readError.isEmpty()) {
      warn(include, QLatin1String("cannot read include file ") + quoted(name) + QLatin1String(": ") +
                        document_.readError + didYouMeanFile(name));
    } else if (Diagnostics* diagnostics = sink()) {
      document_.reportLoadProblem(*diagnostics, Severity::Warning);
    }
    loaded.reset();
    return parsed ? IncludeResult::Empty : IncludeResult::Failed;
  }
  if (Diagnostics* diagnostics = sink())
    document_.reportNotices(*diagnostics);
  return IncludeResult::Loaded;
}

// `value` wins over `expression`, which wins over `hex_expression`. A define
// missing both its name and its value draws only the name warning.
void XMLPP2::Run::processDefine(const XMLElement& element, MacroTable& table) {
  const std::string* name = element.attribute("name");
  if (!name) {
    warn(element, QStringLiteral("missing name in <define>: nothing is defined"));
    return;
  }
  const QString key = fromBytes(*name);
  if (const std::string* value = element.attribute("value")) {
    table.insert(key, fromBytes(*value));
    return;
  }
  const std::string* expression = element.attribute("expression");
  const std::string* hexExpression = expression ? nullptr : element.attribute("hex_expression");
  if (!expression && !hexExpression) {
    warn(element, QLatin1String("missing value or expression in <define name=") + quoted(key) +
                      QLatin1String(">: ") + key +
                      QLatin1String(" stays undefined; give it value=\"...\" or expression=\"...\""));
    return;
  }
  const QString text = expand(table, expression ? *expression : *hexExpression);
  if (const std::optional<uint32_t> number =
          evaluate32(element, expression ? "expression" : "hex_expression", text,
                     key + QLatin1String(" stays undefined")))
    table.insert(key, expression ? QString::number(*number) : hex(*number));
}

// Deep copies of the element children of `loop`, every attribute expanded
// against the loop table alone, appended to `copies`.
void XMLPP2::Run::appendCopies(const XMLElement& loop, const MacroTable& loopTable,
                               std::uint32_t origin, XMLNode& copies) {
  for (XMLNode* child = loop.firstChild(); child; child = child->nextSibling()) {
    if (!child->toElement())
      continue;
    std::unique_ptr<XMLNode> copy = document_.cloneNode(*child);
    forEachElement(*copy, [&](XMLElement& element) {
      element.origin = origin;
      expandAll(element, loopTable);
    });
    copies.appendChild(std::move(copy));
  }
}

// Loop iterations are charged up front, each as one unit plus the elements
// it copies, so an oversized loop fails before it allocates anything.
void XMLPP2::Run::processFor(std::unique_ptr<XMLElement> element, XMLNode& destination,
                             MacroTable& table, const Scope& scope) {
  const std::string* index = element->attribute("index");
  const std::string* startText = element->attribute("start");
  const std::string* endText = element->attribute("end");
  const std::string* incrText = element->attribute("incr");
  if (!index || !startText || !endText || !incrText || !element->firstChild()) {
    warn(*element, kForWarning);
    return;
  }
  // Each bound that does not evaluate counts as 0.
  const QString countsAsZero = QStringLiteral("it counts as 0");
  const uint32_t start = evaluate32(*element, "start", fromBytes(*startText), countsAsZero).value_or(0);
  const uint32_t end = evaluate32(*element, "end", fromBytes(*endText), countsAsZero).value_or(0);
  const uint32_t incr = evaluate32(*element, "incr", fromBytes(*incrText), countsAsZero).value_or(0);
  // A step of 0 would repeat forever: the loop is malformed.
  if (incr == 0) {
    warn(*element, QStringLiteral("<for> with a step (incr) of 0 would never end: the loop is dropped"));
    return;
  }
  uint32_t add = 0;
  if (element->hasAttribute("add"))
    add = signedParameter(*element, "add", table);
  else if (element->hasAttribute("sub"))
    add = 0u - signedParameter(*element, "sub", table);
  uint32_t mul = 1;
  if (element->hasAttribute("mul"))
    mul = signedParameter(*element, "mul", table);

  // The loop ends where the next value would pass 2^32 rather than wrap
  // around below `end` again; it runs ceil((end - start) / incr) times.
  const std::uint64_t iterations = start < end ? (std::uint64_t(end - start) + incr - 1) / incr : 0;
  std::uint64_t perIteration = 1;
  for (XMLNode* child = element->firstChild(); child; child = child->nextSibling()) {
    if (child->toElement())
      perIteration += countElements(*child);
  }
  charge(iterations, perIteration);

  const QString name = fromBytes(*index);
  const QString alphaName = name + QLatin1String("_alpha");
  const QString hexName = name + QLatin1String("_hex");
  const QString apName = name + QLatin1String("_ap");
  const QString apHexName = name + QLatin1String("_ap_hex");
  const std::uint32_t origin = document_.sources.addOrigin(SourceMap::Directive::For, *element);
  XMLElement copies{std::string()};
  uint32_t i = start;
  for (std::uint64_t n = 0; n < iterations; ++n, i += incr) {
    const uint32_t progression = i * mul + add;
    MacroTable loopTable;
    loopTable.insert(name, QString::number(i));
    // One byte: codes past 255 keep their low 8 bits.
    loopTable.insert(alphaName, QString(QLatin1Char(static_cast<char>(65 + i))));
    loopTable.insert(hexName, hex(i));
    loopTable.insert(apName, QString::number(progression));
    loopTable.insert(apHexName, hex(progression));
    appendCopies(*element, loopTable, origin, copies);
  }
  element.reset();
  drain(copies, destination, table, scope.deeper());
}

// Every combination of one value per attribute, the first attribute varying
// slowest. No attributes make one combination with an empty table; an
// attribute without values makes none.
void XMLPP2::Run::processForeach(std::unique_ptr<XMLElement> element, XMLNode& destination,
                                 MacroTable& table, const Scope& scope) {
  std::vector<std::pair<QString, QStringList>> variables;
  std::uint64_t combinations = 1;
  const std::uint64_t limit = document_.limits.maxCreatedElements;
  for (const XMLElement::Attribute& attribute : element->attributes()) {
    QStringList values = commaList(withoutNewlines(fromBytes(attribute.value)));
    const std::uint64_t count = static_cast<std::uint64_t>(values.size());
    combinations = (count == 0 || combinations <= limit / count) ? combinations * count : limit + 1;
    variables.emplace_back(fromBytes(attribute.name), std::move(values));
  }
  std::uint64_t perCombination = 1;
  for (XMLNode* child = element->firstChild(); child; child = child->nextSibling()) {
    if (child->toElement())
      perCombination += countElements(*child);
  }
  charge(combinations, perCombination);

  const std::uint32_t origin = document_.sources.addOrigin(SourceMap::Directive::Foreach, *element);
  XMLElement copies{std::string()};
  std::vector<qsizetype> position(variables.size(), 0);
  for (std::uint64_t n = 0; n < combinations; ++n) {
    MacroTable loopTable;
    for (std::size_t v = 0; v < variables.size(); ++v)
      loopTable.insert(variables[v].first, variables[v].second[position[v]]);
    appendCopies(*element, loopTable, origin, copies);
    for (std::size_t v = variables.size(); v-- > 0;) {
      if (++position[v] < variables[v].second.size())
        break;
      position[v] = 0;
    }
  }
  element.reset();
  drain(copies, destination, table, scope.deeper());
}

void XMLPP2::Run::processXmlput(std::unique_ptr<XMLElement> element, XMLNode& destination,
                                MacroTable& table, const Scope& scope) {
  const std::string* name = element->attribute("name");
  const auto fragment = name ? document_.fragments.find(*name) : document_.fragments.end();
  if (!name || fragment == document_.fragments.end()) {
    if (name && sink()) {
      QStringList known;
      for (const auto& [fragmentName, unused] : document_.fragments)
        known.append(fromBytes(fragmentName));
      warn(*element, QLatin1String("<xmlput> cannot find an <xmldef> named ") +
                         quoted(fromBytes(*name)) +
                         QLatin1String(": it is kept as an ordinary element") +
                         didYouMean(fromBytes(*name), known));
    }
    keep(std::move(element), destination, table, scope);
    return;
  }
  charge(countElements(*fragment->second));
  std::unique_ptr<XMLNode> copy = document_.cloneNode(*fragment->second);
  const std::uint32_t origin = document_.sources.addOrigin(SourceMap::Directive::Xmlput, *element);
  forEachElement(*copy, [origin](XMLElement& copied) { copied.origin = origin; });
  const std::string* macros = element->attribute("macros");
  if (macros && (scope.expand || element->hasAttribute("expand_macros"))) {
    const MacroTable merged =
        mergeMacros(table, parseMacroList(withoutNewlines(fromBytes(*macros))));
    select(*copy->toElement(), destination, merged, Scope{scope.filePath, true, scope.depth});
  } else {
    select(*copy->toElement(), destination, table, scope);
  }
}

const QStringList& directiveNames() {
  static const QStringList names = [] {
    QStringList list;
    for (const DirectiveVocabulary& directive : kDirectives)
      list.append(QLatin1String(directive.tag.data(), static_cast<qsizetype>(directive.tag.size())));
    return list;
  }();
  return names;
}

// Attributes that a directive does not read, with the closest known name.
// The names an include passes on (inherit_attributes) are its own business.
void XMLPP2::Run::checkDirectiveAttributes(const XMLElement& element) {
  const std::string_view tag = element.tagName();
  const auto* directive =
      std::find_if(std::begin(kDirectives), std::end(kDirectives),
                   [tag](const DirectiveVocabulary& entry) { return entry.tag == tag; });
  if (directive == std::end(kDirectives) || !directive->attributes)
    return;
  QStringList known;
  for (const char* const* name = directive->attributes; *name; ++name)
    known.append(QLatin1String(*name));
  known += text(element, "inherit_attributes").split(QLatin1Char(';'), Qt::SkipEmptyParts);
  for (const XMLElement::Attribute& attribute : element.attributes()) {
    const QString name = fromBytes(attribute.name);
    if (!known.contains(name)) {
      warn(element, QLatin1String("unknown attribute \"") + name + QLatin1String("\" in <") +
                        fromBytes(element.tagName()) + QLatin1String(">: it is ignored") +
                        didYouMean(name, known));
    }
  }
}
