#include "ldscript/sectionlayout.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/fatalerror.h"
#include "ldscript/scripttext.h"

namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

// A hand-built model over hand-built elements.
class Sections {
public:
  const MemoryMapElement& segment(const std::string& name) {
    elements_.push_back(std::make_unique<MemoryMapElement>("MemorySegment"));
    elements_.back()->setAttribute("name", name);
    return *elements_.back();
  }

  // Appends a section to the chain of `segment`.
  LayoutSection& add(const MemoryMapElement& segment, const Attributes& attributes, uint32_t start = 0) {
    elements_.push_back(std::make_unique<MemoryMapElement>("ProgramSection"));
    MemoryMapElement& element = *elements_.back();
    for (const auto& [name, value] : attributes)
      element.setAttribute(name, value);
    element.setStart(start);
    LayoutSection*& newest = newest_[&segment];
    newest = &model.addSection(newest, element, segment);
    entries.push_back(newest);
    return *newest;
  }

  // Lays out the entries in `order` (list order when empty), as the writer
  // does, and prints the statements; after an error, those laid out before it.
  std::string layout(bool checkSegmentOverflow = false, const std::string& defaultFill = "",
                     std::vector<LayoutSection*> order = {}) {
    if (order.empty())
      order = entries;
    options.checkSegmentOverflow = checkSegmentOverflow;
    options.checkUnplacedSections = false;
    options.defaultFillPattern = fromBytes(defaultFill);
    std::string error;
    try {
      SectionLayout layout(model, options);
      for (LayoutSection* entry : order)
        layout.layoutSection(*entry);
    } catch (const FatalError& e) {
      error = "ERROR " + toStdBytes(e.message());
    }
    ScriptStream stream;
    writeScriptText(stream, model, options);
    const std::string kHead = "MEMORY\n{\n}\n\nSECTIONS\n{\n\n\n";
    const std::string text = stream.text();
    return text.substr(kHead.size(), text.size() - kHead.size() - 3) + error;
  }

  ScriptOptions options;
  LayoutModel model;
  std::vector<LayoutSection*> entries;

private:
  std::vector<std::unique_ptr<MemoryMapElement>> elements_;
  std::map<const MemoryMapElement*, LayoutSection*> newest_;
};

// The lines of `text` from the one starting with `first` up to the blank
// line that ends a section's symbols.
std::string statementOf(const std::string& text, const std::string& first) {
  const size_t begin = text.find(first);
  if (begin == std::string::npos)
    return "<missing " + first + ">";
  const size_t end = text.find("\n\n", begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end + 2 - begin);
}

TEST(SectionLayout, AlignedSectionAfterAnotherWithChecks) {
  Sections s;
  const MemoryMapElement& flash = s.segment("FLASH");
  s.add(flash, {{"name", ".vectors"}, {"load", "Yes"}});
  s.add(flash, {{"name", ".text"}, {"load", "Yes"}, {"alignment", "4"}});
  EXPECT_EQ(s.layout(true),
            "  __vectors_load_start__ = __FLASH_segment_start__;\n"
            "  .vectors __FLASH_segment_start__ : AT(__FLASH_segment_start__)\n"
            "  {\n"
            "    __vectors_start__ = .;\n"
            "    *(.vectors .vectors.*)\n"
            "  }\n"
            "  __vectors_end__ = __vectors_start__ + SIZEOF(.vectors);\n"
            "  __vectors_size__ = SIZEOF(.vectors);\n"
            "  __vectors_load_end__ = __vectors_end__;\n"
            "\n"
            "  . = ASSERT(__vectors_start__ == __vectors_end__ || (__vectors_end__ - __FLASH_segment_start__) "
            "<= __FLASH_segment_size__ , \"error: .vectors is too large to fit in FLASH memory segment\");\n"
            "\n"
            "  __text_load_start__ = ALIGN(__vectors_end__ , 4);\n"
            "  .text ALIGN(__vectors_end__ , 4) : AT(ALIGN(__vectors_end__ , 4))\n"
            "  {\n"
            "    __text_start__ = .;\n"
            "    *(.text .text.* .glue_7t .glue_7 .gnu.linkonce.t.* .gcc_except_table .ARM.extab* "
            ".gnu.linkonce.armextab.*)\n"
            "  }\n"
            "  __text_end__ = __text_start__ + SIZEOF(.text);\n"
            "  __text_size__ = SIZEOF(.text);\n"
            "  __text_load_end__ = __text_end__;\n"
            "\n"
            "  __FLASH_segment_used_end__ = ALIGN(__vectors_end__ , 4) + SIZEOF(.text);\n"
            "  __FLASH_segment_used_size__ = __FLASH_segment_used_end__ - __FLASH_segment_start__;\n"
            "\n"
            "  . = ASSERT(__text_start__ == __text_end__ || (__text_end__ - __FLASH_segment_start__) <= "
            "__FLASH_segment_size__ , \"error: .text is too large to fit in FLASH memory segment\");\n"
            "\n");
}

