// The reader is one forward scan with a cursor over NUL-terminated text: no
// backtracking beyond one byte of look-ahead, each name and value copied once.
// Newlines are counted lazily, only up to the positions whose line is needed,
// which counts every newline the cursor steps over exactly once.
#include "xml/xmldocument.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/bytes.h"

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

// Copies [begin, end) with entity references decoded. A reference that decodes
// to NUL ends the string, as it would end a C string. `dropCarriageReturns`
// removes the CR bytes of the source text (a decoded "&#13;" stays).
std::string decodeText(const char* begin, const char* end, bool dropCarriageReturns) {
  const size_t length = static_cast<size_t>(end - begin);
  if (!std::memchr(begin, '&', length) && !(dropCarriageReturns && std::memchr(begin, '\r', length)))
    return std::string(begin, length);
  std::string out;
  out.reserve(length);
  const char* p = begin;
  while (p < end) {
    const char* amp = static_cast<const char*>(std::memchr(p, '&', static_cast<size_t>(end - p)));
    const char* runEnd = amp ? amp : end;
    if (dropCarriageReturns)
      std::copy_if(p, runEnd, std::back_inserter(out), [](char c) { return c != '\r'; });
    else
      out.append(p, runEnd);
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
  return out;
}

QString quotedName(std::string_view name) {
  return fromBytes(std::string(name));
}

class Reader {
public:
  Reader(XMLDocument& document, const char* begin, const char* end, std::uint32_t file)
      : document_(document), begin_(begin), p_(begin), end_(end), lineCountedTo_(begin),
        lineStart_(begin), file_(file), keepText_(document.flags == 1) {}

  // Returns false on a syntax error (errorMessage()/errorLine() tell which).
  bool run();

  std::unique_ptr<XMLElement> takeRoot() { return std::move(root_); }
  const char* errorMessage() const { return errorMessage_; }
  int errorLine() const { return errorLine_; }
  // Why the parse failed or gave no root; empty when neither happened.
  std::vector<XMLDocument::Remark> takeProblem() { return std::move(problem_); }
  std::vector<XMLDocument::Remark> takeNotices() { return std::move(notices_); }

private:
  enum class Outcome { Continue, Error, Abandon };

  Outcome processingInstruction();
  void markup(const char* open);
  Outcome endTag();
  Outcome startTag(const char* open);
  void text();

  void badAttributeName(const XMLElement& element, const char* lastValue);
  void closeInnermost();
  void addAttribute(std::string_view name, std::string value);
  void appendToInnermost(std::unique_ptr<XMLNode> node, const char* at);
  Outcome fail(const char* message);

  // The reasons kept for the located diagnostics. They are worked out only
  // on the way to a failure, so a good parse pays nothing for them.
  XMLDocument::Remark remark(const char* at, QString text) const;
  XMLDocument::Remark remark(const XMLElement& element, QString text) const {
    return {element.line + 1, element.column, std::move(text)};
  }
  // Notes the first construct that ran to the end of the text unterminated:
  // when the parse then gives no root, that is the reason.
  void unterminated(const char* at, QString text) {
    if (!unterminated_)
      unterminated_.emplace(remark(at, std::move(text)));
  }
  void explainMissingRoot();
  // Input skipped in a file that reads well. A file full of them says so a
  // few times, not once per line: each costs a count from the start.
  void notice(const char* at, QString text) {
    if (notices_.size() < 10)
      notices_.push_back(remark(at, std::move(text)));
  }

  std::string_view readName() {
    const char* start = p_;
    while (is(*p_, kNameChar))
      ++p_;
    return std::string_view(start, static_cast<size_t>(p_ - start));
  }
  void skipSpace() {
    while (is(*p_, kSpace))
      ++p_;
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
  // Newlines before `at`; positions asked for never go backwards. The count
  // stops at INT_MAX rather than wrapping on a gigantic buffer.
  int lineAt(const char* at) {
    if (at > lineCountedTo_) {
      const long long newlines = std::count(lineCountedTo_, at, '\n');
      if (newlines != 0) {
        line_ = static_cast<int>(std::min<long long>(line_ + newlines, INT_MAX));
        lineStart_ = static_cast<const char*>(
                         memrchr(lineCountedTo_, '\n', static_cast<size_t>(at - lineCountedTo_))) +
                     1;
      }
      lineCountedTo_ = at;
    }
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

  XMLDocument& document_;
  const char* const begin_;
  const char* p_;
  const char* const end_;  // the terminating NUL
  const char* lineCountedTo_;
  int line_ = 0;
  const char* lineStart_;
  const std::uint32_t file_;
  const bool keepText_;

  std::vector<std::unique_ptr<XMLElement>> open_;
  std::unique_ptr<XMLElement> root_;

  // Attributes of the start tag being read, moved into the element at its end.
  std::vector<XMLElement::Attribute> attributes_;
  std::vector<std::string_view> attributeNames_;  // the same names, in the buffer
  std::unordered_map<std::string_view, size_t> attributeIndex_;

  const char* errorMessage_ = "";
  int errorLine_ = 0;
  const char* tagOpen_ = nullptr;  // the '<' of the tag being read
  std::optional<XMLDocument::Remark> unterminated_;
  std::vector<XMLDocument::Remark> problem_;
  std::vector<XMLDocument::Remark> notices_;
};

bool Reader::run() {
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
      return false;
    if (outcome == Outcome::Abandon) {
      root_.reset();
      return true;
    }
    text();
  }
  // Elements still open here were never closed and are never attached.
  if (!root_)
    explainMissingRoot();
  return true;
}

XMLDocument::Remark Reader::remark(const char* at, QString text) const {
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
    const char* start = p_;
    const char* stop = find(std::string_view("-->"));
    if (stop == end_)
      unterminated(open, QStringLiteral("unterminated comment: this <!-- has no closing -->"));
    p_ = stop == end_ ? end_ : stop + 3;
    if (keepText_)
      appendToInnermost(std::make_unique<XMLComment>(std::string(start, stop)), open);
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
    appendToInnermost(std::make_unique<XMLCDATASection>(std::string(start, stop)), open);
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
    if (!open_.empty())
      closeInnermost();
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
                                            QString::number(element.line + 1)));
    problem_.push_back(remark(element, QLatin1Char('<') + openName + QLatin1String("> starts here")));
    return fail("tagName mismatch");
  }
  if (*p_ == '>') {
    ++p_;
    closeInnermost();
  }
  return Outcome::Continue;
}

