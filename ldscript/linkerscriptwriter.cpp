#include "ldscript/linkerscriptwriter.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "ldscript/scriptstream.h"
#include "ldscript/sectionentry.h"
#include "ldscript/sectionlayout.h"
#include "memorymap/memorymap.h"
#include "mkld/bytes.h"
#include "mkld/commandline.h"
#include "mkld/console.h"
#include "mkld/hexception.h"

namespace {

using Entries = std::vector<std::unique_ptr<SectionEntry>>;
using Hex8 = ScriptStream::Hex8;

// Where the segment list and the MEMORY regions come from.
struct SegmentSources {
  QList<MemoryMapElement*> segments;  // symbols, and the chains of memory-map sections
  QList<MemoryMapElement*> regions;   // MEMORY lines
  bool fromMemoryMap = true;
};

SegmentSources segmentSources(const MemoryMap& memoryMap, const MemoryMap* placement) {
  if (placement) {
    const QList<MemoryMapElement*> placementSegments = placement->memorySegments(true);
    QList<MemoryMapElement*> ownRegions;
    for (MemoryMapElement* segment : placementSegments) {
      if (segment->hasStart() && segment->hasSize())
        ownRegions.append(segment);
    }
    if (!ownRegions.isEmpty())
      return {placementSegments, ownRegions, false};
  }
  const QList<MemoryMapElement*> segments = memoryMap.memorySegments(true);
  return {segments, segments, true};
}

void writeMemoryBlock(ScriptStream& out, const SegmentSources& sources, bool checkUnplacedSections) {
  out << "MEMORY\n{\n";
  if (checkUnplacedSections)
    out << "  UNPLACED_SECTIONS (wx) : ORIGIN = 0x100000000, LENGTH = 0\n";
  for (const MemoryMapElement* segment : sources.regions) {
    out << "  " << scriptName(*segment) << " (" << (segment->isReadOnly() ? "rx" : "wx")
        << ") : ORIGIN = 0x" << Hex8{segment->start()} << ", LENGTH = 0x" << Hex8{segment->size()} << "\n";
  }
  out << "}\n\n";
}

void writeSegmentSymbols(ScriptStream& out, const QList<MemoryMapElement*>& segments) {
  for (const MemoryMapElement* segment : segments) {
    const std::string seg = scriptName(*segment);
    const Hex8 start{segment->start()};
    const Hex8 size{segment->size()};
    out << "  __" << seg << "_segment_start__ = 0x" << start << ";\n";
    if (const std::string* addressSymbol = segment->attribute("address_symbol"))
      out << *addressSymbol << " = 0x" << start << ";\n";
    out << "  __" << seg << "_segment_end__ = 0x" << Hex8{start.value + size.value} << ";\n";
    out << "  __" << seg << "_segment_size__ = 0x" << size << ";\n";
    if (const std::string* sizeSymbol = segment->attribute("size_symbol"))
      out << *sizeSymbol << " = 0x" << size << ";\n";
  }
}

// The first MemorySegment of each name in depth-first document order, at any
// depth (also inside another segment): what a lookup by name finds first.
QHash<QString, MemoryMapElement*> segmentsByName(const MemoryMap& memoryMap) {
  QHash<QString, MemoryMapElement*> byName;
  XMLNode* const root = memoryMap.rootElement();
  XMLNode* node = root;
  while (node) {
    auto* element = dynamic_cast<MemoryMapElement*>(node);
    if (element && element->kind() == MemoryMapElement::MemorySegment) {
      const QString name = element->name();
      if (!byName.contains(name))
        byName.insert(name, element);
    }
    if (node->firstChild()) {
      node = node->firstChild();
      continue;
    }
    while (node != root && !node->nextSibling())
      node = node->parent();
    node = node == root ? nullptr : node->nextSibling();
  }
  return byName;
}

// Builds the chained entries: the memory map's own sections (when its
// segments are the ones written), then the placement file's, each continuing
// the chain of the memory-map segment it names.
Entries buildSectionList(const SegmentSources& sources, const MemoryMap& memoryMap,
                         const MemoryMap* placement) {
  Entries entries;
  // The newest entry of each segment name, so a placement segment continues
  // the chain that the list search from its end would find.
  std::unordered_map<std::string, SectionEntry*> newestBySegmentName;
  // Appends the sections of one segment, chained after `prev`; the newest.
  auto appendChain = [&](SectionEntry* prev, const QList<MemoryMapElement*>& sections,
                         const MemoryMapElement& segment, const char* source) {
    for (const MemoryMapElement* section : sections) {
      entries.push_back(std::make_unique<SectionEntry>(prev, *section, segment));
      prev = entries.back().get();
      if (verbose) {
        printOutput(QLatin1String("Adding section from ") + QLatin1String(source) + QLatin1Char(' ') +
                    fromBytes(prev->name) + QLatin1Char('\n'));
      }
    }
    return prev;
  };

  if (sources.fromMemoryMap) {
    for (const MemoryMapElement* segment : sources.segments) {
      if (SectionEntry* newest = appendChain(nullptr, memoryMap.programSections(segment, true), *segment,
                                             "memory map file"))
        newestBySegmentName[scriptName(*segment)] = newest;
    }
  }

  if (placement) {
    const QHash<QString, MemoryMapElement*> mapSegments = segmentsByName(memoryMap);
    for (const MemoryMapElement* placementSegment : placement->memorySegments(true)) {
      // "RAM2;RAM": the first alternative that the memory map has.
      const MemoryMapElement* segment = nullptr;
      for (const QString& part : placementSegment->name().split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if ((segment = mapSegments.value(part)))
          break;
      }
      if (!segment)
        continue;
      SectionEntry*& newest = newestBySegmentName[scriptName(*segment)];
      newest = appendChain(newest, placement->programSections(placementSegment, true), *segment,
                           "placement file");
    }
  }
  return entries;
}

bool isAsciiYes(const std::string* text) {
  if (!text || text->size() != 3)
    return false;
  const char* yes = "yes";
  for (size_t i = 0; i < 3; ++i) {
    if (((*text)[i] | 0x20) != yes[i])
      return false;
  }
  return true;
}

bool wantsSegmentEnd(const SectionEntry& entry) {
  return isAsciiYes(entry.section->attribute("place_from_segment_end"));
}

// The symbol definitions as bytes, for looking up size texts.
using SymbolValues = std::unordered_map<std::string, std::string>;

SymbolValues symbolValues(const QMap<QString, QString>& symbols) {
  SymbolValues values;
  for (auto it = symbols.cbegin(); it != symbols.cend(); ++it)
    values.emplace(toStdBytes(it.key()), toStdBytes(it.value()));
  return values;
}

// A size that is a plain number (or names a symbol definition whose value is
// one) can be summed up to place a section from the segment end. Anything
// else (blanks, a sign, a suffix, an expression, a digit outside the base, a
// value above 32 bits) is not a fixed size, so nothing is placed on a guess.
std::optional<uint32_t> fixedSize(const MemoryMapElement& section, const SymbolValues& symbols) {
  const std::string* sizeText = section.attribute("size");
  if (!sizeText || sizeText->empty())
    return std::nullopt;
  const auto symbol = symbols.find(*sizeText);
  const std::string& text = symbol != symbols.end() ? symbol->second : *sizeText;

  int base = 10;
  size_t i = 0;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  } else if (!text.empty() && text[0] == '0') {
    base = 8;
  }
  if (i >= text.size())
    return std::nullopt;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit = 16;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    if (digit >= base)
      return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xffffffffu)
      return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

