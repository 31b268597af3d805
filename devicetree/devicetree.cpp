// Which nodes give regions, how they are named and where they lie:
//   - a node with device_type "memory" or compatible "mmio-sram" is
//     read-write; one compatible with "cfi-flash", "jedec,spi-nor",
//     "mtd-rom" or "soc-nv-flash" is read-only;
//   - a node that /chosen names as zephyr,flash (read-only), zephyr,sram,
//     zephyr,itcm or zephyr,dtcm (read-write) gives a region whatever it
//     is, named FLASH, RAM, ITCM or DTCM;
//   - every other region takes its node's label (from the __symbols__ node
//     that dtc -@ writes) or else its node name, with each character other
//     than a letter, a digit or '_' made '_' (memory@80000000 gives
//     memory_80000000). The second and later reg entries of a node append
//     _1, _2, ...;
//   - reg is read with the parent's #address-cells and #size-cells and
//     carried through the ranges of every bus above it; a node on a bus
//     that does not map to CPU addresses (no ranges on the way up, or
//     #size-cells 0) is not memory-mapped and gives nothing;
//   - a node whose status is neither "okay" nor "ok", or below such a node,
//     gives nothing;
//   - the children of /reserved-memory and the header's reserve entries are
//     cut out of the regions they lie in; the first piece left keeps the
//     name, each later one appends its start address in hexadecimal
//     (RAM_80200000).
#include "devicetree/devicetree.h"

#include <QHash>
#include <algorithm>
#include <cstring>
#include <libfdt.h>
#include <optional>

#include "base/bytes.h"
#include "base/fatalerror.h"

namespace {

constexpr std::uint64_t k4GiB = std::uint64_t(1) << 32;
// Cell counts above this describe no address a CPU has.
constexpr std::uint32_t kMaxCells = 4;

QString hex(std::uint64_t value) { return QStringLiteral("0x") + QString::number(value, 16); }

// One range of a bus: `size` bytes from `busStart` on the bus are the CPU
// addresses from `cpuStart`.
struct Window {
  std::uint64_t busStart;
  std::uint64_t size;
  std::uint64_t cpuStart;
};

// The address space that a node gives its children.
struct Bus {
  std::uint32_t addressCells = 2;
  std::uint32_t sizeCells = 1;
  bool mapped = true;    // false: these addresses reach no CPU address
  bool identity = true;  // the CPU's own addresses (empty ranges all the way up)
  std::vector<Window> windows;
};

// What the walk knows of each node on the path from the root.
struct Level {
  QString path;
  bool disabled = false;
  Bus bus;
};

struct Piece {
  DeviceTreeRegion region;
  std::uint64_t start;
  std::uint64_t size;
};

struct Reserved {
  QString path;
  std::uint64_t start;
  std::uint64_t size;
};

enum class Translation { Ok, Unmapped, Outside };

class TreeReader {
public:
  TreeReader(const void* fdt, QString fileName) : fdt_(fdt), fileName_(std::move(fileName)) {}

  std::vector<DeviceTreeRegion> read();

private:
  [[noreturn]] void fail(const QString& path, const QString& text) const {
    throw FatalError(fileName_ + QLatin1String(": ") + path + QLatin1String(": ") + text);
  }
  QString pathOf(int node) const;
  // The string value of a property, or none when absent; a value that is
  // not one terminated string is an error.
  std::optional<QByteArray> stringProperty(int node, const char* name, const QString& path) const;
  std::uint32_t cellCount(int node, const char* name, std::uint32_t fallback, const QString& path) const;
  // The node at `path` (absolute, or starting with an alias), or a negative
  // libfdt error.
  int nodeAt(const QByteArray& path) const;
  // Reads `count` cells as one number; false when it does not fit 64 bits.
  static bool readCells(const fdt32_t* cells, std::uint32_t count, std::uint64_t& value);

