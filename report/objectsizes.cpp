#include "report/objectsizes.h"

#include <dwarf.h>
#include <elfutils/libdw.h>
#include <fcntl.h>
#include <unistd.h>

#include <QHash>
#include <QList>
#include <algorithm>
#include <map>
#include <tuple>
#include <unordered_map>

#include "base/bytes.h"

namespace {

// Bytes per (library, object, section), kept in report order.
class Tally {
public:
  explicit Tally(const ElfFile& elf) : elf_(elf) {}

  void add(const QString& library, const QString& object, size_t section, uint64_t size) {
    if (size > 0)
      sizes_[{library, object, section}] += size;
  }

  std::vector<ObjectUsage> list() const {
    std::vector<ObjectUsage> objects;
    for (const auto& [key, size] : sizes_)
      objects.push_back({std::get<1>(key), std::get<0>(key), elf_.sections[std::get<2>(key)].name, size});
    return objects;
  }

private:
  const ElfFile& elf_;
  std::map<std::tuple<QString, QString, size_t>, uint64_t> sizes_;
};

// --- Map files ---------------------------------------------------------------

bool isHex(const QByteArray& token) {
  return token.startsWith("0x") && token.size() > 2;
}

uint64_t hexValue(const QByteArray& token) {
  return token.toULongLong(nullptr, 16);
}

// "lib.a(x.o)" -> library lib.a, object x.o; anything else is an object.
void splitInput(const QByteArray& file, QString* library, QString* object) {
  const qsizetype open = file.indexOf('(');
  if (file.endsWith(')') && open > 0) {
    *library = fromBytes(file.left(open));
    *object = fromBytes(file.mid(open + 1, file.size() - open - 2));
  } else {
    library->clear();
    *object = fromBytes(file);
  }
}

// The allocated sections by name: the first of each name.
QHash<QByteArray, size_t> sectionsByName(const ElfFile& elf) {
  QHash<QByteArray, size_t> byName;
  for (size_t i = 0; i < elf.sections.size(); ++i) {
    const QByteArray name = toBytes(elf.sections[i].name);
    if (!byName.contains(name))
      byName.insert(name, i);
  }
  return byName;
}

// GNU ld: after "Linker script and memory map", an output section starts at
// the left edge ("NAME ADDRESS SIZE", or NAME alone and the numbers on the
// next line); its input sections are indented by one blank (" NAME ADDRESS
// SIZE FILE", or the name alone and the rest on the next line). Patterns
// and fill start with "*"; symbols and assignments lie deeper.
void readGnuMap(const QList<QByteArray>& lines, qsizetype first, const QHash<QByteArray, size_t>& sections,
                Tally& tally) {
  int output = -1;           // the current output section; -1: not allocated or none
  QByteArray pendingOutput;  // a long output-section name waiting for its numbers
  bool pendingInput = false;  // a long input-section name waiting for its numbers
  for (qsizetype i = first; i < lines.size(); ++i) {
    const QByteArray& line = lines[i];
    const QList<QByteArray> tokens = line.simplified().split(' ');
    if (line.isEmpty() || tokens.first().isEmpty())
      continue;
    const auto takeInput = [&](qsizetype at) {  // at: the address token
      if (output < 0 || tokens.size() < at + 3 || !isHex(tokens[at]) || !isHex(tokens[at + 1]))
        return;
      QString library, object;
      splitInput(line.simplified().split(' ').mid(at + 2).join(' '), &library, &object);
      tally.add(library, object, static_cast<size_t>(output), hexValue(tokens[at + 1]));
    };
    if (line[0] != ' ') {
      pendingInput = false;
      pendingOutput.clear();
      output = -1;
      if (tokens.size() == 1)
        pendingOutput = tokens[0];
      else if (tokens.size() >= 3 && isHex(tokens[1]))
        output = static_cast<int>(sections.value(tokens[0], static_cast<size_t>(-1)));
      continue;
    }
    if (!pendingOutput.isEmpty()) {
      if (isHex(tokens[0]))
        output = static_cast<int>(sections.value(pendingOutput, static_cast<size_t>(-1)));
      pendingOutput.clear();
      continue;
    }
    if (line.size() > 1 && line[1] != ' ') {
      pendingInput = false;
      if (tokens[0].startsWith('*'))
        continue;
      if (tokens.size() == 1)
        pendingInput = true;
      else
        takeInput(1);
      continue;
    }
    if (pendingInput) {
      takeInput(0);
      pendingInput = false;
    }
  }
}

// ld.lld: a table "VMA LMA Size Align Out In Symbol", the numbers in
// hexadecimal without 0x; an output section's name starts in the Out
// column, an input section "FILE:(NAME)" in the In column.
void readLldMap(const QList<QByteArray>& lines, const QHash<QByteArray, size_t>& sections, Tally& tally) {
  const QByteArray& header = lines.first();
  const qsizetype outColumn = header.indexOf(" Out ") + 1;
  const qsizetype inColumn = header.indexOf(" In ") + 1;
  int output = -1;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QByteArray& line = lines[i];
    if (line.size() <= outColumn)
      continue;
    const QByteArray rest = line.mid(outColumn);
    const QList<QByteArray> numbers = line.left(outColumn).simplified().split(' ');
    if (numbers.size() != 4)
      continue;
    if (rest[0] != ' ') {
      output = rest.contains(" = ") ? output
                                    : static_cast<int>(sections.value(rest.trimmed(), static_cast<size_t>(-1)));
      continue;
    }
    if (output < 0 || line.size() <= inColumn || line[inColumn] == ' ' || line[inColumn - 1] != ' ')
      continue;
    const QByteArray input = line.mid(inColumn).trimmed();
    const qsizetype colon = input.lastIndexOf(":(");
    if (colon <= 0 || !input.endsWith(')'))
      continue;
    QString library, object;
    splitInput(input.left(colon), &library, &object);
    tally.add(library, object, static_cast<size_t>(output), numbers[2].toULongLong(nullptr, 16));
  }
}

