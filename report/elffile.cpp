#include "report/elffile.h"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/bytes.h"

namespace {

struct ElfCloser {
  void operator()(Elf* elf) const { elf_end(elf); }
};
using ElfHandle = std::unique_ptr<Elf, ElfCloser>;

QString libelfReason() {
  const char* reason = elf_errmsg(-1);
  return fromBytes(reason ? reason : "unknown reason");
}

// Where a loaded program header puts a section's bytes, as the common
// binary tools read it: a section with contents by its file offset (a
// segment holds the stored copies back to back even when their run
// addresses are apart), one without contents by its address. A section
// that no program header holds is stored where it runs.
//
// Of the headers holding a section, the first in file order that holds all
// of it counts, else the last that holds its start (an empty section on the
// boundary of two). Linked files have no overlapping headers, so only the
// few headers starting nearest below the section's address are looked at:
// a file with thousands of headers costs a binary search per section.
class LoadAddresses {
public:
  explicit LoadAddresses(std::vector<GElf_Phdr> loads) : loads_(std::move(loads)) {
    for (size_t i = 0; i < loads_.size(); ++i)
      byAddress_.push_back(i);
    std::stable_sort(byAddress_.begin(), byAddress_.end(),
                     [&](size_t a, size_t b) { return loads_[a].p_vaddr < loads_[b].p_vaddr; });
  }

  uint64_t of(const GElf_Shdr& section) const {
    const auto after = std::upper_bound(byAddress_.begin(), byAddress_.end(), section.sh_addr,
                                        [&](uint64_t address, size_t i) { return address < loads_[i].p_vaddr; });
    const size_t end = static_cast<size_t>(after - byAddress_.begin());
    const size_t first = end - std::min<size_t>(end, 4);
    const bool hasContents = section.sh_type != SHT_NOBITS;
    size_t whole = SIZE_MAX;    // the first header in file order that holds all of the section
    size_t partial = SIZE_MAX;  // else the last that holds its start
    for (size_t position = first; position < end; ++position) {
      const size_t index = byAddress_[position];
      const GElf_Phdr& load = loads_[index];
      const uint64_t into = section.sh_addr - load.p_vaddr;
      const bool inFile = !hasContents || (section.sh_offset >= load.p_offset &&
                                           section.sh_offset - load.p_offset <= load.p_filesz);
      if (into > load.p_memsz || !inFile)
        continue;
      if (section.sh_size <= load.p_memsz - into)
        whole = std::min(whole, index);
      else if (partial == SIZE_MAX || index > partial)
        partial = index;
    }
    const size_t chosen = whole != SIZE_MAX ? whole : partial;
    if (chosen == SIZE_MAX)
      return section.sh_addr;
    const GElf_Phdr& load = loads_[chosen];
    return load.p_paddr + (hasContents ? section.sh_offset - load.p_offset : section.sh_addr - load.p_vaddr);
  }

private:
  std::vector<GElf_Phdr> loads_;
  std::vector<size_t> byAddress_;  // indexes into loads_, by run address
};

// Size in the file of `count` table entries of `entrySize` bytes, or
// nothing when that cannot fit in any file.
std::optional<uint64_t> tableSize(uint64_t count, uint64_t entrySize) {
  if (entrySize && count > UINT64_MAX / entrySize)
    return std::nullopt;
  return count * entrySize;
}

class Reader {
public:
  // elfMagic: the file starts with the ELF magic number.
  Reader(Elf* elf, bool elfMagic, uint64_t fileSize, const QString& label, QString* error)
      : elf_(elf), elfMagic_(elfMagic), fileSize_(fileSize), label_(label), error_(error) {}

  std::optional<ElfFile> read() {
    if (!readAll())
      return std::nullopt;
    return std::move(file_);
  }

private:
  bool readAll() {
    if (!elf_ || elf_kind(elf_) != ELF_K_ELF) {
      // The magic number with too little after it is an ELF file cut short.
      if (elfMagic_)
        return damaged(QStringLiteral("the ELF header is incomplete"));
      return fail(label_ + QLatin1String(" is not an ELF file"));
    }
    size_t identSize = 0;
    const char* ident = elf_getident(elf_, &identSize);
    if (!ident || identSize < EI_NIDENT)
      return damaged(libelfReason());
    if (ident[EI_DATA] != ELFDATA2LSB)
      return fail(label_ + QLatin1String(" is not a little-endian ELF file"));
    file_.bits = ident[EI_CLASS] == ELFCLASS64 ? 64 : ident[EI_CLASS] == ELFCLASS32 ? 32 : 0;
    if (file_.bits == 0)
      return damaged(QStringLiteral("unknown ELF class"));
    if (!gelf_getehdr(elf_, &header_))
      return damaged(libelfReason());
    if (header_.e_machine != EM_RISCV) {
      return fail(label_ + QLatin1String(" is an ELF file for another machine (") +
                  QString::number(header_.e_machine) + QLatin1String("), not RISC-V"));
    }
    bool loadsBytes = false;
    if (!readProgramHeaders(&loadsBytes) || !readSections() || !readSymbols())
      return false;
    if (file_.sections.empty() && loadsBytes)
      return damaged(QStringLiteral("it loads bytes but has no allocated sections (section headers missing or zeroed)"));
    return true;
  }