// Marks, per segment chain, the earliest section that asks to be placed from
// the segment end and is followed only by sections of fixed size.
void markEndPlacement(const Entries& entries, const QMap<QString, QString>& symbols) {
  const SymbolValues values = symbolValues(symbols);
  for (const std::unique_ptr<SectionEntry>& last : entries) {
    if (!last->lastInSegment)
      continue;
    uint32_t total = 0;
    SectionEntry* chosen = nullptr;
    uint32_t chosenOffset = 0;
    for (SectionEntry* entry = last.get(); entry; entry = entry->prev) {
      const std::optional<uint32_t> size = fixedSize(*entry->section, values);
      if (!size) {
        if (chosen)
          break;
        for (const SectionEntry* earlier = entry->prev; earlier; earlier = earlier->prev) {
          if (wantsSegmentEnd(*earlier)) {
            printError(QLatin1String("warning: cannot place section ") + fromBytes(earlier->name) +
                       QLatin1String(" at end of segment because section ") + fromBytes(entry->name) +
                       QLatin1String(" does not have a fixed size\n"));
            break;
          }
        }
        break;
      }
      total += *size;
      if (wantsSegmentEnd(*entry)) {
        chosen = entry;
        chosenOffset = total;
      }
    }
    if (chosen) {
      chosen->placeFromEnd = true;
      chosen->endOffset = chosenOffset;
    }
  }
}