TEST(SectionLayout, AbsoluteStartGetsTheOverlapCheck) {
  Sections s;
  const MemoryMapElement& flash = s.segment("FLASH");
  s.add(flash, {{"name", ".vectors"}, {"load", "Yes"}});
  s.add(flash, {{"name", ".text"}, {"load", "Yes"}, {"start", "0x8000"}, {"alignment", "4"}});
  const std::string text = s.layout(true);
  EXPECT_EQ(statementOf(text, "  __text_load_start__"),
            "  __text_load_start__ = 0x8000;\n"
            "  .text 0x8000 : AT(0x8000)\n"
            "  {\n"
            "    __text_start__ = .;\n"
            "    *(.text .text.* .glue_7t .glue_7 .gnu.linkonce.t.* .gcc_except_table .ARM.extab* "
            ".gnu.linkonce.armextab.*)\n"
            "  }\n"
            "  __text_end__ = __text_start__ + SIZEOF(.text);\n"
            "  __text_size__ = SIZEOF(.text);\n"
            "  __text_load_end__ = __text_end__;\n"
            "\n");
  EXPECT_NE(text.find("  __FLASH_segment_used_end__ = 0x8000 + SIZEOF(.text);\n"), std::string::npos);
  EXPECT_NE(text.find("<= __FLASH_segment_size__ , \"error: .text is too large to fit in FLASH memory "
                      "segment\");\n"
                      "  . = ASSERT(__vectors_end__ <= __text_start__ , \"error: section .vectors overlaps "
                      "absolute placed section .text\");\n"
                      "\n"),
            std::string::npos);
}

// The load-address rules and the ALIGN wrapping, one line per case: the
// statement's second line for the last section of the chain.
TEST(SectionLayout, LoadAddressRules) {
  struct Case {
    const char* what;
    Attributes first;  // empty: the section is the first of its segment
    Attributes last;
    bool placeFromEnd;
    const char* header;
  };
  const Case cases[] = {
      {"first of segment", {}, {{"name", ".a"}}, false, "  .a __RAM_segment_start__ (NOLOAD) : AT(__RAM_segment_start__)\n"},
      {"aligned first", {}, {{"name", ".a"}, {"alignment", "8"}}, false,
       "  .a ALIGN(__RAM_segment_start__ , 8) (NOLOAD) : AT(ALIGN(__RAM_segment_start__ , 8))\n"},
      {"alignment 1 not wrapped", {}, {{"name", ".a"}, {"alignment", "1"}}, false,
       "  .a __RAM_segment_start__ (NOLOAD) : AT(__RAM_segment_start__)\n"},
      {"alignment 0 not wrapped", {}, {{"name", ".a"}, {"alignment", "0"}}, false,
       "  .a __RAM_segment_start__ (NOLOAD) : AT(__RAM_segment_start__)\n"},
      {"empty alignment", {}, {{"name", ".a"}, {"alignment", ""}}, false,
       "  .a __RAM_segment_start__ (NOLOAD) : AT(__RAM_segment_start__)\n"},
      {"alignment read as a literal", {}, {{"name", ".a"}, {"alignment", "0x10"}}, false,
       "  .a ALIGN(__RAM_segment_start__ , 16) (NOLOAD) : AT(ALIGN(__RAM_segment_start__ , 16))\n"},
      {"after ordinary", {{"name", ".p"}}, {{"name", ".a"}}, false, "  .a __p_end__ (NOLOAD) : AT(__p_end__)\n"},
      {"after runoffset", {{"name", ".p"}, {"runoffset", "0x100"}}, {{"name", ".a"}, {"alignment", "4"}}, false,
       "  .a ALIGN(__p_load_start__ + SIZEOF(.p) , 4) (NOLOAD) : AT(ALIGN(__p_load_start__ + SIZEOF(.p) , 4))\n"},
      {"start wins over alignment", {{"name", ".p"}}, {{"name", ".a"}, {"start", "0x20000100"}, {"alignment", "4"}},
       false, "  .a 0x20000100 (NOLOAD) : AT(0x20000100)\n"},
      {"empty start ignored", {{"name", ".p"}}, {{"name", ".a"}, {"start", ""}}, false,
       "  .a __p_end__ (NOLOAD) : AT(__p_end__)\n"},
      {"from end, never aligned", {{"name", ".p"}}, {{"name", ".a"}, {"alignment", "4"}}, true,
       "  .a __RAM_segment_start__ + (__RAM_segment_size__ - 1280) (NOLOAD) : AT(__RAM_segment_start__ + "
       "(__RAM_segment_size__ - 1280))\n"},
      {"load yes", {}, {{"name", ".a"}, {"load", "yes"}}, false, "  .a __RAM_segment_start__ : AT(__RAM_segment_start__)\n"},
      {"load YES", {}, {{"name", ".a"}, {"load", "YES"}}, false, "  .a __RAM_segment_start__ : AT(__RAM_segment_start__)\n"},
      {"load No", {}, {{"name", ".a"}, {"load", "No"}}, false,
       "  .a __RAM_segment_start__ (NOLOAD) : AT(__RAM_segment_start__)\n"},
      {"load empty", {}, {{"name", ".a"}, {"load", ""}}, false,
       "  .a __RAM_segment_start__ (NOLOAD) : AT(__RAM_segment_start__)\n"},
      {"segment name with blanks", {}, {{"name", "my data"}}, false,
       "  my_data __RAM_segment_start__ (NOLOAD) : AT(__RAM_segment_start__)\n"},
  };
  for (const Case& c : cases) {
    Sections s;
    const MemoryMapElement& ram = s.segment("RAM");
    if (!c.first.empty())
      s.add(ram, c.first);
    LayoutSection& last = s.add(ram, c.last);
    last.placeFromEnd = c.placeFromEnd;
    last.endOffset = c.placeFromEnd ? 0x500 : 0;
    const std::string text = s.layout();
    const std::string name = last.name;
    const size_t line = text.find("\n  " + name + " ");
    ASSERT_NE(line, std::string::npos) << c.what;
    EXPECT_EQ(text.substr(line + 1, text.find('\n', line + 1) - line), c.header) << c.what;
  }
}

