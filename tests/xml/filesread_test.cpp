#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "xml/xmldocument.h"

namespace {

TEST(FilesRead, ListsEveryFileTheLoadsReadInOrder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  auto write = [&](const char* name, const char* content) {
    QFile file(dir.filePath(QLatin1String(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
  };
  write("good.xml", "<Root/>");
  write("broken.xml", "<Root><a></b></Root>");
  write("empty.xml", "   ");
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.xml")));

  QXMLDocument document;
  const QString good = dir.filePath(QStringLiteral("good.xml"));
  const QString broken = dir.filePath(QStringLiteral("broken.xml"));
  const QString empty = dir.filePath(QStringLiteral("empty.xml"));
  EXPECT_TRUE(document.load(good));
  EXPECT_FALSE(document.load(broken));  // read, so a fix must trigger a rebuild
  EXPECT_FALSE(document.load(dir.filePath(QStringLiteral("missing.xml"))));
  EXPECT_FALSE(document.load(dir.filePath(QStringLiteral("folder.xml"))));
  EXPECT_FALSE(document.load(QString::fromLatin1("with\0nul", 8)));
  EXPECT_TRUE(document.load(empty));  // no root, but the file was read
  EXPECT_TRUE(document.load(good));
  EXPECT_EQ(document.filesRead, (QStringList{good, broken, empty, good}));
}

}  // namespace