// A file written beside its final path (as "<path>.mkld-<pid>-<n>") and
// renamed over it only when complete, so the final path never holds half a
// script and an earlier script stays until the new one is whole. An error
// removes the temporary file; only a run killed outright leaves it behind.
//
// The text is compared with the file already at the path as it goes: a
// script that comes out as it already is leaves that file untouched,
// modification time included, so that Make and Ninja (restat) relink
// nothing, and the script never has to be held whole for the comparison.
//
// Unlike QSaveFile it does not sync the data to the disk before the rename:
// a build output needs no protection against a power cut, and the sync made
// every run wait for the disk (a third of the time of a small run).
class ReplacingFile : public QIODevice {
public:
  // Open for writing when the temporary file could be made.
  explicit ReplacingFile(const QString& path) {
    // A link is followed: the file it names is replaced, the link stays.
    const QFileInfo info(nativePath(path));
    finalPath_ = info.isSymLink() && info.exists() ? QFile::encodeName(info.canonicalFilePath()) : toBytes(path);
    struct stat existing;
    const bool exists = ::stat(finalPath_.constData(), &existing) == 0;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      tempPath_ = finalPath_ + ".mkld-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(attempt);
      fd_ = ::open(tempPath_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ < 0 && errno != EEXIST)
        break;
    }
    if (fd_ < 0)
      return;
    if (exists)
      ::fchmod(fd_, existing.st_mode & 07777);  // a replaced script keeps its permissions
    if (!temp_.open(fd_, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle)) {
      discard();
      return;
    }
    if (exists && S_ISREG(existing.st_mode)) {
      earlier_.setFileName(QFile::decodeName(finalPath_));
      same_ = earlier_.open(QIODevice::ReadOnly);
    }
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
  }
  ~ReplacingFile() override { discard(); }

  // Puts the new script in place (or keeps the earlier one when it holds
  // exactly the same bytes); the error, if any.
  QString commit() {
    const bool unchanged = same_ && earlier_.atEnd();
    earlier_.close();
    temp_.close();
    const int closed = ::close(fd_);
    fd_ = -1;
    if (unchanged) {
      ::unlink(tempPath_.constData());
      return QString();
    }
    if (closed != 0 || ::rename(tempPath_.constData(), finalPath_.constData()) != 0) {
      const QString error = fromBytes(std::strerror(errno));
      ::unlink(tempPath_.constData());
      return error;
    }
    return QString();
  }

