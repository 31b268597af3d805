// The mapping that renames and selects devicetree regions, so that a
// placement file naming FLASH and RAM finds them.
#pragma once

#include <QString>
#include <vector>

#include "devicetree/devicetree.h"

// `mapping` is a list of NAME=REGION items separated by ';' (the command
// line's list syntax). REGION is a region's name or the path of its node (a
// path names the node's first region). Only the regions named keep a place,
// in address order, each under its NAME; an empty mapping keeps all as they
// are. Throws FatalError for an item without '=', a REGION that names no
// region, and two items giving one name or naming one region.
std::vector<DeviceTreeRegion> mapRegionNames(const std::vector<DeviceTreeRegion>& regions, const QString& mapping);
