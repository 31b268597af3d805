#include "memorymap/memorymap.h"
#include "memorymap/sectionattributes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace {

// One line per element in document order: "Tag name start size" with the
// resolved numbers in hex; depth shown by leading dots.
std::string resolvedText(const MemoryMap& map) {
  std::string text;
  std::vector<std::pair<const XMLNode*, int>> pending;
  if (map.rootElement())
    pending.emplace_back(map.rootElement(), 0);
  while (!pending.empty()) {
    auto [node, depth] = pending.back();
    pending.pop_back();
    const auto* element = static_cast<const MemoryMapElement*>(node);
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, " %x %x", element->start(), element->size());
    const std::string* name = element->attribute("name");
    text += std::string(depth, '.') + element->tagName() + (name ? " " + *name : "") + numbers + "\n";
    std::vector<const XMLNode*> children;
    for (const XMLNode* child = node->firstChild(); child; child = child->nextSibling()) {
      if (child->type() == XMLNode::Type::Element)
        children.push_back(child);
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it)
      pending.emplace_back(*it, depth + 1);
  }
  return text;
}

std::string names(const QList<MemoryMapElement*>& elements) {
  std::string text;
  for (const MemoryMapElement* element : elements)
    text += (text.empty() ? "" : " ") + toStdBytes(element->name());
  return text;
}

class TempFiles {
public:
  QString write(const QString& name, const std::string& content) {
    const QString path = dir_.path() + QLatin1Char('/') + name;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content.data(), static_cast<qint64>(content.size()));
    return path;
  }
  QString path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }

private:
  QTemporaryDir dir_;
};

TEST(MemoryMapResolve, StartsAndSizes) {
  struct Case {
    const char* xml;
    const char* resolved;
  };
  const Case cases[] = {
      {R"x(<Root><MemorySegment name="FLASH" start="0x08000000" size="0x80000"/></Root>)x",
       "Root 0 0\n.MemorySegment FLASH 8000000 80000\n"},
      // Relative starts add the enclosing segment's start; absolute ones do not.
      {R"x(<Root><MemorySegment name="F" start="0x08000000">
            <ProgramSection name="a" start="+0x100"/><ProgramSection name="b" start="0x100"/>
          </MemorySegment></Root>)x",
       "Root 0 0\n.MemorySegment F 8000000 0\n..ProgramSection a 8000100 0\n..ProgramSection b 100 0\n"},
      // Register groups are bases; registers are not; bit fields resolve against 0.
      {R"x(<Root><MemorySegment name="P" start="0x40000000">
            <RegisterGroup name="G" start="+0x10" size="0x20">
              <Register name="R" start="+4" size="0x10"><BitField name="B" start="+3" size="0X10"/>
              <Register name="N" start="+1"/></Register>
            </RegisterGroup></MemorySegment></Root>)x",
       "Root 0 0\n.MemorySegment P 40000000 0\n..RegisterGroup G 40000010 20\n"
       "...Register R 40000014 10\n....BitField B 3 848\n....Register N 40000011 0\n"},
      // 32-bit wrap-around, failed evaluations, empty texts; text after a
      // complete expression is ignored, so 16K is 16.
      {R"x(<Root><MemorySegment name="W" start="0x100000000" size="0x1ffffffff"/>
          <MemorySegment name="T" start="0xffffff00"><ProgramSection name="s" start="+0x200"/></MemorySegment>
          <MemorySegment name="E" start="FLASH_START" size="16K"/>
          <MemorySegment name="R" start="+FOO" size=""/>
          <MemorySegment name="X" start="" size="1+"/></Root>)x",
       "Root 0 0\n.MemorySegment W 0 ffffffff\n.MemorySegment T ffffff00 0\n"
       "..ProgramSection s 100 0\n.MemorySegment E 0 10\n.MemorySegment R 0 0\n.MemorySegment X 0 0\n"},
      // Expressions, and the integer literal rule for register sizes: it reads
      // every character as a digit until U or L, so 1+1 is 1*10 + ('+'-'A'+10), then *10 + 1.
      {R"x(<Root start="0x10" size="0x10"><MemorySegment name="M" start="0x1000 + 2*0x100" size="(64*1024)-0x400">
            <Register name="a" size="020"/><Register name="b" size="0x10UL"/><Register name="c" size="1+1"/>
          </MemorySegment></Root>)x",
       "Root 0 0\n.MemorySegment M 1200 fc00\n..Register a 0 10\n..Register b 0 10\n..Register c 0 ffffffed\n"},
      // Unknown elements pass the base through; Processor and Vector resolve nothing.
      {R"x(<Root><MemorySegment name="S" start="0x2000"><Group><Processor start="1" size="2">
            <ProgramSection name="p" start="+8"/></Processor></Group></MemorySegment></Root>)x",
       "Root 0 0\n.MemorySegment S 2000 0\n..Group 0 0\n...Processor 0 0\n....ProgramSection p 2008 0\n"},
  };
  for (const Case& c : cases) {
    MemoryMap map;
    ASSERT_TRUE(map.loadString(fromBytes(c.xml))) << c.xml;
    EXPECT_EQ(resolvedText(map), c.resolved) << c.xml;
  }
}