// --- DWARF -------------------------------------------------------------------

struct DwarfCloser {
  void operator()(Dwarf* dwarf) const { dwarf_end(dwarf); }
};

// The allocated section an address lies in: of overlapping ones (a section
// and the reservation it runs in) the one with contents, then the smallest.
class SectionFinder {
public:
  explicit SectionFinder(const ElfFile& elf) : elf_(elf) {
    for (size_t i = 0; i < elf.sections.size(); ++i) {
      if (elf.sections[i].size > 0)
        byAddress_.push_back(i);
    }
    std::sort(byAddress_.begin(), byAddress_.end(),
              [&](size_t a, size_t b) { return elf.sections[a].runAddress < elf.sections[b].runAddress; });
  }

  int find(uint64_t address) const {
    auto it = std::upper_bound(byAddress_.begin(), byAddress_.end(), address,
                               [&](uint64_t a, size_t i) { return a < elf_.sections[i].runAddress; });
    int best = -1;
    // Sections overlap only in pairs and small groups: look a few back.
    for (int steps = 0; it != byAddress_.begin() && steps < 8; ++steps) {
      const ElfSection& section = elf_.sections[*--it];
      if (address - section.runAddress >= section.size)
        continue;
      if (best < 0 || better(section, elf_.sections[static_cast<size_t>(best)]))
        best = static_cast<int>(*it);
    }
    return best;
  }

private:
  static bool better(const ElfSection& a, const ElfSection& b) {
    if (a.hasContents != b.hasContents)
      return a.hasContents;
    return a.size < b.size;
  }

  const ElfFile& elf_;
  std::vector<size_t> byAddress_;
};

// The address of a variable placed at a fixed one: a location of one
// DW_OP_addr.
bool fixedAddress(Dwarf_Die* die, Dwarf_Addr* address) {
  Dwarf_Attribute attribute;
  Dwarf_Op* ops = nullptr;
  size_t count = 0;
  if (!dwarf_attr(die, DW_AT_location, &attribute) || dwarf_getlocation(&attribute, &ops, &count) != 0 ||
      count != 1 || ops[0].atom != DW_OP_addr)
    return false;
  *address = ops[0].number;
  return true;
}

}  // namespace

