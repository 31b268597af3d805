// The reader is one forward scan with a cursor over NUL-terminated text: no
// backtracking beyond one byte of look-ahead. Names and values are views
// into the text; nodes and attribute lists go into the tree's arena, so a
// well-formed file costs no allocation per node. Newlines are counted
// lazily, only up to the positions whose line is needed, which counts every
// newline the cursor steps over exactly once.
#include "xml/xmlreader.h"

#include <QString>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/hex.h"
#include "xml/loadcontext.h"
#include "xml/xmlnode.h"

namespace {

// Byte classes of the reader. They are ASCII-only on purpose: the C library's
// classes follow the process locale, and the same file must read the same way
// everywhere.
enum : unsigned char { kNameChar = 1, kNameStart = 2, kSpace = 4 };

constexpr std::array<unsigned char, 256> makeClasses() {
  std::array<unsigned char, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    const bool punctuation = c == '-' || c == ':' || c == '_';
    if (letter || digit || punctuation)
      classes[c] |= kNameChar;
    if (letter || punctuation)
      classes[c] |= kNameStart;
    if (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r')
      classes[c] |= kSpace;
  }
  return classes;
}

constexpr std::array<unsigned char, 256> kClasses = makeClasses();

bool is(char c, unsigned char byteClass) {
  return (kClasses[static_cast<unsigned char>(c)] & byteClass) != 0;
}

// True for "", "x", "xm", "xml" against "xml": the empty name counts too.
bool isPrefixOf(std::string_view token, std::string_view word) {
  return token.size() <= word.size() && word.compare(0, token.size(), token) == 0;
}

// Value of one digit of a numeric character reference, or -1. Upper-case A-F
// count like a-f so that "&#x4A;" means what its writer meant; any other byte
// makes the reference unrecognised, and the '&' is then copied literally.
int digitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Decodes the entity reference at `amp` (which points at '&') within
// [amp, end). On a match returns true with the decoded byte and the position
// after the ';'.
bool decodeReference(const char* amp, const char* end, unsigned char& byte, const char*& after) {
  const std::string_view rest(amp + 1, static_cast<size_t>(end - amp - 1));
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"apos;", '\''}, {"quot;", '"'}};
  for (const auto& [name, value] : kNamed) {
    if (rest.substr(0, name.size()) == name) {
      byte = static_cast<unsigned char>(value);
      after = amp + 1 + name.size();
      return true;
    }
  }
  if (rest.empty() || rest[0] != '#')
    return false;
  size_t i = 1;
  unsigned base = 10;
  if (i < rest.size() && rest[i] == 'x') {
    base = 16;
    ++i;
  }
  uint32_t value = 0;  // wraps; only the low 8 bits are kept
  for (; i < rest.size() && rest[i] != ';'; ++i) {
    const int digit = digitValue(rest[i]);
    if (digit < 0)
      return false;
    value = value * base + static_cast<uint32_t>(digit);
  }
  if (i == rest.size())
    return false;
  byte = static_cast<unsigned char>(value & 0xff);
  after = amp + 1 + i + 1;
  return true;
}

// [begin, end) with entity references decoded: the text itself when it holds
// none, else a decoded copy in `arena`. A reference that decodes to NUL ends
// the value, as it would end a C string.
std::string_view decodeText(const char* begin, const char* end, Arena& arena) {
  const size_t length = static_cast<size_t>(end - begin);
  if (!std::memchr(begin, '&', length))
    return std::string_view(begin, length);
  std::string out;
  out.reserve(length);
  const char* p = begin;
  while (p < end) {
    const char* amp = static_cast<const char*>(std::memchr(p, '&', static_cast<size_t>(end - p)));
    out.append(p, amp ? amp : end);
    if (!amp)
      break;
    unsigned char byte = 0;
    const char* after = nullptr;
    if (decodeReference(amp, end, byte, after)) {
      if (byte == 0)
        break;
      out += static_cast<char>(byte);
      p = after;
    } else {
      out += '&';
      p = amp + 1;
    }
  }
  return arena.copy(out);
}

