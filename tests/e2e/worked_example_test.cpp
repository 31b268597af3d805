// The worked examples of the manual page and the README run as written: the
// memory map, the placement file and the command they show give a script in
// which every shown excerpt appears, in order. So the documentation cannot
// drift from what mkld writes.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

struct WorkedExample {
  QByteArray memoryMap;  // memory-map.xml
  QByteArray placement;  // placement.xml
  QByteArray command;    // the shell command, possibly continued with backslashes
  QByteArray script;     // excerpt; lines of "  ..." stand for left-out lines
};

QByteArray readSource(const char* relative) {
  QFile file(QStringLiteral(MKLD_SOURCE_DIR "/") + QLatin1String(relative));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << relative;
  return file.readAll();
}

// The text of every block from a line `open` to a line `close` after the
// first line that starts with `section`.
QList<QByteArray> blocksAfter(const QByteArray& text, const QByteArray& section,
                              const QRegularExpression& open, const QByteArray& close) {
  QList<QByteArray> blocks;
  const QList<QByteArray> lines = text.split('\n');
  qsizetype i = 0;
  while (i < lines.size() && !lines[i].startsWith(section))
    ++i;
  for (; i < lines.size(); ++i) {
    if (!open.match(QString::fromLatin1(lines[i])).hasMatch())
      continue;
    QByteArray block;
    for (++i; i < lines.size() && lines[i] != close; ++i)
      block += lines[i] + '\n';
    blocks.append(block);
  }
  return blocks;
}

WorkedExample fromBlocks(const QList<QByteArray>& blocks) {
  if (blocks.size() < 4) {
    ADD_FAILURE() << "expected a memory map, a placement file, a command and a script";
    return {};
  }
  return {blocks[0], blocks[1], blocks[2], blocks[3]};
}

QByteArray unescapeRoff(QByteArray text) {
  text.replace("\\-", "-");
  text.replace("\\&", "");
  text.replace("\\e", "\\");
  return text;
}

void runExample(const WorkedExample& example) {
  QTemporaryDir work;
  ASSERT_TRUE(work.isValid());
  auto write = [&](const char* name, const QByteArray& content) {
    QFile file(work.filePath(QLatin1String(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
  };
  write("memory-map.xml", example.memoryMap);
  write("placement.xml", example.placement);

  QByteArray command = example.command;
  command.replace("\\\n", " ");
  QStringList words =
      QString::fromLatin1(command).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
  ASSERT_FALSE(words.isEmpty());
  ASSERT_EQ(words.takeFirst(), QStringLiteral("mkld"));
  ASSERT_FALSE(words.isEmpty());
  const QString output = words.last();

  QProcess process;
  process.setWorkingDirectory(work.path());
  process.start(QStringLiteral(MKLD_BINARY), words);
  ASSERT_TRUE(process.waitForFinished(60000));
  ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
  EXPECT_EQ(process.readAllStandardError(), QByteArray());

  QFile file(work.filePath(output));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray script = file.readAll();
  qsizetype from = 0;
  QByteArray chunk;
  auto findChunk = [&] {
    if (chunk.isEmpty())
      return;
    const qsizetype at = script.indexOf(chunk, from);
    EXPECT_GE(at, 0) << "not in the script (or out of order):\n" << chunk.constData() << "\nscript:\n"
                     << script.constData();
    if (at >= 0)
      from = at + chunk.size();
    chunk.clear();
  };
  for (const QByteArray& line : example.script.split('\n')) {
    if (line == "  ...")
      findChunk();
    else
      chunk += line + '\n';
  }
  chunk.chop(1);  // the block's last line break may end the file or not
  findChunk();
}

TEST(WorkedExample, ManualPage) {
  const QByteArray manual = unescapeRoff(readSource("doc/mkld.1"));
  runExample(fromBlocks(blocksAfter(manual, ".SH EXAMPLE", QRegularExpression(QStringLiteral("^\\.EX$")),
                                    ".EE")));
}

TEST(WorkedExample, Readme) {
  runExample(fromBlocks(blocksAfter(readSource("README.md"), "## Quick start",
                                    QRegularExpression(QStringLiteral("^```")), "```")));
}

}  // namespace
