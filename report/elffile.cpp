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

bool fits(uint64_t offset, uint64_t size, uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
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

std::optional<ElfFile> readElf(Elf* elf, uint64_t fileSize, const QString& label, QString* error) {
  const auto fail = [&](const QString& text) -> std::optional<ElfFile> {
    *error = text;
    return std::nullopt;
  };
  const auto damaged = [&](const QString& reason) {
    return fail(label + QLatin1String(" is truncated or damaged: ") + reason);
  };
  if (!elf || elf_kind(elf) != ELF_K_ELF)
    return fail(label + QLatin1String(" is not an ELF file"));
  size_t identSize = 0;
  const char* ident = elf_getident(elf, &identSize);
  if (!ident || identSize < EI_NIDENT)
    return damaged(libelfReason());
  if (ident[EI_DATA] != ELFDATA2LSB)
    return fail(label + QLatin1String(" is not a little-endian ELF file"));
  const int bits = ident[EI_CLASS] == ELFCLASS64 ? 64 : ident[EI_CLASS] == ELFCLASS32 ? 32 : 0;
  if (bits == 0)
    return damaged(QStringLiteral("unknown ELF class"));
  GElf_Ehdr header;
  if (!gelf_getehdr(elf, &header))
    return damaged(libelfReason());
  if (header.e_machine != EM_RISCV) {
    return fail(label + QLatin1String(" is an ELF file for another machine (") +
                QString::number(header.e_machine) + QLatin1String("), not RISC-V"));
  }

  size_t programHeaders = 0;
  if (elf_getphdrnum(elf, &programHeaders) != 0)
    return damaged(libelfReason());
  std::vector<GElf_Phdr> loads;
  for (size_t i = 0; i < programHeaders; ++i) {
    GElf_Phdr programHeader;
    if (!gelf_getphdr(elf, static_cast<int>(i), &programHeader))
      return damaged(libelfReason());
    if (programHeader.p_type == PT_LOAD)
      loads.push_back(programHeader);
  }

  const LoadAddresses loadAddresses(std::move(loads));
  size_t namesIndex = 0;
  if (elf_getshdrstrndx(elf, &namesIndex) != 0)
    return damaged(libelfReason());
  ElfFile file;
  file.bits = bits;
  for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn; scn = elf_nextscn(elf, scn)) {
    GElf_Shdr section;
    if (!gelf_getshdr(scn, &section))
      return damaged(libelfReason());
    if (section.sh_type != SHT_NOBITS && !fits(section.sh_offset, section.sh_size, fileSize))
      return damaged(QStringLiteral("section contents lie past the end of the file"));
    if (!(section.sh_flags & SHF_ALLOC))
      continue;
    const char* name = elf_strptr(elf, namesIndex, section.sh_name);
    if (!name)
      return damaged(libelfReason());
    ElfSection entry;
    entry.name = fromBytes(name);
    entry.runAddress = section.sh_addr;
    entry.loadAddress = loadAddresses.of(section);
    entry.size = section.sh_size;
    entry.hasContents = section.sh_type != SHT_NOBITS;
    file.sections.push_back(std::move(entry));
  }
  return file;
}

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
    ElfHandle elf(elf_begin(fd, ELF_C_READ_MMAP, nullptr));
    file = readElf(elf.get(), static_cast<uint64_t>(status.st_size), path, error);
  }
  ::close(fd);
  return file;
}

std::optional<ElfFile> readElfImage(const char* data, std::size_t size, const QString& label, QString* error) {
  initLibelf();
  // libelf may convert a memory image in place: it gets its own copy.
  std::vector<char> image(data, data + size);
  ElfHandle elf(elf_memory(image.data(), image.size()));
  return readElf(elf.get(), size, label, error);
}
