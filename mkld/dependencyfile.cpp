#include "mkld/dependencyfile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include "base/bytes.h"
#include "base/fatalerror.h"
#include "base/replacingfile.h"

namespace {

// Make reads "\ " as a blank inside a name, "\#" as '#' and "$$" as '$', and
// so does Ninja. Backslashes right before a blank, a '#' or the end of the
// name (which a separator follows) are doubled so that Make keeps them;
// Ninja reads a doubled backslash before a blank as two, but names ending in
// a backslash are too rare to matter.
QString escapeForMake(const QString& name) {
  QString escaped;
  qsizetype pendingBackslashes = 0;
  auto flushBackslashes = [&](bool doubled) {
    escaped += QString(doubled ? 2 * pendingBackslashes : pendingBackslashes, QLatin1Char('\\'));
    pendingBackslashes = 0;
  };
  for (const QChar c : name) {
    if (c == QLatin1Char('\\')) {
      ++pendingBackslashes;
      continue;
    }
    const bool needsBackslash = c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('#');
    flushBackslashes(needsBackslash);
    if (needsBackslash)
      escaped += QLatin1Char('\\');
    if (c == QLatin1Char('$'))
      escaped += QLatin1Char('$');
    escaped += c;
  }
  flushBackslashes(true);
  return escaped;
}

// An include next to a file named without a folder is read as "./name";
// "name" says the same more plainly. ".." is kept: through a symbolic link
// it need not lead back where it came from.
QString withoutLeadingDotSlash(QString name) {
  while (name.startsWith(QLatin1String("./")) && name.size() > 2)
    name.remove(0, 2);
  return name;
}

void checkNameFitsMake(const QString& dependencyFile, const QString& name) {
  if (name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char('\r')))
    throw FatalError(QStringLiteral("cannot write dependency file ") + dependencyFile +
                     QStringLiteral(": a file name contains a line break"));
}

}  // namespace

QByteArray dependencyRule(const QString& dependencyFile, const QString& target,
                          const QStringList& prerequisites) {
  checkNameFitsMake(dependencyFile, target);
  QString rule = escapeForMake(target) + QLatin1Char(':');
  QSet<QString> listed;
  for (const QString& prerequisite : prerequisites) {
    checkNameFitsMake(dependencyFile, prerequisite);
    const QString identity = QDir::cleanPath(QFileInfo(nativePath(prerequisite)).absoluteFilePath());
    if (listed.contains(identity))
      continue;
    listed.insert(identity);
    rule += (listed.size() == 1 ? QStringLiteral(" ") : QStringLiteral(" \\\n  ")) +
            escapeForMake(withoutLeadingDotSlash(prerequisite));
  }
  rule += QLatin1Char('\n');
  return toBytes(rule);
}

void writeDependencyFile(const QString& dependencyFile, const QString& target,
                         const QStringList& prerequisites) {
  const QByteArray rule = dependencyRule(dependencyFile, target, prerequisites);
  ReplacingFile file(dependencyFile);
  if (!file.isOpen() || file.write(rule) != rule.size() || !file.commit().isEmpty())
    throw FatalError(QStringLiteral("cannot write dependency file ") + dependencyFile);
}