  void readChosen();
  void readLabels();
  Bus childBus(int node, const Level& parent, const QString& path) const;
  static Translation translate(const Bus& bus, std::uint64_t address, std::uint64_t size, std::uint64_t& cpu);
  void readNode(int node, const Level& parent, const Level& self);
  // The reg entries of `node` in CPU addresses, or none when it is not
  // memory-mapped.
  std::optional<std::vector<Window>> regEntries(int node, const Bus& parent, const QString& path) const;
  void checkOverlaps();
  std::vector<DeviceTreeRegion> cutReserved() const;

  const void* fdt_;
  QString fileName_;
  struct Chosen {
    QString name;
    bool readOnly;
  };
  QHash<int, Chosen> chosen_;  // by node offset
  QHash<int, QString> labels_;  // by node offset
  std::vector<Piece> pieces_;
  std::vector<Reserved> reserved_;
};

QString TreeReader::pathOf(int node) const {
  char path[1024];
  if (fdt_get_path(fdt_, node, path, sizeof path) != 0)
    return QStringLiteral("(a node whose path is too long)");
  return fromBytes(path);
}

std::optional<QByteArray> TreeReader::stringProperty(int node, const char* name, const QString& path) const {
  int length = 0;
  const char* value = static_cast<const char*>(fdt_getprop(fdt_, node, name, &length));
  if (!value)
    return std::nullopt;
  if (length <= 0 || value[length - 1] != '\0' || qstrlen(value) != static_cast<uint>(length - 1))
    fail(path, fromBytes(name) + QLatin1String(" is not a string"));
  return QByteArray(value, length - 1);
}

std::uint32_t TreeReader::cellCount(int node, const char* name, std::uint32_t fallback, const QString& path) const {
  int length = 0;
  const auto* value = static_cast<const fdt32_t*>(fdt_getprop(fdt_, node, name, &length));
  if (!value)
    return fallback;
  if (length != 4)
    fail(path, fromBytes(name) + QLatin1String(" is not one cell"));
  const std::uint32_t count = fdt32_ld(value);
  if (count > kMaxCells)
    fail(path, fromBytes(name) + QLatin1String(" is ") + QString::number(count) + QLatin1String(", more than ") +
                   QString::number(kMaxCells));
  return count;
}

// fdt_path_offset follows an alias whose value is again an alias, without
// end: only an absolute path is handed to it.
int TreeReader::nodeAt(const QByteArray& path) const {
  if (path.startsWith('/'))
    return fdt_path_offset(fdt_, path.constData());
  const int aliases = fdt_path_offset(fdt_, "/aliases");
  const qsizetype slash = path.indexOf('/');
  const QByteArray alias = slash < 0 ? path : path.left(slash);
  if (aliases < 0 || alias.isEmpty())
    return -FDT_ERR_BADPATH;
  const std::optional<QByteArray> target = stringProperty(aliases, alias.constData(), QStringLiteral("/aliases"));
  if (!target || !target->startsWith('/'))
    return -FDT_ERR_BADPATH;
  return fdt_path_offset(fdt_, (*target + (slash < 0 ? QByteArray() : path.mid(slash))).constData());
}

bool TreeReader::readCells(const fdt32_t* cells, std::uint32_t count, std::uint64_t& value) {
  value = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (value >> 32)
      return false;
    value = (value << 32) | fdt32_ld(cells + i);
  }
  return true;
}

// zephyr,flash and its kind name the region the firmware runs from and the
// one it works in: named FLASH and RAM, a placement file finds them.
void TreeReader::readChosen() {
  static const struct {
    const char* property;
    const char* name;
    bool readOnly;
  } entries[] = {{"zephyr,flash", "FLASH", true},
                 {"zephyr,sram", "RAM", false},
                 {"zephyr,itcm", "ITCM", false},
                 {"zephyr,dtcm", "DTCM", false}};
  const int node = fdt_path_offset(fdt_, "/chosen");
  if (node < 0)
    return;
  for (const auto& entry : entries) {
    const QString where = QLatin1String("/chosen ") + fromBytes(entry.property);
    const std::optional<QByteArray> target = stringProperty(node, entry.property, QStringLiteral("/chosen"));
    if (!target)
      continue;
    const int named = nodeAt(*target);
    if (named < 0)
      fail(where, QLatin1String("names ") + fromBytes(*target) + QLatin1String(", which is not in the tree"));
    if (!chosen_.contains(named))
      chosen_.insert(named, {fromBytes(entry.name), entry.readOnly});
  }
}