  bool fail(const QString& text) {
    *error_ = text;
    return false;
  }
  bool damaged(const QString& reason) {
    return fail(label_ + QLatin1String(" is truncated or damaged: ") + reason);
  }
  bool fits(uint64_t offset, uint64_t size) const { return offset <= fileSize_ && size <= fileSize_ - offset; }
  // A header table of `count` entries at `offset` lies inside the file, its
  // entries the size of this class's header.
  bool tableFits(const char* what, uint64_t offset, uint64_t count, uint64_t entrySize, uint64_t expectedSize) {
    if (count == 0)
      return true;
    if (entrySize != expectedSize) {
      return damaged(QLatin1String(what) + QLatin1String(" entries are ") + QString::number(entrySize) +
                     QLatin1String(" bytes, not ") + QString::number(expectedSize));
    }
    const std::optional<uint64_t> size = tableSize(count, entrySize);
    if (!size || !fits(offset, *size)) {
      return damaged(QLatin1String("the ") + QLatin1String(what) + QLatin1String(" table (") +
                     QString::number(count) + QLatin1String(" entries at offset ") + QString::number(offset) +
                     QLatin1String(") lies past the end of the file (") + QString::number(fileSize_) +
                     QLatin1String(" bytes)"));
    }
    return true;
  }
  uint64_t entrySize(Elf_Type type) const { return gelf_fsize(elf_, type, 1, EV_CURRENT); }

  bool readProgramHeaders(bool* loadsBytes) {
    // The header's own count first: libelf may see fewer entries in a file
    // that is cut short.
    size_t count = header_.e_phnum;
    if (count == PN_XNUM && elf_getphdrnum(elf_, &count) != 0)
      return damaged(libelfReason());
    if (!tableFits("program header", header_.e_phoff, count, header_.e_phentsize, entrySize(ELF_T_PHDR)))
      return false;
    std::vector<GElf_Phdr> loads;
    for (size_t i = 0; i < count; ++i) {
      GElf_Phdr programHeader;
      if (!gelf_getphdr(elf_, static_cast<int>(i), &programHeader))
        return damaged(libelfReason());
      if (programHeader.p_type != PT_LOAD)
        continue;
      if (!fits(programHeader.p_offset, programHeader.p_filesz)) {
        return damaged(QLatin1String("program header ") + QString::number(i) +
                       QLatin1String(" loads bytes past the end of the file"));
      }
      if (programHeader.p_filesz > programHeader.p_memsz) {
        return damaged(QLatin1String("program header ") + QString::number(i) +
                       QLatin1String(" stores more bytes than it loads"));
      }
      *loadsBytes = *loadsBytes || programHeader.p_memsz > 0;
      loads.push_back(programHeader);
    }
    loads_.emplace(std::move(loads));
    return true;
  }