// Everything inside and after the braces that depends on one attribute.
TEST(SectionLayout, BracesAndSymbols) {
  struct Case {
    const char* what;
    Attributes attributes;
    const char* defaultFill;
    const char* expected;  // from the opening brace to the load-end line
  };
  const Case cases[] = {
      {"size", {{"name", ".heap"}, {"size", "0x400"}}, "",
       "  {\n    __heap_start__ = .;\n    *(.heap .heap.*)\n    . = MAX(__heap_start__ + 0x400 , .);\n  }\n"},
      {"size with alignment 1", {{"name", ".heap"}, {"size", "HEAP"}, {"alignment", "1"}}, "",
       "  {\n    __heap_start__ = .;\n    *(.heap .heap.*)\n    . = ALIGN(MAX(__heap_start__ + HEAP , .), 1);\n  }\n"},
      {"fill", {{"name", ".a"}, {"fill", "0xff"}}, "0x00",
       "  {\n    __a_start__ = .;\n    *(.a .a.*)\n  } =0xff\n"},
      {"default fill", {{"name", ".a"}}, "0xdeadbeef",
       "  {\n    __a_start__ = .;\n    *(.a .a.*)\n  } =0xdeadbeef\n"},
      {"empty fill", {{"name", ".a"}, {"fill", ""}}, "0x11", "  {\n    __a_start__ = .;\n    *(.a .a.*)\n  } =\n"},
      {"inputsections and keep", {{"name", ".a"}, {"inputsections", "*(.x) *(.y)"}, {"keep", "yes"}}, "",
       "  {\n    __a_start__ = .;\n    KEEP(*(.x) *(.y))\n  }\n"},
      {"empty inputsections", {{"name", ".a"}, {"inputsections", ""}}, "", "  {\n    __a_start__ = .;\n    *(.a .a.*)\n  }\n"},
      {"keep No", {{"name", ".a"}, {"keep", "No"}}, "", "  {\n    __a_start__ = .;\n    *(.a .a.*)\n  }\n"},
      {"name without dot", {{"name", "foo"}}, "", "  {\n    __foo_start__ = .;\n    *(foo foo.*)\n  }\n"},
      {"two dots keep one", {{"name", "..x"}}, "", "  {\n    __.x_start__ = .;\n    *(..x ..x.*)\n  }\n"},
      {"address symbol", {{"name", ".a"}, {"address_symbol", "a_begin"}}, "",
       "  {\n    __a_start__ = .;\n    a_begin =   __a_start__;\n    *(.a .a.*)\n  }\n"},
  };
  for (const Case& c : cases) {
    Sections s;
    s.add(s.segment("RAM"), c.attributes);
    const std::string text = s.layout(false, c.defaultFill);
    const size_t begin = text.find("  {\n");
    const size_t end = text.find("\n  __", begin) + 1;
    EXPECT_EQ(text.substr(begin, end - begin), c.expected) << c.what;
  }
}