void TreeReader::readLabels() {
  const int symbols = fdt_path_offset(fdt_, "/__symbols__");
  if (symbols < 0)
    return;
  int property = 0;
  fdt_for_each_property_offset(property, fdt_, symbols) {
    const char* label = nullptr;
    int length = 0;
    const char* value = static_cast<const char*>(fdt_getprop_by_offset(fdt_, property, &label, &length));
    if (!value || !label || !*label || length <= 0 || value[length - 1] != '\0')
      continue;  // not a label dtc wrote: the rule's name serves
    const int node = nodeAt(QByteArray(value));
    if (node >= 0 && !labels_.contains(node))
      labels_.insert(node, fromBytes(label));
  }
}

Bus TreeReader::childBus(int node, const Level& parent, const QString& path) const {
  Bus bus;
  bus.addressCells = cellCount(node, "#address-cells", 2, path);
  bus.sizeCells = cellCount(node, "#size-cells", 1, path);
  if (node == 0)
    return bus;  // the root's addresses are the CPU's
  int length = 0;
  const auto* ranges = static_cast<const fdt32_t*>(fdt_getprop(fdt_, node, "ranges", &length));
  const Bus& above = parent.bus;
  if (!ranges || !above.mapped) {
    bus.mapped = false;
    return bus;
  }
  if (length == 0) {
    bus.identity = above.identity;
    bus.windows = above.windows;
    return bus;
  }
  const std::uint32_t entryCells = bus.addressCells + above.addressCells + bus.sizeCells;
  if (entryCells == 0 || length % (4 * entryCells) != 0)
    fail(path, QLatin1String("ranges has ") + QString::number(length / 4) +
                   QLatin1String(" cells, not a whole number of entries of ") + QString::number(entryCells));
  bus.identity = false;
  for (int at = 0; at < length / 4; at += static_cast<int>(entryCells)) {
    std::uint64_t child = 0;
    std::uint64_t parentAddress = 0;
    std::uint64_t size = 0;
    std::uint64_t cpu = 0;
    // An entry beyond 64 bits (a PCI space, say) maps no memory.
    if (!readCells(ranges + at, bus.addressCells, child) ||
        !readCells(ranges + at + bus.addressCells, above.addressCells, parentAddress) ||
        !readCells(ranges + at + bus.addressCells + above.addressCells, bus.sizeCells, size))
      continue;
    if (translate(above, parentAddress, size, cpu) == Translation::Ok && cpu <= ~std::uint64_t(0) - size)
      bus.windows.push_back({child, size, cpu});
  }
  return bus;
}

Translation TreeReader::translate(const Bus& bus, std::uint64_t address, std::uint64_t size, std::uint64_t& cpu) {
  if (!bus.mapped)
    return Translation::Unmapped;
  if (bus.identity) {
    cpu = address;
    return Translation::Ok;
  }
  for (const Window& window : bus.windows) {
    if (address >= window.busStart && address - window.busStart < window.size &&
        size <= window.size - (address - window.busStart)) {
      cpu = window.cpuStart + (address - window.busStart);
      return Translation::Ok;
    }
  }
  return Translation::Outside;
}

