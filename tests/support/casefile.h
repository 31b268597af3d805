// Table-driven tests whose rows live in a text file next to the test.
//
// A file holds cases, each a block of lines "KEY VALUE" (split at the first
// blank) that starts with "case NAME". Lines starting with '#' and empty
// lines are comments. Values are written as C string bodies: \\ \" \n \r \t,
// \xHH for any byte, and \s for a trailing blank; everything else is itself.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

struct TestCase {
  std::string name;
  std::vector<std::pair<std::string, std::string>> fields;  // in file order

  // The value of the first field `key`; `fallback` when there is none.
  std::string get(const std::string& key, const std::string& fallback = "") const;
  // Every value of `key`, in order.
  std::vector<std::string> all(const std::string& key) const;
};

inline std::ostream& operator<<(std::ostream& out, const TestCase& c) { return out << c.name; }

// The cases of the file at `path`.
std::vector<TestCase> readCases(const std::string& path);

// For INSTANTIATE_TEST_SUITE_P: the case name with every other character than
// a letter or digit turned into '_'.
struct CaseName {
  template <typename Info>
  std::string operator()(const Info& info) const { return sanitized(info.param.name); }
  static std::string sanitized(std::string name);
};