QString quotedName(std::string_view name) { return fromBytes(name); }

// One reason at a place in the text: line and column from 1; line 0 when it
// concerns the whole file.
struct Remark {
  int line = 0;
  int column = 0;
  QString text;
};

class Reader {
public:
  Reader(const XMLTree& tree, std::string_view text, std::uint32_t file, bool explainSkipped)
      : tree_(tree), begin_(text.data()), p_(text.data()), end_(text.data() + text.size()),
        lineCountedTo_(begin_), lineStart_(begin_), file_(file), explainSkipped_(explainSkipped) {}

  ReadOutcome run();

  // Why the text gave no root: the reason first, then notes.
  const std::vector<Remark>& problem() const { return problem_; }
  // Input skipped although the text read well.
  const std::vector<Remark>& notices() const { return notices_; }

private:
  enum class Outcome { Continue, Error, Abandon };

  Outcome processingInstruction();
  void markup(const char* open);
  Outcome endTag();
  Outcome startTag(const char* open);

  void badAttributeName(const XMLElement& element, const char* lastValue);
  // The end tag `name` at tagOpen_ closes the innermost element by a part of
  // its name only.
  void closedByPrefix(std::string_view name);
  void closeInnermost();
  void addAttribute(std::string_view name, std::string_view value);

  // The reasons kept for the located diagnostics. They are worked out only
  // on the way to a failure, so a good parse pays nothing for them.
  Remark remark(const char* at, QString text) const;
  Remark remark(const XMLElement& element, QString text) const {
    return {element.line, element.column, std::move(text)};
  }
  // Notes the first construct that ran to the end of the text unterminated:
  // when the parse then gives no root, that is the reason.
  void unterminated(const char* at, QString text) {
    if (!unterminated_)
      unterminated_.emplace(remark(at, std::move(text)));
  }
  void explainMissingRoot();
  // Input skipped in a file that reads well, when located lines are wanted.
  // A file full of them says so a few times, not once per line: each costs a
  // count from the start.
  void notice(const char* at, QString text) {
    if (notices_.size() < 10)
      notices_.push_back(remark(at, std::move(text)));
  }

  // The scans below run over every byte of every tag: a local cursor keeps
  // them to a load, a test and an increment per byte.
  std::string_view readName() {
    const char* const start = p_;
    const char* p = start;
    while (is(*p, kNameChar))
      ++p;
    p_ = p;
    return std::string_view(start, static_cast<size_t>(p - start));
  }
  void skipSpace() {
    const char* p = p_;
    while (is(*p, kSpace))
      ++p;
    p_ = p;
  }
  void stepOver() {
    if (p_ < end_)
      ++p_;
  }
  const char* find(char c, const char* from) const {
    const void* found = std::memchr(from, c, static_cast<size_t>(end_ - from));
    return found ? static_cast<const char*>(found) : end_;
  }
  const char* find(char c) const { return find(c, p_); }
  const char* find(std::string_view sequence) const {
    const std::string_view rest(p_, static_cast<size_t>(end_ - p_));
    const size_t at = rest.find(sequence);
    return at == std::string_view::npos ? end_ : p_ + at;
  }
  // The line of `at`, from 1; positions asked for never go backwards. The
  // count stops at INT_MAX rather than wrapping on a gigantic buffer.
  int lineAt(const char* at) {
    // One search per line: lines are short, and memchr is much faster than a
    // comparison per byte.
    for (const char* p = lineCountedTo_; p < at;) {
      const void* newline = std::memchr(p, '\n', static_cast<size_t>(at - p));
      if (!newline)
        break;
      if (line_ < INT_MAX)
        ++line_;
      p = lineStart_ = static_cast<const char*>(newline) + 1;
    }
    if (at > lineCountedTo_)
      lineCountedTo_ = at;
    return line_;
  }
  // Byte column of `at` from 1, after lineAt(at).
  int columnAt(const char* at) const {
    return static_cast<int>(std::min<std::ptrdiff_t>(at - lineStart_ + 1, INT_MAX));
  }
  void locate(XMLNode& node, const char* at) {
    node.line = lineAt(at);
    node.column = columnAt(at);
    node.file = file_;
  }