std::optional<std::vector<Window>> TreeReader::regEntries(int node, const Bus& parent, const QString& path) const {
  int length = 0;
  const auto* reg = static_cast<const fdt32_t*>(fdt_getprop(fdt_, node, "reg", &length));
  if (!parent.mapped || parent.sizeCells == 0)
    return std::nullopt;
  if (!reg)
    fail(path, QStringLiteral("has no reg"));
  const std::uint32_t entryCells = parent.addressCells + parent.sizeCells;
  if (length == 0 || length % (4 * entryCells) != 0)
    fail(path, QLatin1String("reg has ") + QString::number(length / 4) +
                   QLatin1String(" cells, not a whole number of entries of ") + QString::number(parent.addressCells) +
                   QLatin1String(" address and ") + QString::number(parent.sizeCells) + QLatin1String(" size cells"));
  std::vector<Window> entries;
  for (int at = 0; at < length / 4; at += static_cast<int>(entryCells)) {
    std::uint64_t address = 0;
    std::uint64_t size = 0;
    if (!readCells(reg + at, parent.addressCells, address) ||
        !readCells(reg + at + parent.addressCells, parent.sizeCells, size))
      fail(path, QStringLiteral("reg holds a value wider than 64 bits"));
    std::uint64_t cpu = 0;
    const Translation translation = translate(parent, address, size, cpu);
    if (translation == Translation::Outside)
      fail(path, QLatin1String("reg ") + hex(address) + QLatin1String(" size ") + hex(size) +
                     QLatin1String(" lies outside the ranges of its parent"));
    if (translation == Translation::Unmapped)
      return std::nullopt;
    entries.push_back({address, size, cpu});
  }
  return entries;
}

void TreeReader::readNode(int node, const Level& parent, const Level& self) {
  if (parent.path == QLatin1String("/reserved-memory")) {
    if (self.disabled || !fdt_getprop(fdt_, node, "reg", nullptr))
      return;  // a reservation without a fixed place takes nothing out
    if (const auto entries = regEntries(node, parent.bus, self.path)) {
      for (const Window& entry : *entries)
        reserved_.push_back({self.path, entry.cpuStart, entry.size});
    }
    return;
  }
  const auto chosen = chosen_.constFind(node);
  bool readOnly = false;
  if (chosen != chosen_.constEnd()) {
    readOnly = chosen->readOnly;
  } else if (const std::optional<QByteArray> type = stringProperty(node, "device_type", self.path);
             type && *type == "memory") {
    readOnly = false;
  } else if (fdt_node_check_compatible(fdt_, node, "mmio-sram") == 0) {
    readOnly = false;
  } else if (fdt_node_check_compatible(fdt_, node, "cfi-flash") == 0 ||
             fdt_node_check_compatible(fdt_, node, "jedec,spi-nor") == 0 ||
             fdt_node_check_compatible(fdt_, node, "mtd-rom") == 0 ||
             fdt_node_check_compatible(fdt_, node, "soc-nv-flash") == 0) {
    readOnly = true;
  } else {
    return;
  }
  if (self.disabled) {
    if (chosen != chosen_.constEnd())
      fail(self.path, QLatin1String("is named by /chosen but disabled"));
    return;
  }
  const std::optional<std::vector<Window>> entries = regEntries(node, parent.bus, self.path);
  if (!entries) {
    if (chosen != chosen_.constEnd())
      fail(self.path, QLatin1String("is named by /chosen but not memory-mapped"));
    return;
  }
  QString name;
  if (chosen != chosen_.constEnd()) {
    name = chosen->name;
  } else {
    const auto label = labels_.constFind(node);
    int length = 0;
    name = label != labels_.constEnd() ? *label : fromBytes(QByteArray(fdt_get_name(fdt_, node, &length)));
    for (QChar& c : name) {
      if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('_'))
        c = QLatin1Char('_');
    }
    if (name.isEmpty())
      name = QStringLiteral("unnamed");  // only a hand-made tree has a nameless node
  }
  for (std::size_t i = 0; i < entries->size(); ++i) {
    const Window& entry = (*entries)[i];
    if (entry.size == 0)
      continue;
    if (entry.cpuStart >= k4GiB || entry.size > k4GiB - entry.cpuStart || entry.size == k4GiB)
      fail(self.path, QLatin1String("region ") + hex(entry.cpuStart) + QLatin1String(" size ") + hex(entry.size) +
                          QLatin1String(" reaches beyond 4 GiB, which a 32-bit memory map does not hold"));
    DeviceTreeRegion region;
    region.name = i == 0 ? name : name + QLatin1Char('_') + QString::number(i);
    region.nodePath = self.path;
    region.readOnly = readOnly;
    pieces_.push_back({region, entry.cpuStart, entry.size});
  }
}

