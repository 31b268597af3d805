#include "memorymap/memorymap.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "support/casefile.h"

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

class Resolves : public testing::TestWithParam<TestCase> {};

TEST_P(Resolves, StartsAndSizes) {
  MemoryMap map;
  ASSERT_TRUE(map.loadString(fromBytes(GetParam().get("xml"))));
  EXPECT_EQ(resolvedText(map), GetParam().get("resolved"));
}

INSTANTIATE_TEST_SUITE_P(Table, Resolves,
                         testing::ValuesIn(readCases(MKLD_TEST_DATA_DIR "/memorymap/resolve_cases.txt")),
                         CaseName());

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

}  // namespace
