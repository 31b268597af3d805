// Where the bytes of each section came from: the object files (and the
// libraries they were taken from), read from the linker's map file or from
// the program's DWARF. Both give MemoryReport::objects: summed per object
// and section, ordered by library, object, then section in ELF order.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "report/elffile.h"
#include "report/memoryreport.h"

// The map file of GNU ld (-Map) or of ld.lld (-Map): the bytes each input
// section of an object puts into each allocated section of `elf`; padding
// counts for no object. "lib.a(x.o)" is object x.o of library lib.a. A text
// that is neither format gives nothing and sets `error`.
std::vector<ObjectUsage> objectsFromMapFile(const QByteArray& text, const QString& label, const ElfFile& elf,
                                            QString* error);

// The same from the DWARF of the ELF file at `path`, per compilation unit
// (named by its source file; no library): the address ranges of its code
// and the variables it defines at a fixed address, with the sizes the symbol
// table gives them. A file without DWARF gives nothing; damaged DWARF gives
// nothing and sets `error`.
std::vector<ObjectUsage> objectsFromDwarf(const QString& path, const ElfFile& elf, QString* error);