void TreeReader::checkOverlaps() {
  std::stable_sort(pieces_.begin(), pieces_.end(),
                   [](const Piece& a, const Piece& b) { return a.start < b.start; });
  for (std::size_t i = 1; i < pieces_.size(); ++i) {
    const Piece& before = pieces_[i - 1];
    const Piece& after = pieces_[i];
    if (after.start < before.start + before.size)
      fail(after.region.nodePath, QLatin1String("region ") + after.region.name + QLatin1String(" at ") +
                                      hex(after.start) + QLatin1String(" overlaps region ") + before.region.name +
                                      QLatin1String(" of ") + before.region.nodePath + QLatin1String(" (") +
                                      hex(before.start) + QLatin1String(" size ") + hex(before.size) +
                                      QLatin1Char(')'));
  }
}

std::vector<DeviceTreeRegion> TreeReader::cutReserved() const {
  std::vector<Reserved> reserved = reserved_;
  std::sort(reserved.begin(), reserved.end(),
            [](const Reserved& a, const Reserved& b) { return a.start < b.start; });
  std::vector<DeviceTreeRegion> regions;
  for (const Piece& piece : pieces_) {
    std::uint64_t start = piece.start;
    const std::uint64_t end = piece.start + piece.size;
    bool first = true;
    auto keep = [&](std::uint64_t to) {
      if (to <= start)
        return;
      DeviceTreeRegion region = piece.region;
      if (!first)
        region.name += QLatin1Char('_') + QString::number(start, 16);
      first = false;
      region.start = static_cast<std::uint32_t>(start);
      region.size = static_cast<std::uint32_t>(to - start);
      regions.push_back(region);
    };
    for (const Reserved& cut : reserved) {
      const std::uint64_t cutEnd = cut.start + std::min(cut.size, ~std::uint64_t(0) - cut.start);
      if (cutEnd <= start || cut.start >= end)
        continue;
      keep(std::max(start, cut.start));
      start = std::max(start, cutEnd);
    }
    keep(end);
  }
  return regions;
}

std::vector<DeviceTreeRegion> TreeReader::read() {
  readChosen();
  readLabels();
  const int reserveCount = fdt_num_mem_rsv(fdt_);
  for (int i = 0; i < reserveCount; ++i) {
    std::uint64_t address = 0;
    std::uint64_t size = 0;
    if (fdt_get_mem_rsv(fdt_, i, &address, &size) == 0)
      reserved_.push_back({QStringLiteral("/memreserve/"), address, size});
  }

  // The walk keeps one level per depth instead of recursing, so a deep tree
  // costs memory, not stack.
  std::vector<Level> levels;
  int depth = 0;
  int node = 0;
  for (; node >= 0; node = fdt_next_node(fdt_, node, &depth)) {
    if (depth < 0)
      break;  // past the root's end
    levels.resize(static_cast<std::size_t>(depth) + 1);
    Level& self = levels[static_cast<std::size_t>(depth)];
    const Level* parent = depth > 0 ? &levels[static_cast<std::size_t>(depth) - 1] : nullptr;
    int length = 0;
    const char* name = fdt_get_name(fdt_, node, &length);
    if (!name)
      fail(pathOf(node), QStringLiteral("has no name"));
    if (!parent) {
      self.path = QStringLiteral("/");
    } else {
      self.path = parent->path == QLatin1String("/") ? QString() : parent->path;
      self.path += QLatin1Char('/') + fromBytes(QByteArray(name, length));
    }
    const std::optional<QByteArray> status = stringProperty(node, "status", self.path);
    self.disabled = (parent && parent->disabled) || (status && *status != "okay" && *status != "ok");
    if (parent)
      readNode(node, *parent, self);
    self.bus = childBus(node, parent ? *parent : self, self.path);
  }
  if (node < 0 && node != -FDT_ERR_NOTFOUND)
    throw FatalError(fileName_ + QLatin1String(": malformed devicetree: ") + fromBytes(fdt_strerror(node)));
  checkOverlaps();
  return cutReserved();
}

