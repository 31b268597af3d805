// The preprocessor. Design priority: any input ends with a defined tree or a
// failed load, in time linear in the output. Each sibling list is rebuilt
// front to back (a node is taken off the front of a pending list, processed,
// and its result appended to the parent), so no step ever searches a
// sibling list; recursion follows element nesting and is bounded by
// LoadLimits::maxNesting. A failure stops every loop at once: the load is
// abandoned, and nothing more is reported.
#include "xml/preprocessor.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/didyoumean.h"
#include "base/hex.h"
#include "expressions/evaluate.h"
#include "xml/loadcontext.h"
#include "xml/macroregistry.h"
#include "xml/unreadtext.h"
#include "xml/xmlnode.h"
#include "xml/xmlreader.h"

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
  const std::string_view* value = element.attribute(name);
  return value ? fromBytes(*value) : QString();
}

QStringList commaList(const QString& value) {
  return value.split(QLatin1Char(','), Qt::SkipEmptyParts);
}

QString withoutNewlines(QString value) {
  return value.remove(QLatin1Char('\n'));
}

void expandAttributes(XMLElement& element, const MacroTable& table, ExpansionBudget& budget,
                      QStringList* undefined, Arena& arena) {
  for (std::uint32_t i = 0; i < element.attributeCount(); ++i) {
    const std::string_view value = element.begin()[i].value;
    // Values are short and seldom hold a reference: a plain loop costs less
    // than a library search.
    if (std::find(value.begin(), value.end(), '$') == value.end())
      continue;
    const QByteArray expanded = toBytes(expandMacros(table, fromBytes(value), false, &budget, undefined));
    if (std::string_view(expanded.constData(), static_cast<size_t>(expanded.size())) != value)
      element.setValue(i, copyBytes(arena, fromBytes(expanded)));
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
void appendChain(XMLNode& parent, XMLNode* chain) {
  if (chain)
    parent.insertChildrenAfter(parent.lastChild(), chain);
}


QString hex(uint32_t value) {
  return hexText(value, 1, HexCase::Upper);
}

}  // namespace

class Preprocessor::Run {
public:
  Run(Preprocessor& preprocessor)
      : preprocessor_(preprocessor), context_(preprocessor.context_), arena_(preprocessor.tree_.arena()),
        limits_(context_.limits()) {
    expansion_.remaining = context_.budget().characters;
  }
  ~Run() { context_.budget().characters = std::max<std::int64_t>(expansion_.remaining, 0); }

  XMLElement* process(XMLElement* top, const QString& filePath, MacroTable macros, bool expand,
                      Severity noRoot);

private:
  struct Scope {
    QString filePath;
    bool expand;
    int depth;
    Scope deeper() const { return {filePath, expand, depth + 1}; }
  };

  enum class IncludeResult { Loaded, Failed, Empty };

  // The engine when located lines are wanted; every warning starts here, so
  // a run without them spends nothing on words.
  Diagnostics* sink() const {
    Diagnostics& diagnostics = context_.diagnostics();
    return diagnostics.located() ? &diagnostics : nullptr;
  }
  void report(Severity severity, const SourceMap::Place* at, const QString& text) {
    context_.diagnostics().reportLocated(
        severity, at ? context_.sources().location(at->file, at->line, at->column) : SourceLocation(), text,
        at ? context_.sources().notes(at->file, at->origin) : std::vector<Diagnostic::Note>());
  }
  void warn(const XMLNode& at, const QString& text) {
    if (!sink())
      return;
    const SourceMap::Place place = SourceMap::placeOf(at);
    report(Severity::Warning, &place, text);
  }
  // Reports an attribute whose expression does not evaluate; `consequence`
  // says what is taken instead.
  void badExpression(const XMLElement& element, const char* attribute, const QString& text,
                     const EvaluationError& error, const QString& consequence) {
    if (Diagnostics* diagnostics = sink())
      context_.sources().reportExpression(*diagnostics, element, attribute, text, error, consequence);
  }
  // Evaluates the attribute; reports it when it does not evaluate, or when
  // text after a complete expression was dropped ("4K" reads 4).
  std::optional<uint32_t> evaluate32(const XMLElement& element, const char* attribute,
                                     const QString& text, const QString& consequence) {
    const Evaluation<uint64_t> value = evaluateUnsigned(text);
    if (value) {
      if (Diagnostics* diagnostics = sink(); diagnostics && value.unread >= 0) {
        reportUnreadText(context_.sources(), *diagnostics, reportedUnread_, element, attribute, text, *value,
                         value.unread, CommandLineMacros());
      }
      return static_cast<uint32_t>(*value);
    }
    badExpression(element, attribute, text, value.error, consequence);
    return std::nullopt;
  }
  // Signed loop parameters (add, sub, mul): expanded first; 0 when they do
  // not evaluate.
  uint32_t signedParameter(const XMLElement& element, const char* attribute,
                           const MacroTable& table) {
    const QString text = expand(table, *element.attribute(attribute));
    const Evaluation<int64_t> value = evaluateInt(text);
    if (!value)
      badExpression(element, attribute, text, value.error, QStringLiteral("it counts as 0"));
    return static_cast<uint32_t>(value.value.value_or(0));
  }
  void checkDirectiveAttributes(const XMLElement& element);
  // Reports the $(NAME) references that an expansion left as they were.
  void reportUndefined(const XMLElement& element, const MacroTable& table,
                       const QStringList& names);

  // Fails the load with an error at `at` (none: the whole load); every
  // loop stops from here on.
  void fail(const SourceMap::Place* at, const QString& text) {
    if (failed_)
      return;
    failed_ = true;
    context_.budget().exceeded = true;
    report(Severity::Error, at, text);
  }

  // False, after failing the load, when `elements` more would pass the budget.
  bool charge(std::uint64_t elements);
  bool charge(std::uint64_t times, std::uint64_t elementsEach);
  // Fails the load once macro expansion has spent its budget.
  void checkExpansionBudget();
  QString expand(const MacroTable& table, std::string_view text, bool searchBuiltins = false) {
    QString expanded = expandMacros(table, fromBytes(text), searchBuiltins, &expansion_);
    checkExpansionBudget();
    return expanded;
  }
  // With `reportUndefined`, a reference that neither the table nor a default
  // resolves is reported; copies made by loops leave that to the run over
  // the copy with the enclosing table.
  void expandAll(XMLElement& element, const MacroTable& table, bool undefinedToo = false) {
    QStringList undefined;
    expandAttributes(element, table, expansion_, undefinedToo && sink() ? &undefined : nullptr, arena_);
    checkExpansionBudget();
    if (!undefined.isEmpty())
      reportUndefined(element, table, undefined);
  }

  void processChildren(XMLNode& parent, const MacroTable& table, const Scope& scope);
  void drain(XMLNode& source, XMLNode& destination, MacroTable& table, const Scope& scope);
  void processElement(XMLElement* element, XMLNode& destination, MacroTable& table, const Scope& scope);

  // The two outcomes of a directive besides removal (simply dropping it).
  void keep(XMLElement* element, XMLNode& destination, const MacroTable& table, const Scope& scope);
  void select(XMLElement& container, XMLNode& destination, const MacroTable& table, const Scope& scope);

  void processIf(XMLElement* element, XMLNode& destination, MacroTable& table, const Scope& scope);
  void processSwitch(XMLElement* element, XMLNode& destination, MacroTable& table, const Scope& scope);
  void processInclude(XMLElement* element, XMLNode& destination, MacroTable& table, const Scope& scope);
  IncludeResult loadInclude(const XMLElement& include, const QString& name, XMLElement*& loaded);
  void processDefine(const XMLElement& element, MacroTable& table);
  void processFor(XMLElement* element, XMLNode& destination, MacroTable& table, const Scope& scope);
  void processForeach(XMLElement* element, XMLNode& destination, MacroTable& table, const Scope& scope);
  void processXmlput(XMLElement* element, XMLNode& destination, MacroTable& table, const Scope& scope);
  void appendCopies(const XMLElement& loop, const MacroTable& loopTable, std::uint32_t origin,
                    XMLNode& copies);

  Preprocessor& preprocessor_;
  LoadContext& context_;
  Arena& arena_;
  const LoadLimits& limits_;
  ExpansionBudget expansion_;
  bool failed_ = false;
  // The element being processed, for the errors of the limits.
  SourceMap::Place current_;
  // $(NAME) references and dropped texts already reported.
  ReportedOnce reportedUndefined_;
  ReportedOnce reportedUnread_;
  // Canonical paths of the file being processed and of every include open
  // inside it.
  QStringList openFiles_;
  int includeDepth_ = 0;
};

Preprocessor::Preprocessor(LoadContext& context, XMLTree& tree) : context_(context), tree_(tree) {}

void Preprocessor::Run::reportUndefined(const XMLElement& element, const MacroTable& table,
                                        const QStringList& names) {
  // An include's file name is expanded once more with the built-in macros.
  const bool builtinsFollow = element.tagName() == "include";
  for (const QString& name : names) {
    if (builtinsFollow && MacroRegistry::instance().builtins().contains(name))
      continue;
    if (!reportedUndefined_.first(context_.sources(), element, name))
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

XMLElement* Preprocessor::run(XMLElement* top, const QString& filePath, MacroTable macros,
                              bool expandAttributes, Severity noRoot) {
  return Run(*this).process(top, filePath, std::move(macros), expandAttributes, noRoot);
}

XMLElement* Preprocessor::Run::process(XMLElement* top, const QString& filePath, MacroTable macros,
                                       bool expand, Severity noRoot) {
  if (!top)
    return nullptr;
  const QString canonical = QFileInfo(nativePath(filePath)).canonicalFilePath();
  if (!canonical.isEmpty())
    openFiles_.append(canonical);
  const Scope scope{filePath, expand, 0};
  const SourceMap::Place topPlace = SourceMap::placeOf(*top);
  // The top is processed as the only child of a holder, so a directive there
  // is removed or replaced like anywhere else; what is left must be exactly
  // one element (other nodes are dropped).
  XMLElement holder{std::string_view()};
  holder.appendChild(top);
  processChildren(holder, macros, scope);
  if (failed_)
    return nullptr;
  int elements = 0;
  XMLElement* result = nullptr;
  for (XMLNode* node = holder.firstChild(); node; node = node->nextSibling()) {
    if (XMLElement* element = node->toElement()) {
      ++elements;
      result = element;
    }
  }
  if (elements != 1) {
    const SourceMap::Place place = result ? SourceMap::placeOf(*result) : topPlace;
    report(noRoot, &place,
           elements == 0 ? QStringLiteral("preprocessing left no root element")
                         : QStringLiteral("preprocessing turned the root element into %1 elements").arg(elements));
    return nullptr;
  }
  holder.removeChild(result);
  return result;
}

bool Preprocessor::Run::charge(std::uint64_t elements) {
  std::uint64_t& left = context_.budget().elements;
  if (elements > left) {
    fail(&current_, QStringLiteral("more than %1 elements created by <for>, <foreach>, <xmlput> "
                                   "and <include>")
                        .arg(limits_.maxCreatedElements));
    return false;
  }
  left -= elements;
  return true;
}

void Preprocessor::Run::checkExpansionBudget() {
  if (expansion_.exhausted) {
    fail(&current_, QStringLiteral("macro expansion read and wrote more than %1 characters")
                        .arg(limits_.maxExpandedCharacters));
  }
}

bool Preprocessor::Run::charge(std::uint64_t times, std::uint64_t elementsEach) {
  const std::uint64_t limit = limits_.maxCreatedElements;
  return charge(times != 0 && elementsEach > limit / times ? limit + 1 : times * elementsEach);
}

void Preprocessor::Run::processChildren(XMLNode& parent, const MacroTable& table, const Scope& scope) {
  XMLElement pending{std::string_view()};
  appendChain(pending, parent.takeChildren());
  MacroTable local = table;
  drain(pending, parent, local, scope);
}

// Takes the nodes of `source` from the front, processes each and appends
// the result to `destination`. The node that follows is therefore always the
// one that followed before, and inserted content is never visited twice.
void Preprocessor::Run::drain(XMLNode& source, XMLNode& destination, MacroTable& table,
                        const Scope& scope) {
  if (!source.firstChild())
    return;
  if (scope.depth > limits_.maxNesting) {
    const SourceMap::Place deep = SourceMap::placeOf(*source.firstChild());
    fail(&deep, QStringLiteral("elements nested deeper than %1 levels").arg(limits_.maxNesting));
  }
  while (!failed_ && source.firstChild()) {
    XMLNode* node = source.removeChild(source.firstChild());
    if (XMLElement* element = node->toElement())
      processElement(element, destination, table, scope);
    else
      destination.appendChild(node);
  }
}

void Preprocessor::Run::keep(XMLElement* element, XMLNode& destination, const MacroTable& table,
                             const Scope& scope) {
  // Most elements are leaves: they have no list to rebuild and no scope.
  if (element->firstChild())
    processChildren(*element, table, scope.deeper());
  destination.appendChild(element);
}

void Preprocessor::Run::select(XMLElement& container, XMLNode& destination, const MacroTable& table,
                         const Scope& scope) {
  processChildren(container, table, scope.deeper());
  appendChain(destination, container.takeChildren());
}

void Preprocessor::Run::processElement(XMLElement* element, XMLNode& destination, MacroTable& table,
                                       const Scope& scope) {
  current_ = SourceMap::placeOf(*element);
  if (scope.expand)
    expandAll(*element, table, true);
  // A view: its comparisons with the literals check the length first, and
  // every element of every file passes through here.
  const std::string_view tag = element->tagName();
  if (sink())
    checkDirectiveAttributes(*element);
  if (tag == "if" || tag == "ifnot") {
    processIf(element, destination, table, scope);
  } else if (tag == "ifex") {
    const std::string_view* expression = element->attribute("expression");
    if (!expression || expression->empty()) {
      keep(element, destination, table, scope);
      return;
    }
    const QString condition = expand(table, *expression);
    const Evaluation<bool> holds = evaluateBool(condition);
    if (!holds) {
      badExpression(*element, "expression", condition, holds.error,
                    QStringLiteral("the condition counts as false"));
    }
    if (holds.value.value_or(false))
      select(*element, destination, table, scope);
  } else if (tag == "ifdef" || tag == "ifndef") {
    // An absent name reads as the empty name.
    const bool defined = table.contains(text(*element, "name"));
    if (defined == (tag == "ifdef"))
      select(*element, destination, table, scope);
  } else if (tag == "switch") {
    processSwitch(element, destination, table, scope);
  } else if (tag == "include") {
    processInclude(element, destination, table, scope);
  } else if (tag == "define") {
    processDefine(*element, table);
  } else if (tag == "for") {
    processFor(element, destination, table, scope);
  } else if (tag == "xmldef") {
    const std::string_view* name = element->attribute("name");
    if (!name) {
      keep(element, destination, table, scope);
      return;
    }
    preprocessor_.fragments_[*name] = element;
  } else if (tag == "xmlput") {
    processXmlput(element, destination, table, scope);
  } else if (tag == "foreach") {
    processForeach(element, destination, table, scope);
  } else {
    keep(element, destination, table, scope);
  }
}

void Preprocessor::Run::processIf(XMLElement* element, XMLNode& destination,
                            MacroTable& table, const Scope& scope) {
  if (element->attributeCount() != 1) {
    warn(*element, QLatin1String("one condition required for <") + fromBytes(element->tagName()) +
                       QStringLiteral(">: it has %1 attributes, so it is kept as an ordinary element")
                           .arg(element->attributeCount()));
    keep(element, destination, table, scope);
    return;
  }
  // Looking the name up enters it: an undefined name is defined as empty.
  const XMLAttribute& condition = *element->begin();
  const QString value = table[fromBytes(condition.name)];
  const bool listed = commaList(fromBytes(condition.value)).contains(value);
  if (listed == (element->tagName() == "if"))
    select(*element, destination, table, scope);
}

void Preprocessor::Run::processSwitch(XMLElement* element, XMLNode& destination,
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

void Preprocessor::Run::processInclude(XMLElement* element, XMLNode& destination,
                                 MacroTable& table, const Scope& scope) {
  const std::string_view* filename = element->attribute("filename");
  if (!filename) {
    warn(*element, QStringLiteral("missing filename in <include>: it is kept as an ordinary element"));
    keep(element, destination, table, scope);
    return;
  }
  QString name = expand(MacroTable(), *filename, true);
  // Without a current file there is no directory to join: the name stays
  // relative to the working directory.
  if (QDir::isRelativePath(name) && !scope.filePath.isEmpty())
    name = QFileInfo(scope.filePath).path() + QLatin1Char('/') + name;

  const QString canonical = QFileInfo(nativePath(name)).canonicalFilePath();
  XMLElement* loaded = nullptr;
  IncludeResult result = IncludeResult::Failed;
  auto refuse = [&](const QString& reason) {
    warn(*element, QLatin1String("include file ") + quoted(name) + QLatin1String(" not read: ") + reason);
  };
  // A file that includes itself, directly or through others, or a chain of
  // includes deeper than the limit fails like an unreadable file.
  if (!canonical.isEmpty() && openFiles_.contains(canonical))
    refuse(QStringLiteral("included again while it is being included"));
  else if (includeDepth_ >= limits_.maxIncludeDepth)
    refuse(QStringLiteral("includes nested deeper than %1").arg(limits_.maxIncludeDepth));
  else
    result = loadInclude(*element, name, loaded);

  const bool noRoot = element->hasAttribute("no_root");
  if (result == IncludeResult::Failed && noRoot) {
    select(*element, destination, table, scope);
    return;
  }
  if (result != IncludeResult::Loaded) {
    keep(element, destination, table, scope);
    return;
  }

  if (!charge(countElements(*loaded)))
    return;
  MacroTable childTable = table;
  bool childExpand = scope.expand;
  if (scope.expand || element->hasAttribute("expand_macros")) {
    if (const std::string_view* macros = element->attribute("macros")) {
      childTable = mergeMacros(table, parseMacroList(withoutNewlines(fromBytes(*macros))));
      childExpand = true;
      expandAll(*loaded, childTable);
    } else if (scope.expand) {
      expandAll(*loaded, table);
    }
  }
  openFiles_.append(canonical);
  ++includeDepth_;
  processChildren(*loaded, childTable, Scope{name, childExpand, scope.depth + 1});
  --includeDepth_;
  openFiles_.removeLast();

  if (noRoot || loaded->tagName() == "envelope") {
    appendChain(destination, loaded->takeChildren());
    return;
  }
  // Names the include element does not carry are skipped.
  for (const QString& inherited :
       text(*element, "inherit_attributes").split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const QByteArray attributeName = toBytes(inherited);
    if (const std::string_view* value =
            element->attribute(std::string_view(attributeName.constData(), static_cast<size_t>(attributeName.size()))))
      loaded->setAttribute(arena_, copyBytes(arena_, inherited), *value);
  }
  destination.appendChild(loaded);
}

// Reads `name` into the tree. A file that cannot be read or gives no root
// draws its warning here.
Preprocessor::Run::IncludeResult Preprocessor::Run::loadInclude(const XMLElement& include, const QString& name,
                                                                XMLElement*& loaded) {
  const std::uint32_t origin = context_.sources().addOrigin(SourceMap::Directive::Include, include);
  const LoadContext::FileText file = context_.readFile(arena_, name, origin);
  if (!file.read) {
    warn(include, QLatin1String("cannot read include file ") + quoted(name) + QLatin1String(": ") +
                      file.readError + didYouMeanFile(name));
    return IncludeResult::Failed;
  }
  const ReadOutcome read = readXML(context_, preprocessor_.tree_, file.text, file.file, Severity::Warning);
  loaded = read.root;
  if (!loaded)
    return read.syntaxError ? IncludeResult::Failed : IncludeResult::Empty;
  return IncludeResult::Loaded;
}

// `value` wins over `expression`, which wins over `hex_expression`. A define
// missing both its name and its value draws only the name warning.
void Preprocessor::Run::processDefine(const XMLElement& element, MacroTable& table) {
  const std::string_view* name = element.attribute("name");
  if (!name) {
    warn(element, QStringLiteral("missing name in <define>: nothing is defined"));
    return;
  }
  const QString key = fromBytes(*name);
  if (const std::string_view* value = element.attribute("value")) {
    table.insert(key, fromBytes(*value));
    return;
  }
  const std::string_view* expression = element.attribute("expression");
  const std::string_view* hexExpression = expression ? nullptr : element.attribute("hex_expression");
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
void Preprocessor::Run::appendCopies(const XMLElement& loop, const MacroTable& loopTable,
                               std::uint32_t origin, XMLNode& copies) {
  for (XMLNode* child = loop.firstChild(); child; child = child->nextSibling()) {
    if (!child->toElement())
      continue;
    XMLNode* copy = preprocessor_.tree_.clone(*child);
    forEachElement(*copy, [&](XMLElement& element) {
      element.origin = origin;
      expandAll(element, loopTable);
    });
    copies.appendChild(copy);
  }
}

// Loop iterations are charged up front, each as one unit plus the elements
// it copies, so an oversized loop fails before it allocates anything.
void Preprocessor::Run::processFor(XMLElement* element, XMLNode& destination,
                             MacroTable& table, const Scope& scope) {
  const std::string_view* index = element->attribute("index");
  const std::string_view* startText = element->attribute("start");
  const std::string_view* endText = element->attribute("end");
  const std::string_view* incrText = element->attribute("incr");
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
  if (!charge(iterations, perIteration))
    return;

  const QString name = fromBytes(*index);
  const QString alphaName = name + QLatin1String("_alpha");
  const QString hexName = name + QLatin1String("_hex");
  const QString apName = name + QLatin1String("_ap");
  const QString apHexName = name + QLatin1String("_ap_hex");
  const std::uint32_t origin = context_.sources().addOrigin(SourceMap::Directive::For, *element);
  XMLElement copies{std::string_view()};
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
  drain(copies, destination, table, scope.deeper());
}

// Every combination of one value per attribute, the first attribute varying
// slowest. No attributes make one combination with an empty table; an
// attribute without values makes none.
void Preprocessor::Run::processForeach(XMLElement* element, XMLNode& destination,
                                 MacroTable& table, const Scope& scope) {
  std::vector<std::pair<QString, QStringList>> variables;
  std::uint64_t combinations = 1;
  const std::uint64_t limit = limits_.maxCreatedElements;
  for (const XMLAttribute& attribute : *element) {
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
  if (!charge(combinations, perCombination))
    return;

  const std::uint32_t origin = context_.sources().addOrigin(SourceMap::Directive::Foreach, *element);
  XMLElement copies{std::string_view()};
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
  drain(copies, destination, table, scope.deeper());
}

void Preprocessor::Run::processXmlput(XMLElement* element, XMLNode& destination,
                                MacroTable& table, const Scope& scope) {
  const std::string_view* name = element->attribute("name");
  const auto fragment = name ? preprocessor_.fragments_.find(*name) : preprocessor_.fragments_.end();
  if (!name || fragment == preprocessor_.fragments_.end()) {
    if (name && sink()) {
      QStringList known;
      for (const auto& [fragmentName, unused] : preprocessor_.fragments_)
        known.append(fromBytes(fragmentName));
      warn(*element, QLatin1String("<xmlput> cannot find an <xmldef> named ") +
                         quoted(fromBytes(*name)) +
                         QLatin1String(": it is kept as an ordinary element") +
                         didYouMean(fromBytes(*name), known));
    }
    keep(element, destination, table, scope);
    return;
  }
  if (!charge(countElements(*fragment->second)))
    return;
  XMLNode* copy = preprocessor_.tree_.clone(*fragment->second);
  const std::uint32_t origin = context_.sources().addOrigin(SourceMap::Directive::Xmlput, *element);
  forEachElement(*copy, [origin](XMLElement& copied) { copied.origin = origin; });
  const std::string_view* macros = element->attribute("macros");
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
void Preprocessor::Run::checkDirectiveAttributes(const XMLElement& element) {
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
  for (const XMLAttribute& attribute : element) {
    const QString name = fromBytes(attribute.name);
    if (!known.contains(name)) {
      context_.diagnostics().reportLocated(
          Severity::Warning, context_.sources().attributeLocation(element, attribute.name),
          QLatin1String("unknown attribute \"") + name + QLatin1String("\" in <") + fromBytes(element.tagName()) +
              QLatin1String(">: it is ignored") + didYouMean(name, known),
          context_.sources().notes(element));
    }
  }
}
