#include "base/datadir.h"

#include <QDir>
#include <QFileInfo>

QString dataDir() {
  const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
  const QDir bin = QFileInfo(executable).absoluteDir();
  const QString buildTree = bin.filePath(QStringLiteral("share/mkld"));
  if (QFileInfo(buildTree).isDir())
    return buildTree;
  return QDir::cleanPath(bin.filePath(QStringLiteral("../share/mkld")));
}
