#include "support/casefile.h"

#include <cctype>
#include <fstream>
#include <stdexcept>

namespace {

std::string unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    switch (c) {
    case 'n': out += '\n'; break;
    case 'r': out += '\r'; break;
    case 't': out += '\t'; break;
    case 's': out += ' '; break;
    case 'x':
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
      break;
    default: out += c; break;
    }
  }
  return out;
}

}  // namespace

std::string TestCase::get(const std::string& key, const std::string& fallback) const {
  for (const auto& [k, v] : fields) {
    if (k == key)
      return v;
  }
  return fallback;
}

std::vector<std::string> TestCase::all(const std::string& key) const {
  std::vector<std::string> values;
  for (const auto& [k, v] : fields) {
    if (k == key)
      values.push_back(v);
  }
  return values;
}

std::vector<TestCase> readCases(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " + path);
  std::vector<TestCase> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    const size_t blank = line.find(' ');
    const std::string key = line.substr(0, blank);
    const std::string value = blank == std::string::npos ? "" : unescaped(line.substr(blank + 1));
    if (key == "case")
      cases.push_back({value, {}});
    else if (!cases.empty())
      cases.back().fields.emplace_back(key, value);
    else
      throw std::runtime_error(path + ": a field before the first case");
  }
  return cases;
}

std::string CaseName::sanitized(std::string name) {
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)))
      c = '_';
  }
  return name;
}