TEST(SectionAttributes, AbsentEmptyAndSet) {
  MemoryMap map;
  ASSERT_TRUE(map.loadString(fromBytes(
      R"x(<Root><ProgramSection name="set" start="1" size="2" alignment="0b100" address_symbol="a"
            end_symbol="e" size_symbol="s" runin="r" runoffset="o" access="ReadOnly"
            inputsections="*(x)" load="yES" fill="0xff" keep="YES" place_from_segment_end="yes"/>
          <ProgramSection name="" start="" size="" alignment="" address_symbol="" end_symbol=""
            size_symbol="" runin="" runoffset="" access="" inputsections="" load="" fill="" keep=""
            place_from_segment_end=""/>
          <ProgramSection/>
          <ProgramSection access="readonly" load="1" keep="Y" alignment="04" place_from_segment_end="yes "/></Root>)x")));
  QList<MemoryMapElement*> all;
  for (XMLNode* child = map.rootElement()->firstChild(); child; child = child->nextSibling())
    all.append(static_cast<MemoryMapElement*>(child));
  ASSERT_EQ(all.size(), 4);

  auto flags = [](const MemoryMapElement* e) {
    const SectionAttributes a(*e);
    std::string f;
    for (bool b : {a.hasStart(), a.hasSize(), a.hasAlignment(), a.addressSymbol != nullptr,
                   a.endSymbol != nullptr, a.sizeSymbol != nullptr, a.runIn != nullptr, a.runOffset != nullptr,
                   e->isReadOnly(), a.hasInputSections(), a.isLoad(), a.fill != nullptr, a.isKeep(),
                   a.wantsSegmentEnd()})
      f += b ? '1' : '0';
    return f;
  };
  EXPECT_EQ(flags(all[0]), "11111111111111");
  // Empty values: present for the plain pointers, absent for the non-empty ones.
  EXPECT_EQ(flags(all[1]), "00011111000100");
  EXPECT_EQ(flags(all[2]), "00000000000000");
  EXPECT_EQ(flags(all[3]), "00100000000000");

  const SectionAttributes set(*all[0]);
  EXPECT_EQ(toStdBytes(all[0]->name()) + *set.start + *set.size + *set.addressSymbol + *set.endSymbol +
                *set.sizeSymbol + *set.runIn + *set.runOffset + *set.inputSections + *set.fill,
            "set12aesro*(x)0xff");
  EXPECT_EQ(set.alignmentValue, 4u);
  EXPECT_EQ(SectionAttributes(*all[3]).alignmentValue, 4u);
  EXPECT_EQ(SectionAttributes(*all[2]).alignmentValue, 0u);
  EXPECT_TRUE(all[2]->name().isEmpty());
}

TEST(SectionAttributes, AlignmentUsesTheIntegerLiteralRule) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"4", 4}, {"0x4", 4}, {"04", 4}, {"0b100", 4}, {"0x10UL", 16}, {"0X10", 2120},
      {" 8", 8}, {"-1", 0xffffffff}, {"0x", 0}, {"  ", 0}, {"12abc", 12 * 1000 + 10 * 100 + 11 * 10 + 12},
  };
  for (const auto& [text, value] : cases) {
    MemoryMap map;
    ASSERT_TRUE(map.loadString(fromBytes(std::string("<ProgramSection alignment=\"") + text + "\"/>")));
    EXPECT_EQ(SectionAttributes(*map.rootElement()).alignmentValue, value) << text;
  }
}

