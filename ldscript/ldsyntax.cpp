#include "ldscript/ldsyntax.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstring>

namespace {

using namespace std::string_view_literals;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isNameChar(char c) { return isLetter(c) || isDigit(c) || c == '_' || c == '.' || c == '$'; }
bool isOneOf(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }
// The characters of a file or section name pattern in an input-section list.
bool isWildChar(char c) { return isNameChar(c) || isOneOf(c, "/\\~-+:[],=?*^!"); }

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// The longest start of `word` that ld reads as one number: 0x1F, $1F, 31,
// each with an optional K or M; in an assignment also 1Fh, 37o, 11111b, 31d
// (and 0x, read as hexadecimal 0).
std::size_t numberLength(std::string_view word, LdContext context) {
  auto hexRun = [&](std::size_t from) {
    while (from < word.size() && isHexDigit(word[from]))
      ++from;
    return from;
  };
  auto withMultiplier = [&](std::size_t end) {
    return end < word.size() && isOneOf(word[end], "KkMm") ? end + 1 : end;
  };
  if (word[0] == '$') {
    const std::size_t end = hexRun(1);
    return end > 1 ? withMultiplier(end) : 0;
  }
  std::size_t best = 0;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X') && isHexDigit(word[2]))
    best = withMultiplier(hexRun(2));
  std::size_t decimal = 0;
  while (decimal < word.size() && isDigit(word[decimal]))
    ++decimal;
  best = std::max(best, withMultiplier(decimal));
  if (context == LdContext::Assignment) {
    const std::size_t hex = hexRun(0);
    if (hex < word.size() && isOneOf(word[hex], "HhXxBbOoDd"))
      best = std::max(best, hex + 1);
    for (std::size_t i = hex; i-- > 1;) {  // 1b inside 1b01: binary 1 and then more
      if (isOneOf(word[i], "BbDd")) {
        best = std::max(best, i + 1);
        break;
      }
    }
  }
  return best;
}

struct Token {
  enum Kind { End, Number, Name, Open, Close, Comma, Question, Colon, Unary, Sign, Binary } kind;
  std::size_t offset;
  std::string_view text;
};

// ld's tokens of an expression. A fault of a single token (a number with
// letters after it, a character ld does not read) ends the lexing.
class Lexer {
public:
  Lexer(std::string_view text, LdContext context) : text_(text), context_(context) {}

  std::optional<LdFault> fault;

  Token next() {
    skipBlanksAndComments();
    const std::size_t start = at_;
    if (fault || at_ >= text_.size())
      return {Token::End, std::min(at_, text_.size()), {}};
    const char c = text_[at_];
    if (isDigit(c) || (c == '$' && at_ + 1 < text_.size() && isHexDigit(text_[at_ + 1])))
      return number();
    if (isNameChar(c))
      return word(Token::Name, [](char x) { return isNameChar(x); });
    if (c == '"') {
      const std::size_t close = text_.find('"', at_ + 1);
      if (close == std::string_view::npos)
        return failed("the quote is not closed");
      at_ = close + 1;
      return {Token::Name, start, text_.substr(start, at_ - start)};
    }
    static constexpr std::string_view kPairs[] = {"<<"sv, ">>"sv, "=="sv, "!="sv, "<="sv, ">="sv, "&&"sv, "||"sv};
    for (std::string_view pair : kPairs) {
      if (text_.substr(at_, 2) == pair)
        return take(Token::Binary, 2);
    }
    switch (c) {
      case '(':
        return take(Token::Open, 1);
      case ')':
        return take(Token::Close, 1);
      case ',':
        return take(Token::Comma, 1);
      case '?':
        return take(Token::Question, 1);
      case ':':
        return take(Token::Colon, 1);
      case '!':
      case '~':
        return take(Token::Unary, 1);
      case '+':
      case '-':
        return take(Token::Sign, 1);
      case '*':
      case '/':
      case '%':
      case '<':
      case '>':
      case '&':
      case '|':
        return take(Token::Binary, 1);
      default:
        break;
    }
    return failed(quoted(text_.substr(at_, 1)) + " is not part of ld's expressions");
  }

private:
  void skipBlanksAndComments() {
    for (;;) {
      while (at_ < text_.size() && isBlank(text_[at_]))
        ++at_;
      if (text_.substr(at_, 2) != "/*"sv)
        return;
      const std::size_t close = text_.find("*/"sv, at_ + 2);
      if (close == std::string_view::npos) {
        failed("the comment is not closed");
        return;
      }
      at_ = close + 2;
    }
  }