std::vector<ObjectUsage> objectsFromMapFile(const QByteArray& text, const QString& label, const ElfFile& elf,
                                            QString* error) {
  QByteArray normalized = text;
  normalized.replace("\r\n", "\n");
  const QList<QByteArray> lines = normalized.split('\n');
  const QHash<QByteArray, size_t> sections = sectionsByName(elf);
  Tally tally(elf);
  const qsizetype gnuStart = lines.indexOf("Linker script and memory map");
  const QList<QByteArray> header = lines.isEmpty() ? QList<QByteArray>() : lines.first().simplified().split(' ');
  if (gnuStart >= 0) {
    readGnuMap(lines, gnuStart + 1, sections, tally);
  } else if (header.size() >= 7 && header[0] == "VMA" && header[1] == "LMA" && header[4] == "Out") {
    readLldMap(lines, sections, tally);
  } else {
    *error = label + QLatin1String(" is not a map file of GNU ld or ld.lld");
    return {};
  }
  return tally.list();
}

std::vector<ObjectUsage> objectsFromDwarf(const QString& path, const ElfFile& elf, QString* error) {
  const QByteArray bytes = toBytes(path);
  const int fd = ::open(bytes.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return {};
  std::unique_ptr<Dwarf, DwarfCloser> dwarf(dwarf_begin(fd, DWARF_C_READ));
  std::vector<ObjectUsage> objects;
  if (dwarf) {
    std::unordered_map<uint64_t, uint64_t> symbolSizes;  // address -> the largest size there
    for (const ElfSymbol& symbol : elf.symbols)
      symbolSizes[symbol.address] = std::max(symbolSizes[symbol.address], symbol.size);
    const SectionFinder finder(elf);
    Tally tally(elf);
    Dwarf_Off offset = 0, next = 0;
    size_t headerSize = 0;
    int status = 0;
    while ((status = dwarf_nextcu(dwarf.get(), offset, &next, &headerSize, nullptr, nullptr, nullptr)) == 0) {
      Dwarf_Die unit;
      const Dwarf_Off dieOffset = offset + headerSize;
      offset = next;
      if (!dwarf_offdie(dwarf.get(), dieOffset, &unit))
        continue;
      const char* name = dwarf_diename(&unit);
      const QString object = fromBytes(name ? name : "(unnamed)");
      // The code: the unit's address ranges.
      Dwarf_Addr base = 0, start = 0, end = 0;
      for (ptrdiff_t at = 0; (at = dwarf_ranges(&unit, at, &base, &start, &end)) > 0;) {
        const int section = finder.find(start);
        if (section >= 0 && end > start)
          tally.add(QString(), object, static_cast<size_t>(section), end - start);
      }
      // The data: variables at a fixed address, at any depth (a static
      // variable of a function), walked without recursion.
      std::vector<Dwarf_Die> pending;
      Dwarf_Die child;
      if (dwarf_child(&unit, &child) == 0)
        pending.push_back(child);
      while (!pending.empty()) {
        Dwarf_Die die = pending.back();
        pending.pop_back();
        Dwarf_Die sibling;
        if (dwarf_siblingof(&die, &sibling) == 0)
          pending.push_back(sibling);
        if (dwarf_haschildren(&die) > 0 && dwarf_child(&die, &child) == 0)
          pending.push_back(child);
        Dwarf_Addr address = 0;
        if (dwarf_tag(&die) != DW_TAG_variable || !fixedAddress(&die, &address))
          continue;
        const auto symbol = symbolSizes.find(address);
        const int section = finder.find(address);
        if (symbol != symbolSizes.end() && section >= 0)
          tally.add(QString(), object, static_cast<size_t>(section), symbol->second);
      }
    }
    if (status < 0) {
      *error = path + QLatin1String(": damaged DWARF: ") + fromBytes(dwarf_errmsg(-1));
    } else {
      objects = tally.list();
    }
  }
  ::close(fd);
  return objects;
}