Reader::Outcome Reader::startTag(const char* open) {
  const std::string_view tagName = readName();
  skipSpace();
  std::unique_ptr<XMLElement> element = document_.createElement(std::string(tagName));
  if (!element)
    element = std::make_unique<XMLElement>(std::string(tagName));
  locate(*element, open);

  attributes_.clear();
  attributeNames_.clear();
  attributeIndex_.clear();
  const char* lastValue = nullptr;  // the opening quote of the last value read
  bool unquoted = false;            // the name being read is an unquoted value
  while (*p_ != '/' && *p_ != '>' && p_ < end_) {
    if (!is(*p_, kNameStart)) {
      badAttributeName(*element, lastValue);
      return fail("bad tagName");
    }
    const char* nameStart = p_;
    const std::string_view name = readName();
    skipSpace();
    const bool isValue = std::exchange(unquoted, false);
    if (*p_ != '=') {
      // A name without a value is dropped.
      if (!isValue)
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
      notice(nameStart, QLatin1String("the value of \"") + quotedName(name) +
                            QLatin1String("\" is not in quotes and is ignored; write ") +
                            quotedName(name) + QLatin1String("=\"...\""));
      continue;
    }
    lastValue = p_;
    ++p_;
    const char* valueEnd = find(quote);
    if (valueEnd == end_) {
      unterminated(lastValue, QLatin1String("unterminated attribute value: the value of \"") +
                                  quotedName(name) +
                                  QLatin1String("\" starts here and has no closing quote"));
    }
    std::string value = decodeText(p_, valueEnd, false);
    p_ = valueEnd;
    stepOver();
    skipSpace();
    addAttribute(name, std::move(value));
  }
  if (element->attributes().empty()) {
    element->mutableAttributes().assign(std::make_move_iterator(attributes_.begin()),
                                        std::make_move_iterator(attributes_.end()));
  } else {
    for (XMLElement::Attribute& attribute : attributes_)
      element->setAttribute(std::move(attribute.name), std::move(attribute.value));
  }

  open_.push_back(std::move(element));
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

void Reader::text() {
  const char* start = p_;
  p_ = find('<');
  if (keepText_ && !open_.empty())
    appendToInnermost(std::make_unique<XMLData>(decodeText(start, p_, true)), start);
}

// A stray byte where an attribute name should start. When the value before
// it holds a '=', a closing quote is most likely missing there.
void Reader::badAttributeName(const XMLElement& element, const char* lastValue) {
  const unsigned char byte = static_cast<unsigned char>(*p_);
  const QString shown = byte >= 0x21 && byte < 0x7f ? QLatin1String("'") + QLatin1Char(char(byte)) + QLatin1String("'")
                                                    : QLatin1String("byte 0x") + QString::number(byte, 16);
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
  std::unique_ptr<XMLElement> element = std::move(open_.back());
  open_.pop_back();
  if (!open_.empty())
    open_.back()->appendChild(std::move(element));
  else
    root_ = std::move(element);  // a later top-level element replaces an earlier one
}

// A repeated name keeps its first position and takes the later value. Start
// tags with many attributes get a hash index so that they stay linear.
void Reader::addAttribute(std::string_view name, std::string value) {
  constexpr size_t kLinearSearchLimit = 16;
  size_t existing = attributes_.size();
  if (attributes_.size() <= kLinearSearchLimit) {
    existing = static_cast<size_t>(std::find(attributeNames_.begin(), attributeNames_.end(), name) -
                                   attributeNames_.begin());
  } else {
    if (attributeIndex_.empty()) {
      for (size_t i = 0; i < attributeNames_.size(); ++i)
        attributeIndex_.emplace(attributeNames_[i], i);
    }
    auto it = attributeIndex_.find(name);
    if (it != attributeIndex_.end())
      existing = it->second;
  }
  if (existing < attributes_.size()) {
    attributes_[existing].value = std::move(value);
    return;
  }
  if (!attributeIndex_.empty())
    attributeIndex_.emplace(name, attributes_.size());
  attributeNames_.push_back(name);
  attributes_.push_back({std::string(name), std::move(value)});
}

// Content outside every element (a comment or CDATA at top level) is dropped.
void Reader::appendToInnermost(std::unique_ptr<XMLNode> node, const char* at) {
  if (open_.empty())
    return;
  locate(*node, at);
  open_.back()->appendChild(std::move(node));
}

Reader::Outcome Reader::fail(const char* message) {
  errorMessage_ = message;
  errorLine_ = lineAt(p_);
  return Outcome::Error;
}

// Larger inputs are refused rather than risking the memory of the machine on
// a runaway stream; no memory map comes anywhere near this.
constexpr size_t kMaxInputBytes = size_t{1} << 30;

// Reads a regular file from its start, any other stream from where it stands,
// up to its end or its first NUL byte (which ends the text anyway). Only the
// size of a regular file is trusted: devices and directories report sizes
// that mean nothing.
bool readText(std::FILE* file, std::string& text) {
  text.clear();
  size_t chunk = 64 * 1024;
  struct stat info;
  if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode)) {
    if (std::fseek(file, 0, SEEK_SET) != 0)
      return false;
    if (info.st_size > 0)  // one more byte than the size, to see the end at once
      chunk = std::min(static_cast<size_t>(info.st_size), kMaxInputBytes) + 1;
  }
  for (;;) {
    const size_t old = text.size();
    text.resize(old + chunk);
    const size_t got = std::fread(&text[old], 1, chunk, file);
    text.resize(old + got);
    if (std::memchr(text.data() + old, '\0', got))
      return true;
    if (got < chunk)
      return !std::ferror(file);
    if (text.size() > kMaxInputBytes) {
      errno = EFBIG;
      return false;
    }
    chunk = 64 * 1024;
  }
}