  template <typename Predicate>
  Token word(Token::Kind kind, Predicate inWord) {
    const std::size_t start = at_;
    while (at_ < text_.size() && inWord(text_[at_]))
      ++at_;
    return {kind, start, text_.substr(start, at_ - start)};
  }

  Token number() {
    const Token token = word(Token::Number, [](char x) { return isNameChar(x); });
    const std::size_t length = numberLength(token.text, context_);
    if (length == token.text.size())
      return token;
    at_ = token.offset;
    if (token.text.size() > 2 && token.text[0] == '0' && (token.text[1] == 'b' || token.text[1] == 'B'))
      return failed("ld has no binary numbers (0b...): write the number in hexadecimal");
    std::string why =
        quoted(token.text.substr(length)) + " cannot follow the number " + std::string(token.text.substr(0, length));
    if (length == 0)
      why = quoted(token.text) + " is no number ld reads";
    else if (token.text[length] == '_')
      why += ": ld numbers have no \"_\" between digits";
    at_ += length;
    return failed(std::move(why));
  }

  Token take(Token::Kind kind, std::size_t length) {
    const std::size_t start = at_;
    at_ += length;
    return {kind, start, text_.substr(start, length)};
  }

  Token failed(std::string message) {
    if (!fault)
      fault = LdFault{at_, std::move(message)};
    return {Token::End, at_, {}};
  }

  std::string_view text_;
  LdContext context_;
  std::size_t at_ = 0;
};

struct Function {
  std::string_view name;
  int minArguments;
  int maxArguments;
};

// The functions of ld's expressions; their names are keywords, so each
// needs its parentheses.
constexpr Function kFunctions[] = {
    {"ABSOLUTE"sv, 1, 1},
    {"ADDR"sv, 1, 1},
    {"ALIGN"sv, 1, 2},
    {"ALIGNOF"sv, 1, 1},
    {"ASSERT"sv, 2, 2},
    {"BLOCK"sv, 1, 1},
    {"CONSTANT"sv, 1, 1},
    {"DATA_SEGMENT_ALIGN"sv, 2, 2},
    {"DATA_SEGMENT_END"sv, 1, 1},
    {"DATA_SEGMENT_RELRO_END"sv, 2, 2},
    {"DEFINED"sv, 1, 1},
    {"LENGTH"sv, 1, 1},
    {"LOADADDR"sv, 1, 1},
    {"LOG2CEIL"sv, 1, 1},
    {"MAX"sv, 2, 2},
    {"MIN"sv, 2, 2},
    {"NEXT"sv, 1, 1},
    {"ORIGIN"sv, 1, 1},
    {"SEGMENT_START"sv, 2, 2},
    {"SIZEOF"sv, 1, 1},
};

const Function* findFunction(std::string_view name) {
  for (const Function& function : kFunctions) {
    if (function.name == name)
      return &function;
  }
  return nullptr;
}

std::string arguments(const Function& function) {
  std::string text = std::string(function.name) + " takes ";
  if (function.minArguments != function.maxArguments)
    text += std::to_string(function.minArguments) + " or ";
  text += std::to_string(function.maxArguments);
  return text + (function.maxArguments == 1 ? " argument" : " arguments");
}

// A bracket still open: "(", a function's "(", or a "?" (waiting for its
// ":" or, once it has it, for whatever ends the expression around it).
struct Open {
  enum Kind { Parenthesis, Call, Condition, Alternative } kind;
  std::size_t offset;
  const Function* function = nullptr;
  int arguments = 1;
};

LdFault faultAt(std::size_t offset, std::string message) { return {offset, std::move(message)}; }

}  // namespace

