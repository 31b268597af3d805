#include "mkld/driver.h"

#include <gtest/gtest.h>

#include <QString>

#include "base/bytes.h"

namespace {

std::string segmentMap(const char* list) { return toStdBytes(buildSegmentMapText(fromBytes(list))); }

const std::string kHead = "<!DOCTYPE Board_Memory_Definition_File><Root name=\"none\">";

TEST(BuildSegmentMapText, ReverseOrderOneLine) {
  EXPECT_EQ(segmentMap("FLASH RX 0x0 0x10000;RAM RWX 0x20000000 0x4000"),
            kHead +
                "<MemorySegment name=\"RAM\" start=\"0x20000000\" size=\"0x4000\"access=\"ReadWrite\"/>"
                "<MemorySegment name=\"FLASH\" start=\"0x0\" size=\"0x10000\"access=\"ReadOnly\"/></Root>");
}

TEST(BuildSegmentMapText, EntryRules) {
  struct Case {
    const char* list;
    const char* segments;  // the text between the head and "</Root>"
  };
  const Case cases[] = {
      {"", ""},
      {";;", ""},
      {"A R 0x0 0x100;A RW 0x1000 0x200",
       "<MemorySegment name=\"A\" start=\"0x1000\" size=\"0x200\"access=\"ReadWrite\"/>"},
      {"A rw 0 4", "<MemorySegment name=\"A\" start=\"0\" size=\"4\"/>"},
      {"A RWx 0 4;B X 0 4;C R 0 4", "<MemorySegment name=\"C\" start=\"0\" size=\"4\"access=\"ReadOnly\"/>"
                                   "<MemorySegment name=\"B\" start=\"0\" size=\"4\"/>"
                                   "<MemorySegment name=\"A\" start=\"0\" size=\"4\"/>"},
      {"A RX 0 4 5;B RX 0;C", ""},
      {"   A   RX   0x10   4  ", "<MemorySegment name=\"A\" start=\"0x10\" size=\"4\"access=\"ReadOnly\"/>"},
      {"A\tRX 0 4", ""},
      {"A RX 1+2 (1<<4)", "<MemorySegment name=\"A\" start=\"1+2\" size=\"(1&lt;&lt;4)\"access=\"ReadOnly\"/>"},
      {"a RX 0 4;A RX 8 4", "<MemorySegment name=\"A\" start=\"8\" size=\"4\"access=\"ReadOnly\"/>"
                            "<MemorySegment name=\"a\" start=\"0\" size=\"4\"access=\"ReadOnly\"/>"},
      {"Q\"<&> RW 0x1\" 4", "<MemorySegment name=\"Q&quot;&lt;&amp;>\" start=\"0x1&quot;\" size=\"4\"access=\"ReadWrite\"/>"},
      {"\xe9\xff RW 0 4", "<MemorySegment name=\"\xe9\xff\" start=\"0\" size=\"4\"access=\"ReadWrite\"/>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(segmentMap(c.list), kHead + c.segments + "</Root>") << c.list;
}

}  // namespace
