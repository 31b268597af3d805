#include "mkld/commandline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/fatalerror.h"
#include "base/splitlist.h"

namespace {

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
    parsed.error = toStdBytes(e.message());
  }
  return parsed;
}

std::string symbolsText(const QMap<QString, QString>& symbols) {
  std::string text;
  for (auto it = symbols.begin(); it != symbols.end(); ++it)
    text += toStdBytes(it.key()) + "=" + toStdBytes(it.value()) + " ";
  return text;
}

TEST(ParseCommandLine, OptionsFillTheRecord) {
  Parsed p = parse({"-memory-map-file", "map.xml", "-section-placement-file", "place.xml",
                    "-memory-map-macros", "A=1", "-memory-map-macros", "B=2",
                    "-section-placement-macros", "C=3", "-section-placment-macros", "D=4",
                    "-check-segment-overflow", "-no-check-unplaced-sections",
                    "-default-fill-pattern", "0xff", "-default-fill-pattern", "0xee",
                    "-disable-missing-runin-error", "-verbose", "out.ld"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(toStdBytes(p.options.memoryMapFile), "map.xml");
  EXPECT_EQ(toStdBytes(p.options.sectionPlacementFile), "place.xml");
  EXPECT_EQ(toStdBytes(p.options.memoryMapMacros), "A=1;B=2");
  EXPECT_EQ(toStdBytes(p.options.sectionPlacementMacros), "C=3;D=4");
  EXPECT_TRUE(p.options.checkSegmentOverflow);
  EXPECT_FALSE(p.options.checkUnplacedSections);
  EXPECT_EQ(toStdBytes(p.options.defaultFillPattern), "0xee");
  EXPECT_FALSE(p.options.missingRunInError);
  EXPECT_TRUE(p.options.verbose);
  EXPECT_EQ(toStdBytes(p.options.outputFile), "out.ld");
}

TEST(ParseCommandLine, DefaultsWhenOnlyTheRequiredAreGiven) {
  Parsed p = parse({"out.ld", "-memory-map-segments", "FLASH RX 0x0 0x1000"});
  ASSERT_EQ(p.error, "");
  EXPECT_FALSE(p.options.checkSegmentOverflow);
  EXPECT_TRUE(p.options.checkUnplacedSections);
  EXPECT_TRUE(p.options.missingRunInError);
  EXPECT_FALSE(p.options.verbose);
  EXPECT_EQ(toStdBytes(p.options.memoryMapSegments), "FLASH RX 0x0 0x1000");
  EXPECT_EQ(toStdBytes(p.options.outputFile), "out.ld");
}

TEST(ParseCommandLine, OptionArgumentIsTakenWhateverItLooksLike) {
  Parsed p = parse({"-memory-map-file", "-verbose", "out.ld"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(toStdBytes(p.options.memoryMapFile), "-verbose");
  EXPECT_FALSE(p.options.verbose);
  EXPECT_EQ(toStdBytes(p.options.outputFile), "out.ld");
}

TEST(ParseCommandLine, LaterFileOptionReplacesEarlier) {
  Parsed p = parse({"-memory-map-file", "a.xml", "-memory-map-file", "b.xml", "-memory-map-segments",
                    "x", "-memory-map-segments", "y", "out.ld"});
  EXPECT_EQ(toStdBytes(p.options.memoryMapFile), "b.xml");
  EXPECT_EQ(toStdBytes(p.options.memoryMapSegments), "y");
}

TEST(ParseCommandLine, Errors) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"-Verbose"}, "unknown option option -Verbose"},
      {{"-foo", "out.ld"}, "unknown option option -foo"},
      {{"-memory-map-file", "m.xml", "out.ld", "-"}, "unknown option option -"},
      {{"x.ld", "-memory-map-file"}, "file required for -memory-map-file"},
      {{"x.ld", "-default-fill-pattern"}, "pattern required for -default-fill-pattern"},
      {{"x.ld", "-memory-map-macros"}, "macro definition required for -memory-map-macros"},
      {{"x.ld", "-memory-map-segments"}, "segment list for -memory-map-segments"},
      {{"x.ld", "-section-placement-file"}, "file required for -section-placement-file"},
      {{"x.ld", "-section-placement-macros"}, "macro definition required for -section-placement-macros"},
      {{"x.ld", "-section-placment-macros"}, "macro definition required for -section-placement-macros"},
      {{"x.ld", "-symbols"}, "symbol definition required for -symbol"},
      {{"x.ld", "-dependency-file"}, "file required for -dependency-file"},
      {{"-dependency-file"}, "file required for -dependency-file"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse(c.args).error, c.message) << c.args.front();
  }
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

TEST(ParseCommandLine, IncompleteCommandLine) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"-verbose"},
      {"-memory-map-file", "m.xml"},
      {"-memory-map-file", "m.xml", "a.ld", "b.ld"},
      {"-memory-map-file", "", "out.ld"},
      {"-memory-map-segments", "", "out.ld"},
  };
  for (const auto& args : cases) {
    EXPECT_FALSE(parse(args).complete);
  }
}

TEST(ParseCommandLine, DependencyFileExtension) {
  Parsed p = parse({"-dependency-file", "-out.d", "-memory-map-file", "m.xml", "out.ld",
                    "-dependency-file", "out.ld.d"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(toStdBytes(p.options.dependencyFile), "out.ld.d");
  EXPECT_EQ(toStdBytes(p.options.outputFile), "out.ld");
  EXPECT_EQ(toStdBytes(parse({"-memory-map-file", "m.xml", "out.ld"}).options.dependencyFile), "");
  // It is no memory-map source.
  EXPECT_FALSE(parse({"-dependency-file", "out.d", "out.ld"}).complete);
}

TEST(ParseCommandLine, EmptyArgumentIsPositional) {
  Parsed p = parse({"-memory-map-file", "m.xml", ""});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(toStdBytes(p.options.outputFile), "");
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
