// The memory regions of a board's devicetree: what a memory map needs from
// it, read from a flattened devicetree (.dtb) with libfdt, or from a .dts
// that dtc compiles first.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

// One memory region in CPU addresses. Regions of one tree never overlap
// and have distinct names.
struct DeviceTreeRegion {
  QString name;
  QString nodePath;  // the node it comes from, for messages
  std::uint32_t start = 0;
  std::uint32_t size = 0;  // never 0
  bool readOnly = false;
};

// Reads the file at `path`: a flattened devicetree as it is, anything else
// whose name ends in ".dts" through dtc (with labels kept). Throws
// FatalError naming the file when it cannot be read or compiled.
QByteArray readDeviceTreeFile(const QString& path);

// The regions of the flattened devicetree `blob`, in address order (the
// rules are in devicetree.cpp and the manual page). `fileName` starts every
// message. Throws FatalError, with the node path, for a malformed tree, a
// reg that does not fit its cells, a region beyond 4 GiB, overlapping
// regions and a name clash.
std::vector<DeviceTreeRegion> readDeviceTreeRegions(const QByteArray& blob, const QString& fileName);