  const XMLTree& tree_;
  const char* const begin_;
  const char* p_;
  const char* const end_;  // the terminating NUL
  const char* lineCountedTo_;
  int line_ = 1;
  const char* lineStart_;
  const std::uint32_t file_;
  const bool explainSkipped_;

  std::vector<XMLElement*> open_;
  XMLElement* root_ = nullptr;

  // Attributes of the start tag being read, copied into the arena at its end.
  std::vector<XMLAttribute> attributes_;
  std::unordered_map<std::string_view, size_t> attributeIndex_;

  const char* tagOpen_ = nullptr;  // the '<' of the tag being read
  std::optional<Remark> unterminated_;
  std::vector<Remark> problem_;
  std::vector<Remark> notices_;
};

ReadOutcome Reader::run() {
  skipSpace();
  while (*p_ == '<') {
    const char* open = p_++;
    tagOpen_ = open;
    Outcome outcome = Outcome::Continue;
    switch (*p_) {
      case '?':
        outcome = processingInstruction();
        break;
      case '!':
        markup(open);
        break;
      case '/':
        ++p_;
        outcome = endTag();
        break;
      default:
        outcome = startTag(open);
        break;
    }
    if (outcome == Outcome::Error)
      return {nullptr, true};
    if (outcome == Outcome::Abandon)
      return {};
    p_ = find('<');  // character data is not kept
  }
  // Elements still open here were never closed and are never attached.
  if (!root_)
    explainMissingRoot();
  return {root_, false};
}

Remark Reader::remark(const char* at, QString text) const {
  const std::ptrdiff_t before = at - begin_;
  const long long newlines = std::count(begin_, at, '\n');
  const void* lastNewline = memrchr(begin_, '\n', static_cast<size_t>(before));
  const char* lineStart = lastNewline ? static_cast<const char*>(lastNewline) + 1 : begin_;
  return {static_cast<int>(std::min<long long>(newlines + 1, INT_MAX)),
          static_cast<int>(std::min<std::ptrdiff_t>(at - lineStart + 1, INT_MAX)), std::move(text)};
}

void Reader::explainMissingRoot() {
  if (unterminated_) {
    problem_.push_back(std::move(*unterminated_));
  } else if (!open_.empty()) {
    const XMLElement& innermost = *open_.back();
    const QString name = quotedName(innermost.tagName());
    problem_.push_back(remark(innermost, QLatin1String("end of file while <") + name +
                                             QLatin1String("> is still open: its end tag </") +
                                             name + QLatin1String("> is missing")));
    // The next few enclosing elements; deeper ones would bury the first line.
    const auto last = open_.rbegin() + std::min<std::ptrdiff_t>(4, open_.rend() - open_.rbegin());
    for (auto it = open_.rbegin() + 1; it != last; ++it) {
      problem_.push_back(remark(**it, QLatin1String("<") + quotedName((*it)->tagName()) +
                                          QLatin1String("> is not closed either")));
    }
  } else {
    problem_.push_back({0, 0, QStringLiteral("the file holds no element")});
  }
}