void setReadError(XMLDocument& document, std::string_view what, int errorNumber) {
  document.readError = QString::fromLocal8Bit(std::strerror(errorNumber));
  document.problem.assign({{0, 0, QLatin1String("cannot read the file: ") + document.readError}});
  document.errorMessage = "couldn't read ";
  document.errorMessage.append(what);
  if (document.errorMessage.size() > 1023)
    document.errorMessage.resize(1023);  // the message buffer holds 1024 bytes with its NUL
  document.errorLine = 0;
}

// Reads `file` and parses it; a read failure names the input as `what`.
bool parseFile(XMLDocument& document, std::FILE* file, std::string_view what) {
  std::string text;
  errno = 0;
  if (!file || !readText(file, text)) {
    setReadError(document, what, errno != 0 ? errno : EIO);
    return false;
  }
  const char* start = text.c_str();
  if (std::strncmp(start, "\xEF\xBB\xBF", 3) == 0)
    start += 3;
  return document.parse(start);
}

}  // namespace

XMLDocument::~XMLDocument() = default;

std::unique_ptr<XMLElement> XMLDocument::createElement(std::string tagName) {
  return std::make_unique<XMLElement>(std::move(tagName));
}

bool XMLDocument::parse(const char* text) {
  if (!text)
    text = "";
  errorMessage.clear();
  errorLine = 0;
  readError.clear();
  Reader reader(*this, text, text + std::strlen(text), readingFile_);
  const bool ok = reader.run();
  root_ = reader.takeRoot();
  problem = reader.takeProblem();
  notices = reader.takeNotices();
  if (!ok) {
    errorMessage = reader.errorMessage();
    errorLine = reader.errorLine();
  }
  return ok;
}