  bool readSections() {
    size_t count = header_.e_shnum;
    size_t namesIndex = 0;
    if ((count == 0 && header_.e_shoff != 0 && elf_getshdrnum(elf_, &count) != 0) ||
        elf_getshdrstrndx(elf_, &namesIndex) != 0)
      return damaged(libelfReason());
    if (!tableFits("section header", header_.e_shoff, count, header_.e_shentsize, entrySize(ELF_T_SHDR)))
      return false;
    if (count > 0 && namesIndex >= count)
      return damaged(QStringLiteral("the section-name table is not a section"));
    positions_.assign(count, SIZE_MAX);
    for (Elf_Scn* scn = elf_nextscn(elf_, nullptr); scn; scn = elf_nextscn(elf_, scn)) {
      GElf_Shdr section;
      if (!gelf_getshdr(scn, &section))
        return damaged(libelfReason());
      const size_t index = elf_ndxscn(scn);
      if (section.sh_type != SHT_NOBITS && section.sh_type != SHT_NULL && !fits(section.sh_offset, section.sh_size)) {
        return damaged(QLatin1String("the contents of section ") + QString::number(index) +
                       QLatin1String(" lie past the end of the file"));
      }
      if (section.sh_type == SHT_SYMTAB)
        symbolTables_.push_back(scn);
      if (!(section.sh_flags & SHF_ALLOC))
        continue;
      const char* name = elf_strptr(elf_, namesIndex, section.sh_name);
      if (!name)
        return damaged(libelfReason());
      ElfSection entry;
      entry.name = fromBytes(name);
      entry.runAddress = section.sh_addr;
      entry.loadAddress = loads_->of(section);
      entry.size = section.sh_size;
      entry.hasContents = section.sh_type != SHT_NOBITS;
      if (index < positions_.size())
        positions_[index] = file_.sections.size();
      file_.sections.push_back(std::move(entry));
    }
    return true;
  }

  // The sized functions and objects (and untyped symbols with a size, as
  // assembly writes them) defined in allocated sections.
  bool readSymbols() {
    for (Elf_Scn* scn : symbolTables_) {
      GElf_Shdr table;
      gelf_getshdr(scn, &table);
      if (table.sh_entsize != entrySize(ELF_T_SYM) || table.sh_link >= positions_.size())
        return damaged(QStringLiteral("the symbol table is inconsistent"));
      Elf_Data* data = elf_getdata(scn, nullptr);
      if (!data && table.sh_size > 0)
        return damaged(libelfReason());
      const size_t count = data ? data->d_size / table.sh_entsize : 0;
      for (size_t i = 1; i < count; ++i) {
        GElf_Sym symbol;
        if (!gelf_getsym(data, static_cast<int>(i), &symbol))
          return damaged(libelfReason());
        const int type = GELF_ST_TYPE(symbol.st_info);
        if (symbol.st_size == 0 || (type != STT_FUNC && type != STT_OBJECT && type != STT_NOTYPE) ||
            symbol.st_shndx == SHN_UNDEF || symbol.st_shndx >= SHN_LORESERVE || symbol.st_shndx >= positions_.size() ||
            positions_[symbol.st_shndx] == SIZE_MAX)
          continue;
        const char* name = elf_strptr(elf_, table.sh_link, symbol.st_name);
        if (!name)
          return damaged(libelfReason());
        file_.symbols.push_back({fromBytes(name), symbol.st_value, symbol.st_size, positions_[symbol.st_shndx]});
      }
    }
    return true;
  }

  Elf* elf_;
  bool elfMagic_;
  uint64_t fileSize_;
  const QString& label_;
  QString* error_;
  GElf_Ehdr header_{};
  ElfFile file_;
  std::optional<LoadAddresses> loads_;
  std::vector<size_t> positions_;  // section index -> position in file_.sections, SIZE_MAX when not allocated
  std::vector<Elf_Scn*> symbolTables_;
};

void initLibelf() {
  static const bool ready = elf_version(EV_CURRENT) != EV_NONE;
  (void)ready;
}

}  // namespace

std::optional<ElfFile> readElfFile(const QString& path, QString* error) {
  initLibelf();
  const QByteArray bytes = toBytes(path);
  const int fd = ::open(bytes.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = QLatin1String("cannot open ") + path + QLatin1String(": ") + fromBytes(std::strerror(errno));
    return std::nullopt;
  }
  struct stat status;
  std::optional<ElfFile> file;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    *error = path + QLatin1String(" is not an ELF file");
  } else {
    char magic[SELFMAG] = {};
    const bool elfMagic = ::pread(fd, magic, SELFMAG, 0) == SELFMAG && std::memcmp(magic, ELFMAG, SELFMAG) == 0;
    ElfHandle elf(elf_begin(fd, ELF_C_READ_MMAP, nullptr));
    file = Reader(elf.get(), elfMagic, static_cast<uint64_t>(status.st_size), path, error).read();
  }
  ::close(fd);
  return file;
}

std::optional<ElfFile> readElfImage(const char* data, std::size_t size, const QString& label, QString* error) {
  initLibelf();
  // libelf may convert a memory image in place: it gets its own copy.
  std::vector<char> image(data, data + size);
  ElfHandle elf(elf_memory(image.data(), image.size()));
  const bool elfMagic = size >= SELFMAG && std::memcmp(data, ELFMAG, SELFMAG) == 0;
  return Reader(elf.get(), elfMagic, size, label, error).read();
}