TEST(SectionLayout, DefaultInputSectionsByName) {
  const std::pair<const char*, const char*> cases[] = {
      {".text", "*(.text .text.* .glue_7t .glue_7 .gnu.linkonce.t.* .gcc_except_table .ARM.extab* .gnu.linkonce.armextab.*)"},
      {".dtors", "KEEP (*(SORT(.dtors.*))) KEEP (*(.dtors)) KEEP (*(.fini_array)) KEEP (*(SORT(.fini_array.*)))"},
      {".ctors", "KEEP (*(SORT(.ctors.*))) KEEP (*(.ctors)) KEEP (*(.init_array)) KEEP (*(SORT(.init_array.*)))"},
      {".data", "*(.data .data.* .gnu.linkonce.d.*)"},
      {".rodata", "*(.rodata .rodata.* .gnu.linkonce.r.*)"},
      {".bss", "*(.bss .bss.* .gnu.linkonce.b.*) *(COMMON)"},
      {".TEXT", "*(.TEXT .TEXT.*)"},
  };
  for (const auto& [name, inputs] : cases) {
    for (const bool keep : {false, true}) {
      Sections s;
      s.add(s.segment("S"), {{"name", name}, {"keep", keep ? "Yes" : ""}});
      const std::string expected = keep ? "    KEEP(" + std::string(inputs) + ")\n" : "    " + std::string(inputs) + "\n";
      EXPECT_NE(s.layout().find("= .;\n" + expected + "  }\n"), std::string::npos) << name << " keep " << keep;
    }
  }
}

TEST(SectionLayout, SymbolLinesAndSpacing) {
  Sections s;
  s.add(s.segment("RAM"), {{"name", ".a"}, {"end_symbol", "a_end"}, {"size_symbol", "a_size"}});
  EXPECT_EQ(statementOf(s.layout(), "  }\n"),
            "  }\n"
            "  __a_end__ = __a_start__ + SIZEOF(.a);\n"
            "  __a_size__ = SIZEOF(.a);\n"
            "  a_end =   __a_end__;\n"
            "a_size =   __a_size__;\n"
            "  __a_load_end__ = __a_end__;\n"
            "\n");
}

TEST(SectionLayout, RunInSectionAndItsRunSection) {
  // Whichever is reached first, the client comes out before its run section.
  for (const bool runSectionFirst : {false, true}) {
    Sections s;
    const MemoryMapElement& flash = s.segment("FLASH");
    const MemoryMapElement& ram = s.segment("RAM");
    LayoutSection& text = s.add(flash, {{"name", ".text"}, {"load", "Yes"}});
    LayoutSection& fast = s.add(flash, {{"name", ".fast"}, {"load", "Yes"}, {"runin", ".fast_run"}});
    LayoutSection& run = s.add(ram, {{"name", ".fast_run"}});
    const std::vector<LayoutSection*> order =
        runSectionFirst ? std::vector<LayoutSection*>{&run, &text, &fast} : std::vector<LayoutSection*>{&text, &fast, &run};
    const std::string script = s.layout(true, "", order);
    const std::string expectedFast =
        "  __fast_load_start__ = __text_end__;\n"
        "  .fast __RAM_segment_start__ : AT(__text_end__)\n"
        "  {\n"
        "    __fast_start__ = .;\n"
        "    *(.fast .fast.*)\n"
        "  }\n"
        "  __fast_end__ = __fast_start__ + SIZEOF(.fast);\n"
        "  __fast_size__ = SIZEOF(.fast);\n"
        "  __fast_load_end__ = __fast_load_start__ + SIZEOF(.fast);\n"
        "\n"
        "  __FLASH_segment_used_end__ = __text_end__ + SIZEOF(.fast);\n"
        "  __FLASH_segment_used_size__ = __FLASH_segment_used_end__ - __FLASH_segment_start__;\n"
        "\n"
        "  . = ASSERT(__fast_load_start__ == __fast_load_end__ || (__fast_load_end__ - __FLASH_segment_start__) <=  "
        "__FLASH_segment_size__ , \"error: .fast is too large to fit in FLASH memory segment\");\n"
        "\n";
    const std::string expectedRun =
        "  .fast_run __RAM_segment_start__ (NOLOAD) :\n"
        "  {\n"
        "    __fast_run_start__ = .;\n"
        "    . = MAX(__fast_run_start__ + SIZEOF(.fast), .);\n"
        "  }\n"
        "  __fast_run_end__ = __fast_run_start__ + SIZEOF(.fast_run);\n"
        "  __fast_run_size__ = SIZEOF(.fast_run);\n"
        "  __fast_run_load_end__ = __fast_run_end__;\n"
        "\n"
        "  __RAM_segment_used_end__ = __RAM_segment_start__ + SIZEOF(.fast_run);\n"
        "  __RAM_segment_used_size__ = __RAM_segment_used_end__ - __RAM_segment_start__;\n"
        "\n"
        "  . = ASSERT(__fast_run_start__ == __fast_run_end__ || (__fast_run_end__ - __RAM_segment_start__) <= "
        "__RAM_segment_size__ , \"error: .fast_run is too large to fit in RAM memory segment\");\n"
        "\n";
    const size_t textAt = script.find("  .text ");
    const size_t fastAt = script.find(expectedFast);
    const size_t runAt = script.find(expectedRun);
    EXPECT_NE(fastAt, std::string::npos) << script;
    EXPECT_NE(runAt, std::string::npos) << script;
    EXPECT_TRUE(textAt < fastAt && fastAt < runAt) << script;
  }
}