Reader::Outcome Reader::processingInstruction() {
  ++p_;  // '?'
  const std::string_view target = readName();
  skipSpace();
  if (!isPrefixOf(target, "xml"))
    return Outcome::Continue;  // another target: the rest reads as text
  while (*p_ != '?' && p_ < end_) {
    const char* before = p_;
    const std::string_view name = readName();
    skipSpace();
    if (*p_ != '=') {
      // A byte that no declaration holds (neither a name, white space, '='
      // nor '?') would stop the scan forever: end the declaration there.
      if (p_ == before)
        break;
      continue;
    }
    ++p_;
    skipSpace();
    const char quote = *p_;
    if (quote != '"' && quote != '\'') {
      problem_.push_back(remark(p_, QLatin1String("the value of \"") + quotedName(name) +
                                        QLatin1String("\" in the XML declaration is not quoted; "
                                                      "the rest of the file is ignored")));
      return Outcome::Abandon;
    }
    const char* valueEnd = find(quote, p_ + 1);
    if (valueEnd == end_) {
      unterminated(p_, QLatin1String("unterminated value of \"") + quotedName(name) +
                           QLatin1String("\" in the XML declaration: its closing quote is missing"));
    }
    // The values (version, encoding) change nothing: the bytes are read as
    // they are.
    p_ = valueEnd;
    stepOver();
    skipSpace();
  }
  if (*p_ == '?')
    ++p_;
  if (*p_ == '>')
    ++p_;
  return Outcome::Continue;
}

void Reader::markup(const char* open) {
  ++p_;  // '!'
  if (p_[0] == '-' && p_[1] == '-') {
    p_ += 2;
    const char* stop = find(std::string_view("-->"));
    if (stop == end_)
      unterminated(open, QStringLiteral("unterminated comment: this <!-- has no closing -->"));
    p_ = stop == end_ ? end_ : stop + 3;
    return;
  }
  const std::string_view keyword = readName();
  skipSpace();
  if (keyword.empty()) {
    // "[CDATA[": the bracket, the keyword, the second bracket.
    stepOver();
    readName();
    skipSpace();
    stepOver();
    const char* start = p_;
    const char* stop = find(std::string_view("]]>"));
    if (stop == end_)
      unterminated(open, QStringLiteral("unterminated CDATA section: it has no closing ]]>"));
    p_ = stop == end_ ? end_ : stop + 3;
    // Content outside every element (CDATA at top level) is dropped.
    if (!open_.empty()) {
      auto* section = tree_.arena().make<XMLCDATASection>(std::string_view(start, static_cast<size_t>(stop - start)));
      locate(*section, open);
      open_.back()->appendChild(section);
    }
    return;
  }
  if (isPrefixOf(keyword, "DOCTYPE")) {
    readName();
    skipSpace();
    if (*p_ == '>')
      ++p_;
  }
  // Anything else (an external identifier, <!ENTITY ...>) reads as text.
}

// The cursor is just past the '/'.
Reader::Outcome Reader::endTag() {
  if (*p_ == '>') {
    ++p_;
    if (!open_.empty()) {
      if (explainSkipped_)
        closedByPrefix({});
      closeInnermost();
    }
    return Outcome::Continue;
  }
  const std::string_view name = readName();
  skipSpace();
  if (open_.empty())
    return Outcome::Continue;
  // Only the end tag's own length is compared: </Mem> closes <MemorySegment>.
  if (open_.back()->tagName().compare(0, name.size(), name) != 0) {
    const XMLElement& element = *open_.back();
    const QString openName = quotedName(element.tagName());
    problem_.push_back(remark(tagOpen_, QLatin1String("end tag </") + quotedName(name) +
                                            QLatin1String("> does not match <") + openName +
                                            QLatin1String(">, which starts at line ") +
                                            QString::number(element.line)));
    problem_.push_back(remark(element, QLatin1Char('<') + openName + QLatin1String("> starts here")));
    return Outcome::Error;
  }
  if (*p_ == '>') {
    ++p_;
    if (explainSkipped_ && name.size() != open_.back()->tagName().size())
      closedByPrefix(name);
    closeInnermost();
  }
  return Outcome::Continue;
}