// Two regions of one name would be two MEMORY regions of one name.
void checkNames(const std::vector<DeviceTreeRegion>& regions, const QString& fileName) {
  QHash<QString, const DeviceTreeRegion*> byName;
  for (const DeviceTreeRegion& region : regions) {
    const auto earlier = byName.constFind(region.name);
    if (earlier != byName.constEnd())
      throw FatalError(fileName + QLatin1String(": ") + region.nodePath + QLatin1String(": region name ") +
                       region.name + QLatin1String(" is also the name of a region of ") +
                       (*earlier)->nodePath);
    byName.insert(region.name, &region);
  }
}

// libfdt's own walks loop forever on a property whose length brings the
// next tag back to itself, and its fdt_check_full reads past the blob on some
// malformed trees: this walk checks every tag itself instead. It insists on
// progress, balanced nodes, and property names inside the strings block. The
// header is checked first, so every offset stays inside the blob.
int checkTags(const void* fdt, std::size_t size) {
  if (size < FDT_V1_SIZE)
    return -FDT_ERR_TRUNCATED;
  if (const int header = fdt_check_header(fdt); header != 0)
    return header;
  if (fdt_totalsize(fdt) > size)
    return -FDT_ERR_TRUNCATED;
  const char* strings = static_cast<const char*>(fdt) + fdt_off_dt_strings(fdt);
  const std::uint32_t stringsSize = fdt_size_dt_strings(fdt);
  int offset = 0;
  int depth = 0;
  for (;;) {
    int next = 0;
    const std::uint32_t tag = fdt_next_tag(fdt, offset, &next);
    if (tag == FDT_END)
      return depth == 0 && next > 0 ? 0 : -FDT_ERR_BADSTRUCTURE;
    if (next <= offset)
      return -FDT_ERR_BADSTRUCTURE;
    if (tag == FDT_BEGIN_NODE) {
      ++depth;
    } else if (tag == FDT_END_NODE) {
      if (--depth < 0)
        return -FDT_ERR_BADSTRUCTURE;
    } else if (tag == FDT_PROP) {
      if (depth == 0)
        return -FDT_ERR_BADSTRUCTURE;
      // A malformed tree need not keep the property aligned: read the name
      // offset (after the tag and the length) byte by byte.
      const auto* property = static_cast<const char*>(fdt_offset_ptr(fdt, offset, 12));
      if (property == nullptr)
        return -FDT_ERR_BADSTRUCTURE;
      const std::uint32_t name = fdt32_ld(reinterpret_cast<const fdt32_t*>(property + 8));
      if (name >= stringsSize || std::memchr(strings + name, '\0', stringsSize - name) == nullptr)
        return -FDT_ERR_BADSTRUCTURE;
    }
    offset = next;
  }
}

}  // namespace

std::vector<DeviceTreeRegion> readDeviceTreeRegions(const QByteArray& blob, const QString& fileName) {
  // libfdt wants the tree 8-byte aligned.
  std::vector<std::uint64_t> aligned((static_cast<std::size_t>(blob.size()) + 7) / 8);
  std::copy(blob.cbegin(), blob.cend(), reinterpret_cast<char*>(aligned.data()));
  const std::size_t size = static_cast<std::size_t>(blob.size());
  const int check = checkTags(aligned.data(), size);
  if (check != 0)
    throw FatalError(fileName + QLatin1String(": malformed devicetree: ") + fromBytes(fdt_strerror(check)));
  std::vector<DeviceTreeRegion> regions = TreeReader(aligned.data(), fileName).read();
  checkNames(regions, fileName);
  return regions;
}
