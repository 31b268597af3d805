#include "mkld/commandline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/fatalerror.h"
#include "base/splitlist.h"

namespace {

// The options themselves, their errors and the usage text are checked by the
// golden cases of tests/e2e; these are the list syntaxes inside arguments.

// Runs parseCommandLine over `args` (program name added).
struct Parsed {
  CommandLineOptions options;
  bool complete = false;
  std::string error;  // the FatalError message, empty when none
};

Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "mkld");
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  Parsed parsed;
  try {
    parsed.complete = parseCommandLine(static_cast<int>(args.size()), argv.data(), parsed.options);
  } catch (const FatalError& e) {
    parsed.error = toStdBytes(e.diagnostic().plain);
  }
  return parsed;
}

std::string symbolsText(const QMap<QString, QString>& symbols) {
  std::string text;
  for (auto it = symbols.begin(); it != symbols.end(); ++it)
    text += toStdBytes(it.key()) + "=" + toStdBytes(it.value()) + " ";
  return text;
}

TEST(ParseCommandLine, Symbols) {
  struct Case {
    std::vector<std::string> args;
    std::string symbols;
  };
  const Case cases[] = {
      {{"-symbols", "A=1;B=0x20", "-symbols", "A=2"}, "A=2 B=0x20 "},
      {{"-symbols", "X=a\\;b"}, "X=a;b "},
      {{"-symbols", "A=1=2"}, "A=1 "},
      {{"-symbols", "A==1"}, "A=1 "},
      {{"-symbols", "b=1;B=2;a=3"}, "B=2 a=3 b=1 "},
      // Items without a name and a value define nothing.
      {{"-symbols", "A;B=;=5;;C=3"}, "C=3 "},
      {{"-symbols", ""}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-memory-map-file", "m.xml", "out.ld"});
    Parsed p = parse(args);
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(symbolsText(p.options.symbols), c.symbols) << c.args[1];
  }
}

TEST(ParseCommandLine, NonAsciiBytesPassThrough) {
  Parsed p = parse({"-memory-map-file", "m\xff\xc3.xml", "-symbols", "S\xe9=\x80", "o\xfe.ld"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(toStdBytes(p.options.memoryMapFile), "m\xff\xc3.xml");
  EXPECT_EQ(symbolsText(p.options.symbols), "S\xe9=\x80 ");
  EXPECT_EQ(toStdBytes(p.options.outputFile), "o\xfe.ld");
}

TEST(SplitList, Items) {
  struct Case {
    const char* text;
    bool keepEmpty;
    const char* items;  // joined with '|'
  };
  const Case cases[] = {
      {"a;;b;", false, "a|b"},
      {"a;;b;", true, "a||b|"},
      {"", false, ""},
      {";", true, "|"},
      {"a\\;b;c", false, "a;b|c"},
      {"a\\\\;b", false, "a\\|b"},
      {"a\\", false, "a\\"},
      {"\\x\\y", false, "xy"},
      {"A=1;B=x=y;;C;A=2", false, "A=1|B=x=y|C|A=2"},
  };
  for (const Case& c : cases) {
    const QStringList items = splitList(QString::fromLatin1(c.text), c.keepEmpty);
    EXPECT_EQ(toStdBytes(items.join(QLatin1Char('|'))), c.items) << c.text;
    if (*c.items == '\0' && !c.keepEmpty) {
      EXPECT_TRUE(items.isEmpty());
    }
  }
}

}  // namespace