// Run addresses taken from the run section, one line per case.
TEST(SectionLayout, RunAddress) {
  struct Case {
    const char* what;
    Attributes before;  // a section before the run section in its segment, if any
    Attributes runSection;
    uint32_t runStart;  // its resolved start
    const char* header;
    bool runSectionFromEnd = false;
  };
  const Case cases[] = {
      {"segment start", {}, {{"name", ".r"}}, 0, "  .c __RAM_segment_start__ (NOLOAD) : AT(__FLASH_segment_start__)\n"},
      {"after a section", {{"name", ".b"}}, {{"name", ".r"}}, 0, "  .c __b_end__ (NOLOAD) : AT(__FLASH_segment_start__)\n"},
      {"after a relocated section", {{"name", ".b"}, {"runoffset", "4"}}, {{"name", ".r"}}, 0,
       "  .c __b_end__ (NOLOAD) : AT(__FLASH_segment_start__)\n"},
      {"alignment 1 still wraps", {}, {{"name", ".r"}, {"alignment", "1"}}, 0,
       "  .c ALIGN(__RAM_segment_start__ , 1) (NOLOAD) : AT(__FLASH_segment_start__)\n"},
      {"resolved start in hex", {{"name", ".b"}}, {{"name", ".r"}, {"start", "+16"}, {"alignment", "8"}}, 0x20000010,
       "  .c 0x20000010 (NOLOAD) : AT(__FLASH_segment_start__)\n"},
      {"end placement of the run section ignored", {{"name", ".b"}}, {{"name", ".r"}, {"size", "16"}}, 0,
       "  .c __b_end__ (NOLOAD) : AT(__FLASH_segment_start__)\n", true},
  };
  for (const Case& c : cases) {
    Sections s;
    const MemoryMapElement& flash = s.segment("FLASH");
    const MemoryMapElement& ram = s.segment("RAM");
    if (!c.before.empty())
      s.add(ram, c.before);
    LayoutSection& runSection = s.add(ram, c.runSection, c.runStart);
    runSection.placeFromEnd = c.runSectionFromEnd;
    runSection.endOffset = c.runSectionFromEnd ? 16 : 0;
    s.add(flash, {{"name", ".c"}, {"runin", "nothing;;.r"}});
    const std::string text = s.layout();
    const size_t line = text.find("\n  .c ");
    ASSERT_NE(line, std::string::npos) << c.what << text;
    EXPECT_EQ(text.substr(line + 1, text.find('\n', line + 1) - line), c.header) << c.what;
    // A runin naming several candidates makes the section nobody's client.
    EXPECT_EQ(text.find("SIZEOF(.c), .)"), std::string::npos) << c.what;
  }
}

TEST(SectionLayout, RunOffsetStatement) {
  Sections s;
  s.add(s.segment("FLASH"), {{"name", ".ro"}, {"load", "Yes"}, {"runoffset", "0x1000"}, {"address_symbol", "ro"}});
  EXPECT_EQ(statementOf(s.layout(), "  __ro_load_start__"),
            "  __ro_load_start__ = __FLASH_segment_start__;\n"
            "  .ro __ro_load_start__ + 0x1000 : AT(__FLASH_segment_start__)\n"
            "  {\n"
            "    __ro_start__ = .;\n"
            "    ro =   __ro_start__;\n"
            "    *(.ro .ro.*)\n"
            "  }\n"
            "  __ro_end__ = __ro_start__ + SIZEOF(.ro);\n"
            "  __ro_size__ = SIZEOF(.ro);\n"
            "  __ro_load_end__ = __ro_load_start__ + SIZEOF(.ro);\n"
            "\n");
}

TEST(SectionLayout, RunOffsetSectionWithClientsReservesNothing) {
  Sections s;
  const MemoryMapElement& ram = s.segment("RAM");
  s.add(ram, {{"name", ".r"}, {"runoffset", "8"}});
  s.add(s.segment("FLASH"), {{"name", ".c"}, {"runin", ".r"}});
  const std::string text = s.layout();
  EXPECT_EQ(text.find("MAX("), std::string::npos) << text;
  EXPECT_NE(text.find("  .c __RAM_segment_start__ (NOLOAD) : AT(__FLASH_segment_start__)\n"), std::string::npos);
}