TEST(MemoryMapQueries, Orders) {
  MemoryMap map;
  ASSERT_TRUE(map.loadString(fromBytes(
      R"x(<Root><MemorySegment name="A"><ProgramSection name="a1"/>
            <MemorySegment name="inner"><ProgramSection name="a2"><ProgramSection name="nested"/></ProgramSection></MemorySegment>
            <Wrapper><ProgramSection name="a3"/></Wrapper></MemorySegment>
          <Unknown><MemorySegment name="B"/></Unknown>
          <MemorySegment name="C"/><MemorySegment name="A"/></Root>)x")));
  EXPECT_EQ(names(map.memorySegments(true)), "A C B A");
  EXPECT_EQ(names(map.memorySegments(false)), "A B C A");
  MemoryMapElement* a = map.memorySegments(false).first();
  EXPECT_EQ(names(map.programSections(a)), "a1 a2 a3");
  EXPECT_EQ(map.findSegment(QStringLiteral("A")), a);
  EXPECT_EQ(toStdBytes(map.findSegment(QStringLiteral("inner"))->name()), "inner");
  EXPECT_EQ(toStdBytes(map.findSegment(QStringLiteral("B"))->name()), "B");
  EXPECT_EQ(map.findSegment(QStringLiteral("a")), nullptr);
  EXPECT_EQ(map.findSegment(QString()), nullptr);
}

TEST(MemoryMapQueries, RootThatIsASegment) {
  MemoryMap map;
  ASSERT_TRUE(map.loadString(fromBytes(R"x(<MemorySegment name="only"><MemorySegment name="x"/></MemorySegment>)x")));
  EXPECT_EQ(names(map.memorySegments(true)), "only");
}

TEST(MemoryMapLoad, FailuresLeaveNoRoot) {
  TempFiles files;
  const std::pair<const char*, std::string> cases[] = {
      {"empty.xml", ""},
      {"blank.xml", "  \n\t "},
      {"unclosed.xml", "<Root><MemorySegment name=\"A\"/>"},
      {"bad.xml", "<Root 1a=\"x\"/>"},
      {"mismatch.xml", "<Root><A></B></Root>"},
  };
  for (const auto& [name, content] : cases) {
    MemoryMap map;
    EXPECT_FALSE(map.loadFile(files.write(QLatin1String(name), content), QString(), true)) << name;
    EXPECT_EQ(map.rootElement(), nullptr) << name;
  }
  MemoryMap missing;
  EXPECT_FALSE(missing.loadFile(files.path(QStringLiteral("missing.xml")), QString(), true));
  MemoryMap directory;
  EXPECT_FALSE(directory.loadFile(files.path(QString()), QString(), true));
}

TEST(MemoryMapLoad, MacrosFromTheListAndBuiltinsInThePath) {
  TempFiles files;
  files.write(QStringLiteral("map-linux.xml"),
              R"x(<Root><MemorySegment name="$(NAME)" start="$(BASE:0x100)" size="$(SIZE)"/></Root>)x");
  MemoryMap map;
  ASSERT_TRUE(map.loadFile(files.path(QStringLiteral("map-$(HostOS).xml")),
                           QStringLiteral("NAME=RAM;SIZE=0x20 * 2"), true));
  EXPECT_EQ(resolvedText(map), "Root 0 0\n.MemorySegment RAM 100 40\n");
  EXPECT_EQ(toStdBytes(map.filePath), toStdBytes(files.path(QStringLiteral("map-$(HostOS).xml"))));

  // List macros do not expand in the path.
  MemoryMap viaList;
  EXPECT_FALSE(viaList.loadFile(files.path(QStringLiteral("map-$(OS).xml")), QStringLiteral("OS=linux"), true));

  // Without preprocessing references stay as written and do not evaluate.
  MemoryMap raw;
  ASSERT_TRUE(raw.loadFile(files.path(QStringLiteral("map-linux.xml")), QStringLiteral("NAME=RAM"), false));
  EXPECT_EQ(resolvedText(raw), "Root 0 0\n.MemorySegment $(NAME) 0 0\n");
}

TEST(MemoryMapImport, ReplacesTopLevelImports) {
  TempFiles files;
  files.write(QStringLiteral("sub/segments.xml"),
              R"x(<Root name="imported"><MemorySegment name="RAM" start="0x20000000" size="0x1000"/></Root>)x");
  const QString main = files.write(
      QStringLiteral("main.xml"),
      R"x(<Root><MemorySegment name="FLASH" start="0"><Import filename="sub/segments.xml"/></MemorySegment>
           <Import filename="sub/segments.xml"/><Import filename="missing.xml"/><Import/>
           <MemorySegment name="LAST"/></Root>)x");
  MemoryMap map;
  ASSERT_TRUE(map.loadFile(main, QString(), true));
  // The nested Import stays; the top-level one is replaced; missing ones stay.
  EXPECT_EQ(resolvedText(map),
            "Root 0 0\n.MemorySegment FLASH 0 0\n..Import 0 0\n.Root imported 0 0\n"
            "..MemorySegment RAM 20000000 1000\n.Import 0 0\n.Import 0 0\n.MemorySegment LAST 0 0\n");
  EXPECT_EQ(names(map.memorySegments(true)), "LAST RAM FLASH");
  ASSERT_NE(map.findSegment(QStringLiteral("RAM")), nullptr);
}

TEST(MemoryMapImport, StopsAtTheFirstNonElementChild) {
  TempFiles files;
  files.write(QStringLiteral("seg.xml"), R"x(<Root><MemorySegment name="IMPORTED"/></Root>)x");
  const QString main = files.write(
      QStringLiteral("main.xml"),
      R"x(<Root><Import filename="seg.xml"/><![CDATA[x]]><Import filename="seg.xml"/></Root>)x");
  MemoryMap map;
  ASSERT_TRUE(map.loadFile(main, QString(), true));
  EXPECT_EQ(names(map.memorySegments(false)), "IMPORTED");
}

TEST(MemoryMapImport, FileAndImportsShareOneBudget) {
  TempFiles files;
  // Each read of part.xml creates 4 iterations of 1 unit plus 1 element.
  files.write(QStringLiteral("part.xml"),
              R"x(<Root><for index="i" start="0" end="4" incr="1"><MemorySegment name="P$(i)"/></for></Root>)x");
  const QString twice = files.write(QStringLiteral("twice.xml"),
                                    R"x(<Root><Import filename="part.xml"/><Import filename="part.xml"/></Root>)x");
  MemoryMap map;
  map.limits.maxCreatedElements = 12;
  // One import fits, the second passes the budget: the whole load fails
  // rather than giving a map without it.
  EXPECT_FALSE(map.loadFile(twice, QString(), true));
  EXPECT_EQ(map.rootElement(), nullptr);
  // The next load starts with the full budget again.
  EXPECT_EQ(map.limits.maxCreatedElements, 12u);
  map.limits.maxCreatedElements = 16;
  ASSERT_TRUE(map.loadFile(twice, QString(), true));
  EXPECT_EQ(names(map.memorySegments(false)), "P0 P1 P2 P3 P0 P1 P2 P3");
}

TEST(MemoryMapImport, ExpansionBudgetCoversImports) {
  TempFiles files;
  files.write(QStringLiteral("part.xml"), R"x(<Root><MemorySegment name="$(N)$(N)"/></Root>)x");
  const QString main = files.write(QStringLiteral("main.xml"),
                                   R"x(<Root x="$(N)"><Import filename="part.xml"/></Root>)x");
  MemoryMap map;
  map.limits.maxExpandedCharacters = 20;
  // "$(N)" costs 4 + 3 characters and "$(N)$(N)" 8 + 6: 21 in all.
  EXPECT_FALSE(map.loadFile(main, QStringLiteral("N=abc"), true));
  map.limits.maxExpandedCharacters = 21;
  ASSERT_TRUE(map.loadFile(main, QStringLiteral("N=abc"), true));
  EXPECT_EQ(names(map.memorySegments(false)), "abcabc");
}

TEST(MemoryMapImport, RelativeToWorkingDirectoryAfterLoadString) {
  TempFiles files;
  files.write(QStringLiteral("cwd-import.xml"), R"x(<Root><MemorySegment name="FROM_CWD"/></Root>)x");
  const QString saved = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(files.path(QString())));
  MemoryMap map;
  const bool loaded = map.loadString(QStringLiteral(R"x(<Root><Import filename="cwd-import.xml"/></Root>)x"));
  QDir::setCurrent(saved);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(names(map.memorySegments(false)), "FROM_CWD");
}

TEST(MemoryMapExamples, BundledFilesResolve) {
  const QString dir = QStringLiteral(MKLD_TEST_DATA_DIR "/../examples/riscv-mcu/");
  MemoryMap map;
  ASSERT_TRUE(map.loadFile(dir + QStringLiteral("memory-map.xml"), QStringLiteral("RAM_SIZE=0x8000"), true));
  EXPECT_EQ(resolvedText(map),
            "Root RV32 MCU 0 0\n"
            ".MemorySegment FLASH 20000000 40000\n"
            ".MemorySegment RAM 80000000 8000\n"
            ".MemorySegment PERIPHERALS 10000000 10000000\n"
            "..RegisterGroup UART0 10013000 1000\n"
            "...Register TXDATA 10013000 4\n"
            "....BitField DATA 0 8\n"
            "....BitField FULL 1f 1\n"
            "...Register RXDATA 10013004 4\n"
            "...Register TXCTRL 10013008 4\n"
            "...Register RXCTRL 1001300c 4\n"
            "...Register DIV 10013018 4\n");
  EXPECT_TRUE(map.findSegment(QStringLiteral("FLASH"))->isReadOnly());
  EXPECT_FALSE(map.findSegment(QStringLiteral("RAM"))->isReadOnly());

  MemoryMap placement;
  ASSERT_TRUE(placement.loadFile(dir + QStringLiteral("placement.xml"), QStringLiteral("DEBUG"), true));
  QList<MemoryMapElement*> segments = placement.memorySegments(true);
  EXPECT_EQ(names(segments), "RAM FLASH");
  EXPECT_EQ(names(placement.programSections(segments[0])), ".data_run .bss .trace .heap .stack");
  EXPECT_EQ(names(placement.programSections(segments[1])), ".vectors .init .text .rodata .data");
  EXPECT_EQ(*SectionAttributes(*placement.programSections(segments[0]).last()).size, "0x800");

  MemoryMap release;
  ASSERT_TRUE(release.loadFile(dir + QStringLiteral("placement.xml"), QStringLiteral("STACK_SIZE=0x400"), true));
  QList<MemoryMapElement*> ram = release.programSections(release.memorySegments(true)[0]);
  EXPECT_EQ(names(ram), ".data_run .bss .heap .stack");
  EXPECT_EQ(*SectionAttributes(*ram.last()).size, "0x400");
}

}  // namespace
