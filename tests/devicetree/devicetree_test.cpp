// Golden cases: each cases/NAME.dts is compiled with dtc and read; its
// regions, one "name start size access path" line each, or the error line,
// must equal cases/NAME.expected. A cases/NAME.names file holds a
// -memory-map-dtb-names mapping for the case.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "base/bytes.h"
#include "base/fatalerror.h"
#include "devicetree/devicetree.h"
#include "devicetree/regionnames.h"
#include "support/casefile.h"

namespace {

const QString kCases = QStringLiteral(MKLD_TEST_DATA_DIR "/devicetree/cases/");

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::string regionsText(const QString& name) {
  try {
    const QString source = kCases + name + QStringLiteral(".dts");
    const std::vector<DeviceTreeRegion> regions = mapRegionNames(
        readDeviceTreeRegions(readDeviceTreeFile(source), name + QStringLiteral(".dtb")),
        fromBytes(readAll(kCases + name + QStringLiteral(".names")).trimmed()));
    QString text;
    for (const DeviceTreeRegion& r : regions) {
      text += QStringLiteral("%1 0x%2 0x%3 %4 %5\n")
                  .arg(r.name)
                  .arg(r.start, 8, 16, QLatin1Char('0'))
                  .arg(r.size, 8, 16, QLatin1Char('0'))
                  .arg(QLatin1String(r.readOnly ? "ro" : "rw"), r.nodePath);
    }
    return toStdBytes(text);
  } catch (const FatalError& e) {
    return "error: " + toStdBytes(QString(e.diagnostic().plain).remove(kCases)) + "\n";
  }
}

class DeviceTreeCase : public testing::TestWithParam<std::string> {};

TEST_P(DeviceTreeCase, GivesTheExpectedRegions) {
  if (QStandardPaths::findExecutable(QStringLiteral("dtc")).isEmpty())
    GTEST_SKIP() << "dtc is not installed";
  const QString name = QString::fromStdString(GetParam());
  EXPECT_EQ(regionsText(name), readAll(kCases + name + QStringLiteral(".expected")).toStdString());
}

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  for (const QString& file : QDir(kCases).entryList({QStringLiteral("*.dts")}, QDir::Files, QDir::Name))
    names.push_back(file.chopped(4).toStdString());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, DeviceTreeCase, testing::ValuesIn(caseNames()),
                         [](const auto& info) { return CaseName::sanitized(info.param); });

}  // namespace
