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

class Reader {
public:
  Reader(XMLDocument& document, const char* begin, const char* end)
      : document_(document), p_(begin), end_(end), lineCountedTo_(begin),
        keepText_(document.flags == 1) {}

  // Returns false on a syntax error (errorMessage()/errorLine() tell which).
  bool run();

  std::unique_ptr<XMLElement> takeRoot() { return std::move(root_); }
  const char* errorMessage() const { return errorMessage_; }
  int errorLine() const { return errorLine_; }

private:
  enum class Outcome { Continue, Error, Abandon };

  Outcome processingInstruction();
  void markup(const char* open);
  Outcome endTag();
  Outcome startTag(const char* open);
  void text();

  void closeInnermost();
  void addAttribute(std::string_view name, std::string value);
  void appendToInnermost(std::unique_ptr<XMLNode> node, const char* at);
  Outcome fail(const char* message);

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
  const char* find(char c) const {
    const void* found = std::memchr(p_, c, static_cast<size_t>(end_ - p_));
    return found ? static_cast<const char*>(found) : end_;
  }
  const char* find(std::string_view sequence) const {
    const std::string_view rest(p_, static_cast<size_t>(end_ - p_));
    const size_t at = rest.find(sequence);
    return at == std::string_view::npos ? end_ : p_ + at;
  }
  // Newlines before `at`; positions asked for never go backwards. The count
  // stops at INT_MAX rather than wrapping on a gigantic buffer.
  int lineAt(const char* at) {
    if (at > lineCountedTo_) {
      const long long total = line_ + static_cast<long long>(std::count(lineCountedTo_, at, '\n'));
      line_ = static_cast<int>(std::min<long long>(total, INT_MAX));
      lineCountedTo_ = at;
    }
    return line_;
  }

  XMLDocument& document_;
  const char* p_;
  const char* const end_;  // the terminating NUL
  const char* lineCountedTo_;
  int line_ = 0;
  const bool keepText_;

  std::vector<std::unique_ptr<XMLElement>> open_;
  std::unique_ptr<XMLElement> root_;

  // Attributes of the start tag being read, moved into the element at its end.
  std::vector<XMLElement::Attribute> attributes_;
  std::vector<std::string_view> attributeNames_;  // the same names, in the buffer
  std::unordered_map<std::string_view, size_t> attributeIndex_;

  const char* errorMessage_ = "";
  int errorLine_ = 0;
};

bool Reader::run() {
  skipSpace();
  while (*p_ == '<') {
    const char* open = p_++;
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
  return true;
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
    if (quote != '"' && quote != '\'')
      return Outcome::Abandon;
    ++p_;
    const char* valueEnd = find(quote);
    std::string value(p_, valueEnd);
    p_ = valueEnd;
    stepOver();
    skipSpace();
    if (name == "version")
      document_.version = std::move(value);
    else if (name == "encoding")
      document_.encoding = std::move(value);
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
    p_ = stop == end_ ? end_ : stop + 3;
    appendToInnermost(std::make_unique<XMLCDATASection>(std::string(start, stop)), open);
    return;
  }
  if (isPrefixOf(keyword, "DOCTYPE")) {
    const std::string_view name = readName();
    skipSpace();
    if (*p_ == '>') {
      document_.doctype = std::string(name);
      ++p_;
    }
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
  if (open_.back()->tagName().compare(0, name.size(), name) != 0)
    return fail("tagName mismatch");
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
  element->line = lineAt(open);

  attributes_.clear();
  attributeNames_.clear();
  attributeIndex_.clear();
  while (*p_ != '/' && *p_ != '>' && p_ < end_) {
    if (!is(*p_, kNameStart))
      return fail("bad tagName");
    const std::string_view name = readName();
    skipSpace();
    if (*p_ != '=')
      continue;  // a name without a value is dropped
    ++p_;
    skipSpace();
    const char quote = *p_;
    if (quote != '"' && quote != '\'')
      continue;  // an unquoted value reads as the next attribute name
    ++p_;
    const char* valueEnd = find(quote);
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
  node->line = lineAt(at);
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
    if (text.size() > kMaxInputBytes)
      return false;
    chunk = 64 * 1024;
  }
}

void setReadError(XMLDocument& document, std::string_view what) {
  document.errorMessage = "couldn't read ";
  document.errorMessage.append(what);
  if (document.errorMessage.size() > 1023)
    document.errorMessage.resize(1023);  // the message buffer holds 1024 bytes with its NUL
  document.errorLine = 0;
}

// Reads `file` and parses it; a read failure names the input as `what`.
bool parseFile(XMLDocument& document, std::FILE* file, std::string_view what) {
  std::string text;
  if (!file || !readText(file, text)) {
    setReadError(document, what);
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
  Reader reader(*this, text, text + std::strlen(text));
  const bool ok = reader.run();
  root_ = reader.takeRoot();
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
    setReadError(*this, path);
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

bool QXMLDocument::load(const QString& path) {
  const QByteArray encoded = toBytes(path);
  if (encoded.contains('\0')) {
    setReadError(*this, std::string_view(encoded.constData(), static_cast<size_t>(encoded.size())));
    return false;
  }
  const bool parsed = XMLDocument::load(encoded.constData());
  if (parsed || QFileInfo(nativePath(path)).isFile())
    filesRead.append(path);
  return parsed;
}