std::optional<LdFault> checkLdExpression(std::string_view text, LdContext context) {
  Lexer lexer(text, context);
  std::vector<Open> open;
  bool wantValue = true;  // a value comes next, not an operator
  bool anything = false;
  // Ends the "?:" whose ":" part is complete: a ")", "," or the end closes
  // them.
  auto closeAlternatives = [&] {
    while (!open.empty() && open.back().kind == Open::Alternative)
      open.pop_back();
  };
  Token token = lexer.next();
  for (;; token = lexer.next()) {
    if (lexer.fault)
      return lexer.fault;
    if (token.kind != Token::End)
      anything = true;
    if (wantValue) {
      switch (token.kind) {
        case Token::Number:
          wantValue = false;
          continue;
        case Token::Name: {
          const Function* function = findFunction(token.text);
          if (token.text == "SIZEOF_HEADERS"sv || (!function && token.text.front() == '"')) {
            wantValue = false;
            continue;
          }
          const Token after = lexer.next();
          if (lexer.fault)
            return lexer.fault;
          if (after.kind == Token::Open) {
            if (!function)
              return faultAt(token.offset, "ld has no function " + quoted(token.text));
            open.push_back({Open::Call, after.offset, function});
            continue;
          }
          if (function)
            return faultAt(after.offset, std::string(token.text) + " needs its arguments in parentheses");
          wantValue = false;
          token = after;
          break;  // the token after the name is an operator's
        }
        case Token::Open:
          open.push_back({Open::Parenthesis, token.offset});
          continue;
        case Token::Unary:
        case Token::Sign:
          continue;
        case Token::End:
          return faultAt(token.offset, anything ? "a value is missing at the end" : "the text is empty");
        default:
          return faultAt(token.offset, "a value is missing before " + quoted(token.text));
      }
    }
    switch (token.kind) {
      case Token::Sign:
      case Token::Binary:
        wantValue = true;
        break;
      case Token::Question:
        open.push_back({Open::Condition, token.offset});
        wantValue = true;
        break;
      case Token::Colon:
        closeAlternatives();
        if (open.empty() || open.back().kind != Open::Condition)
          return faultAt(token.offset, "\":\" has no \"?\" before it");
        open.back().kind = Open::Alternative;
        wantValue = true;
        break;
      case Token::Comma:
        closeAlternatives();
        if (open.empty() || open.back().kind != Open::Call)
          return faultAt(token.offset, open.empty() || open.back().kind == Open::Parenthesis
                                           ? "\",\" separates nothing here"
                                           : "\"?\" has no \":\"");
        if (++open.back().arguments > open.back().function->maxArguments)
          return faultAt(token.offset, arguments(*open.back().function));
        wantValue = true;
        break;
      case Token::Close:
        closeAlternatives();
        if (open.empty())
          return faultAt(token.offset, "\")\" closes no \"(\"");
        if (open.back().kind == Open::Condition)
          return faultAt(open.back().offset, "\"?\" has no \":\"");
        if (open.back().kind == Open::Call && open.back().arguments < open.back().function->minArguments)
          return faultAt(token.offset, arguments(*open.back().function));
        open.pop_back();
        break;
      case Token::End:
        closeAlternatives();
        if (open.empty())
          return std::nullopt;
        return faultAt(open.back().offset,
                       open.back().kind == Open::Condition ? "\"?\" has no \":\"" : "\"(\" is not closed");
      default:
        return faultAt(token.offset, "an operator is missing before " + quoted(token.text));
    }
  }
}

namespace {

constexpr std::string_view kSortKeywords[] = {
    "SORT"sv, "SORT_BY_NAME"sv, "SORT_BY_ALIGNMENT"sv, "SORT_BY_INIT_PRIORITY"sv, "SORT_NONE"sv, "REVERSE"sv};

bool isSortKeyword(std::string_view word) {
  return std::find(std::begin(kSortKeywords), std::end(kSortKeywords), word) != std::end(kSortKeywords);
}

// Reads an input-section list word by word; a parenthesised group is
// skipped as a whole by counting, so nesting costs no stack.
class ListReader {
public:
  explicit ListReader(std::string_view text) : text_(text) {}

