// The allocated sections and sized symbols of a linked RISC-V ELF file,
// read with libelf: the addresses and sizes the memory report needs and
// nothing more. Any input, however damaged, gives either the sections or one
// message; nothing read from the file is trusted before it was checked
// against the file's size: the header tables, every section's contents and
// the symbol table. A file that loads bytes (a PT_LOAD program header) but
// has no allocated section has lost its section headers, and is refused
// rather than shown empty.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct ElfSection {
  QString name;
  uint64_t runAddress = 0;   // sh_addr: where the program sees it
  uint64_t loadAddress = 0;  // where a program header stores it; runAddress when none does
  uint64_t size = 0;
  bool hasContents = false;  // not SHT_NOBITS: the file holds an image to load
};

// A function or object of the symbol table with a size, in an allocated
// section: what `nm -S` lists for it.
struct ElfSymbol {
  QString name;
  uint64_t address = 0;
  uint64_t size = 0;
  std::size_t section = 0;  // index into ElfFile::sections
};

struct ElfFile {
  int bits = 32;                      // 32 or 64
  std::vector<ElfSection> sections;  // the SHF_ALLOC sections in section-header order
  std::vector<ElfSymbol> symbols;    // in symbol-table order; none without a symbol table
};

// Reads the file at `path`. On failure returns nothing and sets `error` to
// the text that follows "error: ".
std::optional<ElfFile> readElfFile(const QString& path, QString* error);
// The same for a file already in memory; `label` names it in messages.
std::optional<ElfFile> readElfImage(const char* data, std::size_t size, const QString& label, QString* error);
