#include "memory_map_generator.h"

#include <cstdio>

namespace {

std::string hex(unsigned long value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

const char* const kAccess[] = {"ReadOnly", "Read/Write", "WriteOnly"};
const char* const kFieldNames[] = {"EN", "MODE", "IRQ_EN", "DMA_EN", "STATUS", "PRESCALE", "CLKSEL", "RESET"};

void appendRegisterGroup(std::string& out, unsigned segment, unsigned group, unsigned long base) {
  const std::string name = "PERIPH" + std::to_string(segment) + "_" + std::to_string(group);
  out += "    <RegisterGroup name=\"" + name + "\" start=\"" + hex(base) +
         "\" size=\"0x400\" description=\"Peripheral " + name + " &amp; its registers\">\n";
  for (unsigned reg = 0; reg < 16; ++reg) {
    out += "      <Register name=\"R" + std::to_string(reg) + "\" start=\"+" + hex(reg * 4) +
           "\" size=\"4\" access=\"" + kAccess[reg % 3] + "\" reset_value=\"" + hex(reg * 0x1111u) +
           "\" description=\"Register " + std::to_string(reg) + " of " + name + "\">\n";
    for (unsigned field = 0; field < 8; ++field) {
      out += "        <BitField name=\"";
      out += kFieldNames[field];
      out += "\" start=\"" + std::to_string(field * 4) + "\" size=\"4\" description=\"Field " +
             std::to_string(field) + " (bits " + std::to_string(field * 4) + "-" +
             std::to_string(field * 4 + 3) + ")\"/>\n";
    }
    out += "      </Register>\n";
  }
  out += "    </RegisterGroup>\n";
}

}  // namespace

std::string generateMemoryMap(std::size_t targetBytes) {
  std::string out;
  out.reserve(targetBytes + 64 * 1024);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<!DOCTYPE Board_Memory_Definition_File>\n";
  out += "<Root name=\"Benchmark MCU\">\n";
  out += "  <!-- generated for the reader benchmark -->\n";
  out += "  <MemorySegment name=\"FLASH\" start=\"0x00000000\" size=\"0x00100000\" access=\"ReadOnly\"/>\n";
  out += "  <MemorySegment name=\"RAM\" start=\"0x20000000\" size=\"0x00020000\" access=\"Read/Write\"/>\n";
  for (unsigned segment = 0; out.size() < targetBytes; ++segment) {
    const unsigned long base = 0x40000000ul + segment * 0x100000ul;
    out += "  <MemorySegment name=\"Peripherals " + std::to_string(segment) + "\" start=\"" + hex(base) +
           "\" size=\"0x00100000\" access=\"Read/Write\">\n";
    for (unsigned group = 0; group < 32 && out.size() < targetBytes; ++group)
      appendRegisterGroup(out, segment, group, base + group * 0x400ul);
    out += "  </MemorySegment>\n";
  }
  out += "</Root>\n";
  return out;
}