void Reader::closedByPrefix(std::string_view name) {
  const XMLElement& element = *open_.back();
  const QString openName = quotedName(element.tagName());
  notice(tagOpen_, QLatin1String("end tag </") + quotedName(name) + QLatin1String("> closes <") + openName +
                       QLatin1String(">, which starts at line ") + QString::number(element.line) +
                       QLatin1String(name.empty() ? " without naming it" : ", because it begins its name") +
                       QLatin1String("; write </") + openName + QLatin1String(">"));
}

Reader::Outcome Reader::startTag(const char* open) {
  const std::string_view tagName = readName();
  skipSpace();
  XMLElement* element = tree_.newElement(tagName);
  locate(*element, open);

  attributes_.clear();
  attributeIndex_.clear();
  const char* lastValue = nullptr;  // the opening quote of the last value read
  bool unquoted = false;            // the name being read is an unquoted value
  while (*p_ != '/' && *p_ != '>' && p_ < end_) {
    if (!is(*p_, kNameStart)) {
      badAttributeName(*element, lastValue);
      return Outcome::Error;
    }
    const char* nameStart = p_;
    const std::string_view name = readName();
    skipSpace();
    const bool isValue = std::exchange(unquoted, false);
    if (*p_ != '=') {
      // A name without a value is dropped.
      if (!isValue && explainSkipped_)
        notice(nameStart, QLatin1String("attribute \"") + quotedName(name) +
                            QLatin1String("\" has no value and is ignored; write ") +
                            quotedName(name) + QLatin1String("=\"...\""));
      continue;
    }
    ++p_;
    skipSpace();
    const char quote = *p_;
    if (quote != '"' && quote != '\'') {
      // An unquoted value reads as the next attribute name.
      unquoted = true;
      if (explainSkipped_)
        notice(nameStart, QLatin1String("the value of \"") + quotedName(name) +
                            QLatin1String("\" is not in quotes and is ignored; write ") +
                            quotedName(name) + QLatin1String("=\"...\""));
      continue;
    }
    lastValue = p_;
    ++p_;
    // Values are short: one loop finds the closing quote and tells whether
    // a reference needs decoding, where two searches cost more.
    const char* valueEnd = p_;
    while (*valueEnd != quote && *valueEnd != '&' && valueEnd < end_)
      ++valueEnd;
    const bool plain = *valueEnd != '&';
    if (!plain)
      valueEnd = find(quote, valueEnd);
    if (valueEnd == end_) {
      unterminated(lastValue, QLatin1String("unterminated attribute value: the value of \"") +
                                  quotedName(name) +
                                  QLatin1String("\" starts here and has no closing quote"));
    }
    const std::string_view value = plain ? std::string_view(p_, static_cast<size_t>(valueEnd - p_))
                                         : decodeText(p_, valueEnd, tree_.arena());
    p_ = valueEnd;
    stepOver();
    skipSpace();
    addAttribute(name, value);
  }
  if (!attributes_.empty()) {
    auto* list = reinterpret_cast<XMLAttribute*>(
        tree_.arena().allocate(sizeof(XMLAttribute) * attributes_.size(), alignof(XMLAttribute)));
    std::copy(attributes_.begin(), attributes_.end(), list);
    element->setAttributes(list, static_cast<std::uint32_t>(attributes_.size()));
  }

  open_.push_back(element);
  if (*p_ == '>') {
    ++p_;
  } else if (*p_ == '/') {
    ++p_;
    if (*p_ != '>')
      return endTag();
    ++p_;
    closeInnermost();
  }
  return Outcome::Continue;
}