TEST(SectionLayout, RunInAndRunOffsetTogetherIsRunIn) {
  Sections s;
  s.add(s.segment("RAM"), {{"name", ".r"}});
  s.add(s.segment("FLASH"), {{"name", ".c"}, {"runin", ".r"}, {"runoffset", "8"}, {"start", "0x100"}});
  const std::string text = s.layout(true);
  EXPECT_NE(text.find("  .c __RAM_segment_start__ (NOLOAD) : AT(0x100)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  . = ASSERT(__c_load_start__ == __c_load_end__ ||"), std::string::npos) << text;
}

TEST(SectionLayout, OverlapCheckUsesLoadSymbolsOfRelocatedSections) {
  Sections s;
  s.add(s.segment("RUN"), {{"name", ".r"}});
  const MemoryMapElement& flash = s.segment("FLASH");
  s.add(flash, {{"name", ".p"}, {"runoffset", "4"}});
  s.add(flash, {{"name", ".q"}, {"runin", ".r"}, {"start", "0x400"}});
  EXPECT_NE(s.layout(true).find("  . = ASSERT(__p_load_end__ <= __q_load_start__ , \"error: section .p overlaps "
                                "absolute placed section .q\");\n\n"),
            std::string::npos);
}

TEST(SectionLayout, RunSectionWithAddressSymbolAndSeveralClients) {
  Sections s;
  const MemoryMapElement& flash = s.segment("FLASH");
  s.add(flash, {{"name", ".c1"}, {"runin", ".r"}});
  s.add(flash, {{"name", ".c2"}, {"runin", ".r"}});
  s.add(s.segment("RAM"), {{"name", ".r"}, {"address_symbol", "r_at"}, {"size", "64"}});
  EXPECT_EQ(statementOf(s.layout(), "  .r "),
            "  .r __RAM_segment_start__ (NOLOAD) :\n"
            "  {\n"
            "    __r_start__ = .;\n"
            "    r_at =   __r_start__;\n"
            "    . = MAX(__r_start__ + SIZEOF(.c1), .);\n"
            "    . = MAX(__r_start__ + SIZEOF(.c2), .);\n"
            "    . = MAX(__r_start__ + 64 , .);\n"
            "  }\n"
            "  __r_end__ = __r_start__ + SIZEOF(.r);\n"
            "  __r_size__ = SIZEOF(.r);\n"
            "  __r_load_end__ = __r_end__;\n"
            "\n");
}

TEST(SectionLayout, Errors) {
  struct Case {
    const char* what;
    std::function<void(Sections&)> build;
    const char* message;
  };
  const Case cases[] = {
      {"run section before its client in one segment",
       [](Sections& s) {
         const MemoryMapElement& seg = s.segment("S");
         s.add(seg, {{"name", ".r"}});
         s.add(seg, {{"name", ".c"}, {"runin", ".r"}});
       },
       "cyclic memory section dependency with section .r"},
      {"runin names itself",
       [](Sections& s) { s.add(s.segment("S"), {{"name", ".c"}, {"runin", ".c"}}); },
       "run section .c cannot have run in sections"},
      {"run section with runin and clients",
       [](Sections& s) {
         s.add(s.segment("A"), {{"name", ".x"}});
         s.add(s.segment("B"), {{"name", ".r"}, {"runin", ".x"}});
         s.add(s.segment("C"), {{"name", ".c"}, {"runin", ".r"}});
       },
       "run section .r cannot have run in sections"},
      {"missing run section",
       [](Sections& s) { s.add(s.segment("S"), {{"name", ".fast"}, {"runin", ".none;.other"}}); },
       "cannot find run section .none;.other referenced in fast"},
      {"empty runin",
       [](Sections& s) { s.add(s.segment("S"), {{"name", ".fast"}, {"runin", ""}}); },
       "cannot find run section  referenced in fast"},
      {"candidate with a blank never matches",
       [](Sections& s) {
         s.add(s.segment("S"), {{"name", "my run"}});
         s.add(s.segment("T"), {{"name", ".c"}, {"runin", "my run"}});
       },
       "cannot find run section my run referenced in c"},
  };
  for (const Case& c : cases) {
    Sections s;
    c.build(s);
    const std::string text = s.layout();
    const size_t error = text.find("ERROR ");
    ASSERT_NE(error, std::string::npos) << c.what;
    EXPECT_EQ(text.substr(error + 6), c.message) << c.what;
  }
}

