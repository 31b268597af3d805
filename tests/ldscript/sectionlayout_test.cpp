#include "ldscript/sectionlayout.h"

#include <gtest/gtest.h>

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
    MemoryMapElement* element = arena_.make<MemoryMapElement>("MemorySegment");
    element->setAttribute(arena_, "name", arena_.copy(name));
    return *element;
  }

  // Appends a section to the chain of `segment`.
  LayoutSection& add(const MemoryMapElement& segment, const Attributes& attributes, uint32_t start = 0) {
    MemoryMapElement& element = *arena_.make<MemoryMapElement>("ProgramSection");
    for (const auto& [name, value] : attributes)
      element.setAttribute(arena_, arena_.copy(name), arena_.copy(value));
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
      error = "ERROR " + toStdBytes(e.diagnostic().plain);
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
  Arena arena_;
  std::map<const MemoryMapElement*, LayoutSection*> newest_;
};

// What the script says is checked by the golden cases of tests/e2e; these
// are the walks that no hand-written file reaches.

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
    const std::string_view* runIn = entry->attributes.runIn;
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
          throw "cannot find run section " + std::string(*runIn) + " referenced in " + entry->name.substr(1);
        log += "Discarding " + entry->name + " because run in section " + std::string(*runIn) + " not found\n";
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