// A stray byte where an attribute name should start. When the value before
// it holds a '=', a closing quote is most likely missing there.
void Reader::badAttributeName(const XMLElement& element, const char* lastValue) {
  const unsigned char byte = static_cast<unsigned char>(*p_);
  const QString shown = byte >= 0x21 && byte < 0x7f ? QLatin1String("'") + QLatin1Char(char(byte)) + QLatin1String("'")
                                                    : QLatin1String("byte ") + hexText(byte);
  problem_.push_back(remark(p_, QLatin1String("unexpected ") + shown + QLatin1String(" in the start tag <") +
                                    quotedName(element.tagName()) +
                                    QLatin1String(">: an attribute name must start with a letter, "
                                                  "'_', ':' or '-'")));
  const char* before = p_;
  while (before > begin_ && is(before[-1], kSpace))
    --before;
  if (before > begin_ && before[-1] == '=') {
    problem_.push_back(remark(before - 1, QStringLiteral("an attribute value must be in quotes, as "
                                                         "in size=\"0x100\"")));
  } else if (lastValue &&
             std::memchr(lastValue + 1, '=', static_cast<size_t>(p_ - lastValue - 1))) {
    problem_.push_back(remark(lastValue, QStringLiteral(
                                             "the value starting here runs into the next "
                                             "attribute: is its closing quote missing?")));
  }
}

// Elements are attached when they close, which keeps siblings in document order.
void Reader::closeInnermost() {
  XMLElement* element = open_.back();
  open_.pop_back();
  if (!open_.empty())
    open_.back()->appendChild(element);
  else
    root_ = element;  // a later top-level element replaces an earlier one
}

// A repeated name keeps its first position and takes the later value. Start
// tags with many attributes get a hash index so that they stay linear.
void Reader::addAttribute(std::string_view name, std::string_view value) {
  constexpr size_t kLinearSearchLimit = 16;
  size_t existing = attributes_.size();
  if (attributes_.size() <= kLinearSearchLimit) {
    // Names of one length mostly differ in their first byte.
    existing = static_cast<size_t>(
        std::find_if(attributes_.begin(), attributes_.end(),
                     [name](const XMLAttribute& attribute) {
                       return attribute.name.size() == name.size() && attribute.name[0] == name[0] &&
                              attribute.name == name;
                     }) -
        attributes_.begin());
  } else {
    if (attributeIndex_.empty()) {
      for (size_t i = 0; i < attributes_.size(); ++i)
        attributeIndex_.emplace(attributes_[i].name, i);
    }
    auto it = attributeIndex_.find(name);
    if (it != attributeIndex_.end())
      existing = it->second;
  }
  if (existing < attributes_.size()) {
    attributes_[existing].value = value;
    return;
  }
  if (!attributeIndex_.empty())
    attributeIndex_.emplace(name, attributes_.size());
  attributes_.push_back({name, value});
}

}  // namespace

ReadOutcome readXML(LoadContext& context, const XMLTree& tree, std::string_view text, std::uint32_t file,
                    Severity failure) {
  Diagnostics& diagnostics = context.diagnostics();
  Reader reader(tree, text.substr(0, std::strlen(text.data())), file, diagnostics.located());
  const ReadOutcome outcome = reader.run();
  const SourceMap& sources = context.sources();
  if (!outcome.root) {
    const std::vector<Remark>& problem = reader.problem();
    std::vector<Diagnostic::Note> notes;
    for (size_t i = 1; i < problem.size(); ++i)
      notes.push_back({sources.location(file, problem[i].line, problem[i].column), problem[i].text});
    // A file an include or Import reads fails with a warning: the run goes on.
    if (failure == Severity::Warning)
      notes.push_back({sources.location(file, 0, 0), QStringLiteral("the content of this file is dropped, and the "
                                                                    "run goes on without it")});
    for (Diagnostic::Note& note : sources.notes(file, 0))
      notes.push_back(std::move(note));
    const Remark reason = problem.empty() ? Remark{0, 0, QStringLiteral("the file cannot be read")} : problem.front();
    diagnostics.report({failure, sources.location(file, reason.line, reason.column), reason.text, QString(),
                        std::move(notes)});
    return outcome;
  }
  if (!reader.notices().empty()) {
    const std::vector<Diagnostic::Note> chain = sources.notes(file, 0);
    for (const Remark& notice : reader.notices())
      diagnostics.reportLocated(Severity::Warning, sources.location(file, notice.line, notice.column), notice.text,
                                chain);
  }
  return outcome;
}