TEST(SectionLayout, MissingRunSectionDiscarded) {
  Sections s;
  s.options.missingRunInError = false;
  const MemoryMapElement& flash = s.segment("FLASH");
  s.add(flash, {{"name", ".a"}});
  s.add(flash, {{"name", ".gone1"}, {"runin", ".none"}});
  s.add(flash, {{"name", ".gone2"}, {"runin", ".none"}});
  s.add(flash, {{"name", ".b"}, {"alignment", "2"}});
  s.add(flash, {{"name", ".gone3"}, {"runin", ""}});
  const std::string text = s.layout();
  EXPECT_EQ(text.find("gone"), std::string::npos) << text;
  EXPECT_NE(text.find("  .b ALIGN(__a_end__ , 2) (NOLOAD) : AT(ALIGN(__a_end__ , 2))\n"), std::string::npos) << text;
  // The discarded last section takes the segment's used symbols with it.
  EXPECT_EQ(text.find("segment_used"), std::string::npos) << text;
  for (const auto& entry : s.entries) {
    EXPECT_TRUE(entry->laidOut);
    EXPECT_FALSE(entry->layingOut);
    EXPECT_EQ(entry->discarded, entry->name.rfind(".gone", 0) == 0);
  }
}

TEST(SectionLayout, AllPredecessorsDiscardedStartsAtSegmentStart) {
  Sections s;
  s.options.missingRunInError = false;
  const MemoryMapElement& flash = s.segment("FLASH");
  s.add(flash, {{"name", ".gone"}, {"runin", ".none"}});
  s.add(flash, {{"name", ".b"}});
  EXPECT_NE(s.layout().find("  .b __FLASH_segment_start__ (NOLOAD) : AT(__FLASH_segment_start__)\n"),
            std::string::npos);
}

TEST(SectionLayout, VerboseLinesFollowTheWalk) {
  Sections s;
  s.options.missingRunInError = false;
  const MemoryMapElement& flash = s.segment("FLASH");
  const MemoryMapElement& ram = s.segment("RAM");
  LayoutSection& text = s.add(flash, {{"name", ".text"}});
  LayoutSection& fast = s.add(flash, {{"name", ".fast"}, {"runin", ".run"}});
  LayoutSection& gone = s.add(flash, {{"name", ".gone"}, {"runin", ".nowhere"}});
  LayoutSection& run = s.add(ram, {{"name", ".run"}});
  s.options.verbose = true;
  testing::internal::CaptureStdout();
  s.layout(false, "", {&run, &text, &gone, &fast});
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Laying out section .run\n"
            "Laying out section .fast\n"
            "Laying out section .text\n"
            "Laying out section .text\n"
            "Section .text already laid out\n"
            "Laying out section .gone\n"
            "Discarding .gone because run in section .nowhere not found\n"
            "Laying out section .fast\n"
            "Section .fast already laid out\n");
}

// A chain far longer than any call stack could follow, laid out from its
// last entry: the same text as laying it out from the first.
TEST(SectionLayout, LongChainFromItsEnd) {
  const int kLength = 100000;
  std::string forward;
  std::string backward;
  for (const bool fromEnd : {false, true}) {
    Sections s;
    const MemoryMapElement& ram = s.segment("RAM");
    const MemoryMapElement& flash = s.segment("FLASH");
    // A client at the end of FLASH runs in the last section of RAM, so its
    // run address needs the RAM chain first.
    for (int i = 0; i < 100; ++i)
      s.add(ram, {{"name", ".r" + std::to_string(i)}});
    for (int i = 0; i < kLength; ++i)
      s.add(flash, {{"name", ".f" + std::to_string(i)}, {"alignment", "4"}});
    s.add(flash, {{"name", ".c"}, {"runin", ".r99"}});
    std::vector<LayoutSection*> order;
    if (fromEnd)
      order.push_back(s.entries.back());
    for (const auto& entry : s.entries)
      order.push_back(entry);
    (fromEnd ? backward : forward) = s.layout(false, "", order);
  }
  EXPECT_EQ(forward.find("ERROR"), std::string::npos);
  EXPECT_EQ(backward.size(), forward.size());
  EXPECT_NE(backward.find("  .c __r98_end__ (NOLOAD) : AT(__f99999_end__)\n"), std::string::npos);
  EXPECT_NE(backward.find("  .f1 ALIGN(__f0_end__ , 4) (NOLOAD)"), std::string::npos);
  // From the end, the client's own chain comes first, then the run section's
  // predecessors; in list order, the RAM chain comes first.
  EXPECT_LT(backward.find("  .f0 "), backward.find("  .r0 "));
  EXPECT_LT(forward.find("  .r0 "), forward.find("  .f0 "));
}

TEST(SectionLayout, LongChainCycle) {
  Sections s;
  const MemoryMapElement& seg = s.segment("S");
  s.add(seg, {{"name", ".run"}});
  for (int i = 0; i < 100000; ++i)
    s.add(seg, {{"name", ".x" + std::to_string(i)}});
  s.add(seg, {{"name", ".c"}, {"runin", ".run"}});
  const std::string text = s.layout(false, "", {s.entries.back()});
  // The run section lays out its client, which is met again.
  EXPECT_EQ(text, "ERROR cyclic memory section dependency with section .c");
  EXPECT_TRUE(s.entries.front()->layingOut);
  EXPECT_FALSE(s.entries.front()->laidOut);
}