protected:
  qint64 readData(char*, qint64) override { return -1; }

  qint64 writeData(const char* data, qint64 size) override {
    if (same_) {
      compared_.resize(static_cast<size_t>(size));
      same_ = earlier_.read(compared_.data(), size) == size &&
              std::memcmp(compared_.data(), data, static_cast<size_t>(size)) == 0;
    }
    const qint64 written = temp_.write(data, size);
    if (written != size)
      setErrorString(temp_.errorString());
    return written;
  }

private:
  void discard() {
    if (fd_ < 0)
      return;
    temp_.close();
    ::close(fd_);
    fd_ = -1;
    ::unlink(tempPath_.constData());
  }

  QByteArray finalPath_;
  QByteArray tempPath_;
  int fd_ = -1;
  QFile temp_;
  QFile earlier_;             // the file at the path, while it may hold the same script
  bool same_ = false;         // everything written so far matches it
  std::vector<char> compared_;
};

void generate(ScriptStream& out, const LinkerScriptInputs& inputs) {
  const MemoryMap& memoryMap = *inputs.memoryMap;
  const SegmentSources sources = segmentSources(memoryMap, inputs.placement);

  // Without it the linker starts the program at the start of .text, which
  // is the entry point only by chance; a loader that takes the ELF's entry
  // (a debugger, an emulator) then starts the wrong code.
  if (!inputs.entry.isEmpty())
    out << "ENTRY(" << inputs.entry << ")\n\n";
  writeMemoryBlock(out, sources, inputs.checkUnplacedSections);
  out << "SECTIONS\n{\n";
  writeSegmentSymbols(out, sources.segments);
  out << "\n";
  for (auto it = inputs.symbols.cbegin(); it != inputs.symbols.cend(); ++it)
    out << "  " << it.key() << " = " << it.value() << ";\n";
  out << "\n";

  const Entries entries = buildSectionList(sources, memoryMap, inputs.placement);
  markEndPlacement(entries, inputs.symbols);
  SectionLayout layout(entries, out, inputs.checkSegmentOverflow, inputs.defaultFillPattern);
  for (const std::unique_ptr<SectionEntry>& entry : entries)
    layout.layoutSection(*entry);
  out << "}\n\n";
}

}  // namespace

std::string generateLinkerScript(const LinkerScriptInputs& inputs) {
  ScriptStream out;
  generate(out, inputs);
  return out.text();
}

void writeLinkerScript(const QString& outputFile, const QMap<QString, QString>& symbols,
                       bool checkSegmentOverflow, bool checkUnplacedSections, const MemoryMap& memoryMap,
                       const MemoryMap* placement, const QString& defaultFillPattern,
                       const QString& entry) {
  // A device or a pipe (/dev/null, /dev/stdout, a FIFO) must not be replaced
  // by a file: it is written in place. Anything else is replaced whole.
  const QFileInfo info(nativePath(outputFile));
  const bool inPlace = info.exists() && !info.isFile() && !info.isDir();
  std::unique_ptr<QFile> device;
  std::unique_ptr<ReplacingFile> replacing;
  QIODevice* file = nullptr;
  if (inPlace) {
    device = std::make_unique<QFile>(nativePath(outputFile));
    // The stream hands the file large pieces; a second buffer would only copy them.
    if (device->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
      file = device.get();
  } else if (!outputFile.isEmpty() && !info.isDir()) {
    replacing = std::make_unique<ReplacingFile>(outputFile);
    if (replacing->isOpen())
      file = replacing.get();
  }
  if (!file)
    throw HException(QLatin1String("cannot open ") + outputFile + QLatin1String(" for writing"));

  ScriptStream out(file);
  generate(out, {symbols, checkSegmentOverflow, checkUnplacedSections, &memoryMap, placement, defaultFillPattern,
                 entry});
  QString error;
  if (!out.flush() || (device && !device->flush()))
    error = file->errorString();
  else if (replacing)
    error = replacing->commit();
  if (!error.isEmpty())
    throw HException(QLatin1String("cannot write ") + outputFile + QLatin1String(": ") + error);
}