bool XMLDocument::parse(std::FILE* file) {
  return parseFile(*this, file, "file");
}

bool XMLDocument::load(const char* path) {
  if (!path)
    path = "";
  std::FILE* file = std::fopen(path, "rb");
  if (!file) {
    setReadError(*this, path, errno);
    return false;
  }
  const bool ok = parseFile(*this, file, path);
  std::fclose(file);
  return ok;
}

std::unique_ptr<XMLNode> XMLDocument::cloneNode(const XMLNode& node) {
  auto copyOne = [this](const XMLNode& source) -> std::unique_ptr<XMLNode> {
    std::unique_ptr<XMLNode> copy;
    switch (source.type()) {
      case XMLNode::Type::Element: {
        const XMLElement& element = *source.toElement();
        std::unique_ptr<XMLElement> elementCopy = createElement(element.tagName());
        if (!elementCopy)
          elementCopy = std::make_unique<XMLElement>(element.tagName());
        elementCopy->mutableAttributes() = element.attributes();
        copy = std::move(elementCopy);
        break;
      }
      case XMLNode::Type::Data:
        copy = std::make_unique<XMLData>(static_cast<const XMLTextNode&>(source).value());
        break;
      case XMLNode::Type::Comment:
        copy = std::make_unique<XMLComment>(static_cast<const XMLTextNode&>(source).value());
        break;
      case XMLNode::Type::CDATASection:
        copy = std::make_unique<XMLCDATASection>(static_cast<const XMLTextNode&>(source).value());
        break;
    }
    copy->line = source.line;
    copy->column = source.column;
    copy->file = source.file;
    copy->origin = source.origin;
    return copy;
  };

  std::unique_ptr<XMLNode> top = copyOne(node);
  // Pairs of (original, copy) whose children still have to be copied.
  std::vector<std::pair<const XMLNode*, XMLNode*>> pending{{&node, top.get()}};
  while (!pending.empty()) {
    const auto [source, target] = pending.back();
    pending.pop_back();
    for (const XMLNode* child = source->firstChild(); child; child = child->nextSibling()) {
      std::unique_ptr<XMLNode> childCopy = copyOne(*child);
      if (child->firstChild())
        pending.emplace_back(child, childCopy.get());
      target->appendChild(std::move(childCopy));
    }
  }
  return top;
}

void QXMLDocument::reportNotices(Diagnostics& diagnostics) const {
  if (!diagnostics.located())
    return;
  const std::vector<SourceMap::Note> chain = sources.notes(loadedFile, 0);
  for (const Remark& notice : notices)
    diagnostics.reportLocated(Severity::Warning, sources.location(loadedFile, notice.line - 1, notice.column),
                              notice.text, chain);
}

void QXMLDocument::reportLoadProblem(Diagnostics& diagnostics, Severity severity) const {
  if (!diagnostics.located())
    return;
  std::vector<SourceMap::Note> notes;
  for (size_t i = 1; i < problem.size(); ++i)
    notes.push_back({sources.location(loadedFile, problem[i].line - 1, problem[i].column), problem[i].text});
  for (SourceMap::Note& note : sources.notes(loadedFile, 0))
    notes.push_back(std::move(note));
  const SourceLocation where =
      problem.empty() ? sources.location(loadedFile, -1, 0)
                      : sources.location(loadedFile, problem.front().line - 1, problem.front().column);
  diagnostics.reportLocated(severity, where,
         problem.empty() ? QStringLiteral("the file cannot be read") : problem.front().text, notes);
}

bool QXMLDocument::load(const QString& path, std::uint32_t openedBy, const QString& shownAs) {
  loadedFile = sources.addFile(shownAs.isEmpty() ? path : shownAs, openedBy);
  const QByteArray encoded = toBytes(path);
  if (encoded.contains('\0')) {
    setReadError(*this, std::string_view(encoded.constData(), static_cast<size_t>(encoded.size())),
                 ENOENT);
    return false;
  }
  readingFile_ = loadedFile;
  const bool parsed = XMLDocument::load(encoded.constData());
  readingFile_ = 0;
  if (parsed || QFileInfo(nativePath(path)).isFile())
    filesRead.append(path);
  return parsed;
}