// The walk described recursively, as a reference for the order in which the
// explicit stack visits, writes and discards entries.
class RecursiveModel {
public:
  RecursiveModel(const std::vector<LayoutSection*>& entries, bool missingRunInError)
      : entries_(entries), missingRunInError_(missingRunInError) {
    for (LayoutSection* entry : entries)
      state_[entry] = {};
  }

  void layout(LayoutSection* entry) {
    log += "Laying out section " + entry->name + "\n";
    State& state = state_[entry];
    if (state.laidOut) {
      log += "Section " + entry->name + " already laid out\n";
      return;
    }
    if (state.layingOut)
      throw "cyclic memory section dependency with section " + entry->name;
    state.layingOut = true;
    if (entry->prev && !state_[entry->prev].laidOut)
      layout(entry->prev);
    std::vector<LayoutSection*> clients;
    for (LayoutSection* other : entries_) {
      if (other->attributes.runIn && *other->attributes.runIn == entry->name)
        clients.push_back(other);
    }
    const std::string* runIn = entry->attributes.runIn;
    if (runIn && !clients.empty())
      throw "run section " + entry->name + " cannot have run in sections";
    if (runIn) {
      LayoutSection* found = nullptr;
      for (const QString& candidate : fromBytes(*runIn).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        for (LayoutSection* other : entries_) {
          if (!found && other->name == toStdBytes(candidate))
            found = other;
        }
        if (found)
          break;
      }
      if (!found) {
        if (missingRunInError_)
          throw "cannot find run section " + *runIn + " referenced in " + entry->name.substr(1);
        log += "Discarding " + entry->name + " because run in section " + *runIn + " not found\n";
        state = {false, true, true};
        return;
      }
      LayoutSection* before = found->prev;
      while (before && state_[before].discarded)
        before = before->prev;
      if (before && !state_[before].laidOut)
        layout(before);
    } else if (!entry->attributes.runOffset) {
      for (LayoutSection* client : clients)
        layout(client);
    }
    written += entry->name + " ";
    state_[entry] = {false, true, false};
  }

  std::string log;
  std::string written;

private:
  struct State {
    bool layingOut = false;
    bool laidOut = false;
    bool discarded = false;
  };
  const std::vector<LayoutSection*>& entries_;
  const bool missingRunInError_;
  std::map<LayoutSection*, State> state_;
};

TEST(SectionLayout, SameWalkAsTheRecursiveDescription) {
  std::mt19937 random(12345);
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 2000; ++round) {
    Sections s;
    s.options.missingRunInError = pick(2) == 0;
    const int segmentCount = 1 + pick(3);
    std::vector<const MemoryMapElement*> segments;
    for (int i = 0; i < segmentCount; ++i)
      segments.push_back(&s.segment("S" + std::to_string(i)));
    const int count = 1 + pick(8);
    auto anyName = [&] { return ".s" + std::to_string(pick(count + 1)); };
    for (int i = 0; i < count; ++i) {
      Attributes attributes = {{"name", anyName()}};
      const int kind = pick(20);
      if (kind < 5)
        attributes.push_back({"runin", anyName()});
      else if (kind < 7)
        attributes.push_back({"runin", anyName() + ";" + anyName()});
      else if (kind < 8)
        attributes.push_back({"runin", ""});
      if (pick(6) == 0)
        attributes.push_back({"runoffset", "4"});
      s.add(*segments[static_cast<size_t>(pick(segmentCount))], attributes);
    }

    RecursiveModel model(s.entries, s.options.missingRunInError);
    std::string expectedError;
    try {
      for (const auto& entry : s.entries)
        model.layout(entry);
    } catch (const std::string& message) {
      expectedError = message;
    }

    s.options.verbose = true;
    testing::internal::CaptureStdout();
    const std::string text = s.layout();
    const std::string log = testing::internal::GetCapturedStdout();

    std::string written;
    for (size_t at = text.find("_size__ = SIZEOF("); at != std::string::npos;
         at = text.find("_size__ = SIZEOF(", at + 1)) {
      const size_t begin = at + 17;
      written += text.substr(begin, text.find(')', begin) - begin) + " ";
    }
    const size_t error = text.find("ERROR ");
    EXPECT_EQ(log, model.log) << "round " << round;
    EXPECT_EQ(written, model.written) << "round " << round;
    EXPECT_EQ(error == std::string::npos ? "" : text.substr(error + 6), expectedError) << "round " << round;
    if (HasFailure())
      break;
  }
}

}  // namespace
