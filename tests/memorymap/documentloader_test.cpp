#include "memorymap/documentloader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "support/casefile.h"
#include "xml/loadcontext.h"

namespace {

// One line per element in document order: "Tag name start size" with the
// resolved numbers in hex; depth shown by leading dots.
std::string resolvedText(const Document& document) {
  std::string text;
  std::vector<std::pair<const XMLNode*, int>> pending;
  if (document.rootElement())
    pending.emplace_back(document.rootElement(), 0);
  while (!pending.empty()) {
    auto [node, depth] = pending.back();
    pending.pop_back();
    const auto* element = static_cast<const MemoryMapElement*>(node);
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, " %x %x", element->start(), element->size());
    const std::string_view* name = element->attribute("name");
    text += std::string(depth, '.') + std::string(element->tagName()) + (name ? " " + std::string(*name) : "") +
            numbers + "\n";
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

class Load : public testing::Test {
protected:
  QString write(const QString& name, const std::string& content) {
    const QString path = this->path(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content.data(), static_cast<qint64>(content.size()));
    return path;
  }
  QString path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }
  std::optional<MemoryMap> load(const QString& name, const QString& macros = QString()) {
    return loadMemoryMap(context_, path(name), macros);
  }

  QTemporaryDir dir_;
  Diagnostics diagnostics_{false};
  LoadLimits limits_;
  LoadContext context_{diagnostics_, limits_};
};

class Resolves : public Load, public testing::WithParamInterface<TestCase> {};

TEST_P(Resolves, StartsAndSizes) {
  write(QStringLiteral("map.xml"), GetParam().get("xml"));
  const std::optional<MemoryMap> map = load(QStringLiteral("map.xml"));
  ASSERT_TRUE(map);
  EXPECT_EQ(resolvedText(*map), GetParam().get("resolved"));
}

INSTANTIATE_TEST_SUITE_P(Table, Resolves,
                         testing::ValuesIn(readCases(MKLD_TEST_DATA_DIR "/memorymap/resolve_cases.txt")),
                         CaseName());

// A failed load reports the plain error and counts it; every file read is
// listed, also one that did not parse, since fixing it changes the result.
TEST_F(Load, FailuresAreErrorsAndFilesReadAreListed) {
  const struct {
    const char* name;
    const char* content;  // null: no such file ("" names the folder)
  } cases[] = {
      {"empty.xml", ""},
      {"blank.xml", "  \n\t "},
      {"unclosed.xml", "<Root><MemorySegment name=\"A\"/>"},
      {"bad.xml", "<Root 1a=\"x\"/>"},
      {"mismatch.xml", "<Root><A></B></Root>"},
      {"missing.xml", nullptr},
      {"", nullptr},
  };
  QStringList read;
  std::size_t errors = 0;
  testing::internal::CaptureStderr();
  for (const auto& [name, content] : cases) {
    if (content)
      read.append(write(QLatin1String(name), content));
    EXPECT_FALSE(load(QLatin1String(name))) << name;
    EXPECT_GT(diagnostics_.errorCount(), errors) << name;
    errors = diagnostics_.errorCount();
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr().substr(0, 37), "error: cannot load memory map file\ner");
  EXPECT_EQ(context_.filesRead(), read);
}

TEST_F(Load, MacrosFromTheListAndBuiltinsInThePath) {
  write(QStringLiteral("map-linux.xml"),
        R"x(<Root><MemorySegment name="$(NAME)" start="$(BASE:0x100)" size="$(SIZE)"/></Root>)x");
  const std::optional<MemoryMap> map =
      load(QStringLiteral("map-$(HostOS).xml"), QStringLiteral("NAME=RAM;SIZE=0x20 * 2"));
  ASSERT_TRUE(map);
  EXPECT_EQ(resolvedText(*map), "Root 0 0\n.MemorySegment RAM 100 40\n");
  // List macros do not expand in the path.
  testing::internal::CaptureStderr();
  EXPECT_FALSE(load(QStringLiteral("map-$(OS).xml"), QStringLiteral("OS=linux")));
  testing::internal::GetCapturedStderr();
}

TEST_F(Load, ReplacesTopLevelImportsUpToTheFirstNonElement) {
  write(QStringLiteral("sub/segments.xml"),
        R"x(<Root name="imported"><MemorySegment name="RAM" start="0x20000000" size="0x1000"/></Root>)x");
  write(QStringLiteral("main.xml"),
        R"x(<Root><MemorySegment name="FLASH" start="0"><Import filename="sub/segments.xml"/></MemorySegment>
           <Import filename="sub/segments.xml"/><Import filename="missing.xml"/><Import/>
           <MemorySegment name="LAST"/><![CDATA[x]]><Import filename="sub/segments.xml"/></Root>)x");
  const std::optional<MemoryMap> map = load(QStringLiteral("main.xml"));
  ASSERT_TRUE(map);
  // The nested Import stays; the top-level one is replaced; missing ones
  // and those after the CDATA section stay.
  EXPECT_EQ(resolvedText(*map),
            "Root 0 0\n.MemorySegment FLASH 0 0\n..Import 0 0\n.Root imported 0 0\n"
            "..MemorySegment RAM 20000000 1000\n.Import 0 0\n.Import 0 0\n.MemorySegment LAST 0 0\n.Import 0 0\n");
  EXPECT_EQ(names(map->memorySegments(true)), "LAST RAM FLASH");
  EXPECT_NE(map->findSegment(QStringLiteral("RAM")), nullptr);
}

// A file and its imports share the budgets of one document; the next
// document starts afresh.
TEST_F(Load, FileAndImportsShareOneBudget) {
  // Each read of part.xml creates 4 iterations of 1 unit plus 1 element, and
  // expands "$(N)" (4 + 3 characters) four times.
  write(QStringLiteral("part.xml"),
        R"x(<Root><for index="i" start="0" end="4" incr="1"><MemorySegment name="P$(i)"/></for></Root>)x");
  write(QStringLiteral("twice.xml"), R"x(<Root><Import filename="part.xml"/><Import filename="part.xml"/></Root>)x");
  const struct {
    std::uint64_t elements;
    bool loads;
  } cases[] = {{12, false}, {16, true}, {16, true}};
  for (const auto& c : cases) {
    LoadLimits limits;
    limits.maxCreatedElements = c.elements;
    Diagnostics diagnostics(false);
    LoadContext context(diagnostics, limits);
    testing::internal::CaptureStderr();
    const std::optional<MemoryMap> map = loadMemoryMap(context, path(QStringLiteral("twice.xml")), QString());
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(map.has_value(), c.loads) << c.elements;
    if (map) {
      EXPECT_EQ(names(map->memorySegments(false)), "P0 P1 P2 P3 P0 P1 P2 P3");
    }
  }
}

// -memory-map-segments: the last entry of a name counts, in reverse order,
// and the fields are taken as they are.
TEST_F(Load, SegmentListBuildsTheMapDirectly) {
  const MemoryMap map = memoryMapOfSegments(
      context_, QStringLiteral("FLASH RX 0x0 0x1000;RAM RW 0x20000000 4*1024;bad;FLASH R 0x100 0x10;X\"< Q 1 2"));
  EXPECT_EQ(resolvedText(map),
            "Root none 0 0\n.MemorySegment X\"< 1 2\n.MemorySegment FLASH 100 10\n.MemorySegment RAM 20000000 1000\n");
  EXPECT_TRUE(map.findSegment(QStringLiteral("FLASH"))->isReadOnly());
  EXPECT_FALSE(map.findSegment(QStringLiteral("RAM"))->isReadOnly());
  EXPECT_EQ(map.findSegment(QStringLiteral("X\"<"))->attribute("access"), nullptr);
}

}  // namespace