  InputSectionList read() {
    InputSectionList list;
    bool continuing = false;  // EXCLUDE_FILE(...) or INPUT_SECTION_FLAGS(...) came first
    while (!list.fault) {
      skipBlanks();
      if (at_ >= text_.size()) {
        if (continuing)
          list.fault = LdFault{at_, "a file name is missing at the end"};
        break;
      }
      const char c = text_[at_];
      if (!isWildChar(c)) {
        list.fault =
            LdFault{at_, c == '('   ? "\"(\" has no file name before it"
                         : c == ')' ? "\")\" closes no \"(\""
                                    : quoted(text_.substr(at_, 1)) + " is not part of an input-section list"};
        break;
      }
      const std::size_t start = at_;
      while (at_ < text_.size() && isWildChar(text_[at_]))
        ++at_;
      const std::string_view word = text_.substr(start, at_ - start);
      if (!continuing) {
        list.descriptions.push_back(start);
        list.kept.push_back(word == "KEEP"sv);
      }
      if (word == "KEEP"sv || word == "EXCLUDE_FILE"sv || word == "INPUT_SECTION_FLAGS"sv || isSortKeyword(word)) {
        skipBlanks();
        if (at_ >= text_.size() || text_[at_] != '(') {
          list.fault = LdFault{at_, std::string(word) + " needs parentheses"};
          break;
        }
        if (!skipGroup(list))
          break;
        // After a prefix the file name follows; after SORT(...) the sections.
        continuing = word == "EXCLUDE_FILE"sv || word == "INPUT_SECTION_FLAGS"sv;
        if (continuing || word == "KEEP"sv)
          continue;
      }
      continuing = false;
      skipBlanks();
      if (at_ < text_.size() && text_[at_] == '(')
        skipGroup(list);
    }
    return list;
  }

private:
  void skipBlanks() {
    while (at_ < text_.size() && isBlank(text_[at_]))
      ++at_;
  }

  // Past the ")" that closes the "(" at at_; false with a fault when none does.
  bool skipGroup(InputSectionList& list) {
    const std::size_t start = at_;
    std::size_t depth = 0;
    for (; at_ < text_.size(); ++at_) {
      if (text_[at_] == '(') {
        ++depth;
      } else if (text_[at_] == ')' && --depth == 0) {
        ++at_;
        return true;
      }
    }
    list.fault = LdFault{start, "\"(\" is not closed"};
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

InputSectionList readInputSections(std::string_view text) { return ListReader(text).read(); }

bool patternTakes(std::string_view pattern, std::string_view name) {
  // Up to its first wildcard (or escape) a pattern matches only itself: most
  // patterns are told apart there, without fnmatch and its copies.
  std::size_t at = 0;
  for (; at < pattern.size(); ++at) {
    const char wanted = at < name.size() ? name[at] : at - name.size() < 2 ? ".*"[at - name.size()] : '\0';
    if (pattern[at] == wanted && wanted != '*')
      continue;
    if (pattern[at] == '*' || pattern[at] == '?' || pattern[at] == '[' || pattern[at] == '\\')
      break;
    return false;
  }
  if (at == pattern.size())
    return at == name.size();
  const std::string text(pattern);
  const std::string plain(name);
  return fnmatch(text.c_str(), plain.c_str(), 0) == 0 || fnmatch(text.c_str(), (plain + ".*").c_str(), 0) == 0;
}

bool listTakes(std::string_view text, std::string_view name) {
  std::size_t depth = 0;
  std::size_t skipBelow = 0;  // > 0: inside a group of file names, which closes below this depth
  std::size_t at = 0;
  while (at < text.size()) {
    const char c = text[at];
    if (!isWildChar(c)) {
      if (c == '(')
        ++depth;
      else if (c == ')' && depth > 0 && --depth < skipBelow)
        skipBelow = 0;
      ++at;
      continue;
    }
    const std::size_t start = at;
    while (at < text.size() && isWildChar(text[at]))
      ++at;
    const std::string_view word = text.substr(start, at - start);
    std::size_t next = at;
    while (next < text.size() && isBlank(text[next]))
      ++next;
    if (next < text.size() && text[next] == '(') {  // a file pattern or a keyword
      if (skipBelow == 0 && (word == "EXCLUDE_FILE"sv || word == "INPUT_SECTION_FLAGS"sv))
        skipBelow = depth + 1;
      continue;
    }
    if (depth > 0 && skipBelow == 0 && patternTakes(word, name))
      return true;
  }
  return false;
}

std::optional<LdFault> checkKeptInputSections(std::string_view text) {
  const InputSectionList list = readInputSections(text);
  if (list.fault)
    return list.fault;
  if (list.descriptions.empty())
    return LdFault{0, "the list is empty"};
  if (list.kept[0])
    return LdFault{list.descriptions[0], "the list is a KEEP(...) already, and ld reads no KEEP inside KEEP"};
  if (list.descriptions.size() > 1) {
    return LdFault{list.descriptions[1],
                   "KEEP(...) holds one input-section description, and this is the second "
                   "of " +
                       std::to_string(list.descriptions.size())};
  }
  return std::nullopt;
}
