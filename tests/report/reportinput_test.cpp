// The report's inputs and command line on a small linked program checked
// in beside this file (tests/report/data: small.elf, linked with GNU ld,
// its map file, and ld.lld's map of the same objects): damaged copies of
// the ELF, the object files of both map formats, and whole runs in process.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <functional>

#include "report/elffile.h"
#include "report/objectsizes.h"
#include "report/reportdriver.h"

namespace {

QByteArray data(const char* name) {
  QFile file(QStringLiteral(MKLD_SOURCE_DIR "/tests/report/data/") + QLatin1String(name));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
  return file.readAll();
}

uint32_t field(const QByteArray& elf, int offset, int size) {
  uint32_t value = 0;
  std::memcpy(&value, elf.constData() + offset, static_cast<size_t>(size));  // little-endian host and file
  return value;
}

void setField(QByteArray& elf, int offset, int size, uint32_t value) {
  std::memcpy(elf.data() + offset, &value, static_cast<size_t>(size));
}

TEST(ElfFile, RefusesEveryDamagedCopy) {
  const QByteArray intact = data("small.elf");
  struct Case {
    const char* name;
    std::function<void(QByteArray&)> damage;
    const char* error;  // the start of the text after "input "
  };
  const Case cases[] = {
      {"cut in the ELF header", [](QByteArray& e) { e.truncate(40); }, "is truncated or damaged: the ELF header is incomplete"},
      {"cut in the program headers", [](QByteArray& e) { e.truncate(100); },
       "is truncated or damaged: the program header table (8 entries at offset 52) lies past the end"},
      {"cut in the loaded bytes", [](QByteArray& e) { e.truncate(800); },
       "is truncated or damaged: program header 2 loads bytes past the end of the file"},
      {"cut in the section headers", [](QByteArray& e) { e.chop(200); },
       "is truncated or damaged: the section header table"},
      {"one byte short", [](QByteArray& e) { e.chop(1); }, "is truncated or damaged: the section header table"},
      {"zeroed section headers",
       [](QByteArray& e) {
         const uint32_t offset = field(e, 0x20, 4), size = field(e, 0x2e, 2) * field(e, 0x30, 2);
         std::memset(e.data() + offset, 0, size);
       },
       "is truncated or damaged: it loads bytes but has no allocated sections"},
      {"no section headers", [](QByteArray& e) { setField(e, 0x30, 2, 0), setField(e, 0x20, 4, 0); },
       "is truncated or damaged: it loads bytes but has no allocated sections"},
      {"section headers of the wrong size", [](QByteArray& e) { setField(e, 0x2e, 2, 32); },
       "is truncated or damaged: section header entries are 32 bytes, not 40"},
      {"too many section headers", [](QByteArray& e) { setField(e, 0x30, 2, 0xfeff); },
       "is truncated or damaged: the section header table (65279 entries"},
      {"program headers past the end", [](QByteArray& e) { setField(e, 0x1c, 4, 0xfffffff0); },
       "is truncated or damaged: the program header table"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QByteArray damaged = intact;
    c.damage(damaged);
    QString error;
    EXPECT_FALSE(readElfImage(damaged.constData(), static_cast<size_t>(damaged.size()), QStringLiteral("input"), &error));
    EXPECT_TRUE(error.startsWith(QLatin1String("input ") + QLatin1String(c.error))) << error.toStdString();
  }
}

// The sized symbols as `nm -S` lists them, and the object files of both
// map formats alike (the archive named as each linker writes it).
TEST(ObjectSizes, ReadsSymbolsAndBothMapFormats) {
  const QByteArray image = data("small.elf");
  QString error;
  const std::optional<ElfFile> elf =
      readElfImage(image.constData(), static_cast<size_t>(image.size()), QStringLiteral("small.elf"), &error);
  ASSERT_TRUE(elf) << error.toStdString();
  QStringList symbols;
  for (const ElfSymbol& symbol : elf->symbols) {
    symbols.append(elf->sections[symbol.section].name + QLatin1Char(' ') + symbol.name + QLatin1Char(' ') +
                   QString::number(symbol.size));
  }
  symbols.sort();
  EXPECT_EQ(symbols.join(QLatin1Char(',')).toStdString(),
            ".aligned aligned_word 4,.bss small_zero 4,.bss zeroes 256,.data buffer 256,.data counter 4,"
            ".data small_constant 4,.fast fast_add 4,.rodata small_lib_table 40,.rodata table 16,"
            ".text _start 92,.text lib_function 24,.vectors vectors 8");
  for (const auto& [map, library] : {std::pair{"small-gnu.map", "./libsmallnog.a"}, {"small-lld.map", "libsmallnog.a"}}) {
    SCOPED_TRACE(map);
    QStringList objects;
    for (const ObjectUsage& object : objectsFromMapFile(data(map), QLatin1String(map), *elf, &error))
      objects.append(object.library + QLatin1Char(' ') + object.object + QLatin1Char(' ') + object.section +
                     QLatin1Char(' ') + QString::number(object.size));
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(objects.join(QLatin1Char(',')),
              QStringLiteral(" program.o .vectors 8, program.o .text 92, program.o .rodata 16, program.o .data 264,"
                             " program.o .bss 260, program.o .fast 4, program.o .aligned 4,%1 lib_nog.o .text 24,"
                             "%1 lib_nog.o .rodata 40")
                  .arg(QLatin1String(library)));
  }
  objectsFromMapFile("not a map", QStringLiteral("x.map"), *elf, &error);
  EXPECT_EQ(error, QStringLiteral("x.map is not a map file of GNU ld or ld.lld"));
}

// Whole runs: exit status, the error lines, and a line of the standard output.
TEST(ReportRun, LimitsOverflowAndComparison) {
  QTemporaryDir dir;
  const QString elf = QStringLiteral(MKLD_SOURCE_DIR "/tests/report/data/small.elf");
  const QString json = dir.filePath(QStringLiteral("old.json"));
  const QString segments = QStringLiteral("FLASH RX 0x08000000 0x1000;RAM RW 0x20000000 0x4000");
  // Without a placement only the blocks reaching over the end count: .data's load image.
  const QString overflowing = QStringLiteral("FLASH RX 0x08000000 0x200;RAM RW 0x20000000 0x4000");
  const char* overflowError = "error: FLASH overflows by 140 bytes: it holds 644 of 512 bytes (125.8%)\n";
  struct Case {
    QStringList arguments;
    int status;
    const char* errors;
    const char* output;  // a line the table must hold
  };
  const Case cases[] = {
      {{QStringLiteral("-json"), json}, 0, "", "FLASH    0x08000000   4096   384   268         0   3444         3324  [##==................]  15.9%"},
      {{QStringLiteral("-limit"), QStringLiteral("RAM=1e1")}, 1,
       "error: -limit wants SEGMENT=PERCENT with a percent from 0 to 100 in decimal digits, not RAM=1e1\n", ""},
      {{QStringLiteral("-limit"), QStringLiteral("=50")}, 1,
       "error: -limit wants SEGMENT=PERCENT with a percent from 0 to 100 in decimal digits, not =50\n", ""},
      {{QStringLiteral("-limit"), QStringLiteral("ROM=5")}, 1,
       "error: -limit names ROM, which is not a segment; the segments are FLASH, RAM\n", ""},
      {{QStringLiteral("-limit"), QStringLiteral("FLASH=18.75%"), QStringLiteral("-limit"), QStringLiteral("RAM=012.5")}, 1,
       "error: RAM uses 2,064 of 16,384 bytes (12.6%), over its limit of 2,048 bytes (12.5%) by 16 bytes\n", ""},
      {{QStringLiteral("-markdown"), QStringLiteral("x.md")}, 1, "error: -markdown writes the comparison: it needs -compare\n", ""},
      {{QStringLiteral("-map"), QStringLiteral(MKLD_SOURCE_DIR "/tests/report/data/small-lld.map"), QStringLiteral("-top"), QStringLiteral("2")},
       0, "", "  lib_nog.o  libsmallnog.a    64  .text 24, .rodata 40"},
      {{QStringLiteral("-memory-map-segments"), overflowing}, 1, overflowError,
       "FLASH overflows: 644 of 512 bytes used, 140 bytes past its end"},
      {{QStringLiteral("-compare"), json, QStringLiteral("-memory-map-segments"), overflowing}, 1, overflowError,
       "  FLASH      652 (15.9%)   644 (125.8%)      -8\n  RAM      2,064 (12.6%)  2,064 (12.6%)       0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
    QStringList arguments = {QStringLiteral("mkld-report")};
    if (!c.arguments.contains(QStringLiteral("-memory-map-segments")))
      arguments += {QStringLiteral("-memory-map-segments"), segments};
    arguments += c.arguments;
    arguments.append(elf);
    std::vector<QByteArray> bytes;
    std::vector<char*> argv;
    for (const QString& argument : arguments)
      bytes.push_back(argument.toLocal8Bit());
    for (QByteArray& argument : bytes)
      argv.push_back(argument.data());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = runReport(static_cast<int>(argv.size()), argv.data());
    std::fflush(stdout);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.errors);
    EXPECT_EQ(status, c.status);
    EXPECT_NE(output.find(c.output), std::string::npos) << output;
  }
}

}  // namespace
