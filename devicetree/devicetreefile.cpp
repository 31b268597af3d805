#include <QFile>
#include <QProcess>

#include "base/bytes.h"
#include "base/fatalerror.h"
#include "devicetree/devicetree.h"

namespace {

bool isFlattened(const QByteArray& bytes) { return bytes.startsWith(QByteArray("\xd0\x0d\xfe\xed", 4)); }

// -@ keeps the labels (the __symbols__ node) that name the regions; -q keeps
// dtc's warnings about the source out of mkld's messages.
QByteArray compileSource(const QString& path) {
  QProcess dtc;
  dtc.start(QStringLiteral("dtc"), {QStringLiteral("-q"), QStringLiteral("-@"), QStringLiteral("-I"),
                                    QStringLiteral("dts"), QStringLiteral("-O"), QStringLiteral("dtb"),
                                    QStringLiteral("-o"), QStringLiteral("-"), nativePath(path)});
  dtc.closeWriteChannel();
  if (!dtc.waitForStarted(-1))
    throw FatalError(QLatin1String("cannot read ") + path +
                     QLatin1String(": a .dts needs dtc, which is not installed (or give a .dtb)"));
  dtc.waitForFinished(-1);
  const QByteArray blob = dtc.readAllStandardOutput();
  if (dtc.exitStatus() != QProcess::NormalExit || dtc.exitCode() != 0 || !isFlattened(blob)) {
    const QString why = fromBytes(dtc.readAllStandardError()).trimmed().replace(QLatin1Char('\n'),
                                                                               QLatin1String("; "));
    throw FatalError(QLatin1String("dtc cannot compile ") + path + QLatin1String(": ") + why);
  }
  return blob;
}

}  // namespace

QByteArray readDeviceTreeFile(const QString& path) {
  QFile file(nativePath(path));
  if (!file.open(QIODevice::ReadOnly))
    throw FatalError(QLatin1String("cannot read ") + path + QLatin1String(": ") + file.errorString());
  const QByteArray bytes = file.readAll();
  if (isFlattened(bytes))
    return bytes;
  if (path.endsWith(QLatin1String(".dts")))
    return compileSource(path);
  throw FatalError(path + QLatin1String(": not a flattened devicetree (and not named .dts)"));
}
