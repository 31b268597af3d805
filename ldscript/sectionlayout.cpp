#include "ldscript/sectionlayout.h"

#include <initializer_list>
#include <string>

#include "base/bytes.h"
#include "base/console.h"
#include "base/fatalerror.h"

namespace {

using namespace std::string_view_literals;

QString message(std::initializer_list<std::string_view> pieces) {
  std::string text;
  for (std::string_view piece : pieces)
    text += piece;
  return fromBytes(text);
}

[[noreturn]] void fail(std::initializer_list<std::string_view> pieces) { throw FatalError(message(pieces)); }

// The nearest section before `section` in its segment that was not
// discarded. A section is discarded only after everything before it is laid
// out, so the predecessor it recorded then stays valid and each lookup is
// one step.
LayoutSection* predecessorOf(const LayoutSection& section) {
  LayoutSection* previous = section.prev;
  return previous && previous->discarded ? previous->predecessor : previous;
}

// Where the stored image starts, from what comes before it.
void placeLoad(LayoutSection& section) {
  const SectionAttributes& attributes = section.attributes;
  if (attributes.hasStart()) {
    section.load = LoadAddress::Start;
  } else if (section.placeFromEnd) {
    section.load = LoadAddress::FromSegmentEnd;
  } else {
    if (attributes.hasAlignment() && attributes.alignmentValue > 1)
      section.loadAlignment = attributes.alignmentValue;
    if (!section.predecessor)
      section.load = LoadAddress::SegmentStart;
    else if (!section.predecessor->attributes.relocated())
      section.load = LoadAddress::AfterSection;
    else
      section.load = LoadAddress::AfterStoredCopy;
  }
}

}  // namespace

// One section's layout, suspended while something it depends on is laid out.
struct SectionLayout::Frame {
  enum class Step : uint8_t { Enter, Prepare, RunIn, Clients };

  explicit Frame(LayoutSection* section) : section(section) {}

  LayoutSection* section;
  Step step = Step::Enter;
  uint32_t nextClient = 0;
};

SectionLayout::SectionLayout(LayoutModel& model, const ScriptOptions& options)
    : model_(model), missingRunInError_(options.missingRunInError), verbose_(options.verbose) {
  firstByName_.reserve(model.sections.size());
  for (LayoutSection& section : model.sections) {
    firstByName_.emplace(section.name, &section);  // keeps the first of a name
    if (section.attributes.runIn)
      model.clientsByRunIn[*section.attributes.runIn].push_back(&section);
  }
  model.order.reserve(model.sections.size());
}

SectionLayout::~SectionLayout() = default;

void SectionLayout::layoutSection(LayoutSection& section) {
  stack_.clear();
  stack_.emplace_back(&section);
  while (!stack_.empty()) {
    if (LayoutSection* dependency = advance(stack_.back()))
      stack_.emplace_back(dependency);
    else
      stack_.pop_back();
  }
}

// Runs `frame` until it needs another section laid out (returned) or is done
// (null).
LayoutSection* SectionLayout::advance(Frame& frame) {
  LayoutSection& section = *frame.section;
  for (;;) {
    switch (frame.step) {
      case Frame::Step::Enter:
        if (verbose_)
          printOutput(message({"Laying out section "sv, section.name, "\n"sv}));
        if (section.laidOut) {
          if (verbose_)
            printOutput(message({"Section "sv, section.name, " already laid out\n"sv}));
          return nullptr;
        }
        if (section.layingOut)
          fail({"cyclic memory section dependency with section "sv, section.name});
        section.layingOut = true;
        frame.step = Frame::Step::Prepare;
        if (section.prev && !section.prev->laidOut)
          return section.prev;
        break;

      case Frame::Step::Prepare: {
        const SectionAttributes& attributes = section.attributes;
        section.predecessor = predecessorOf(section);
        placeLoad(section);
        section.noload = !attributes.isLoad();
        const auto clients = model_.clientsByRunIn.find(section.name);
        if (clients != model_.clientsByRunIn.end())
          section.clients = &clients->second;
        if (attributes.runIn && section.clients)
          fail({"run section "sv, section.name, " cannot have run in sections"sv});

        if (attributes.runIn) {
          section.runSection = findRunSection(section);
          if (!section.runSection) {
            if (missingRunInError_)
              fail({"cannot find run section "sv, *attributes.runIn, " referenced in "sv, section.stem});
            if (verbose_) {
              printOutput(message({"Discarding "sv, section.name, " because run in section "sv, *attributes.runIn,
                                   " not found\n"sv}));
            }
            section.discarded = true;
            section.layingOut = false;
            section.laidOut = true;
            return nullptr;
          }
          section.run = RunForm::RunSection;
          section.runPredecessor = predecessorOf(*section.runSection);
          frame.step = Frame::Step::RunIn;
          if (section.runPredecessor && !section.runPredecessor->laidOut)
            return section.runPredecessor;
        } else if (attributes.runOffset) {
          section.run = RunForm::Offset;
          finish(section);
          return nullptr;
        } else if (section.clients) {
          section.run = RunForm::Reserve;
          frame.step = Frame::Step::Clients;
        } else {
          finish(section);
          return nullptr;
        }
        break;
      }

      case Frame::Step::RunIn:
        finish(section);
        return nullptr;

      case Frame::Step::Clients:
        // Every client is visited, even one already laid out, as a recursive
        // call would (its verbose lines show it).
        if (frame.nextClient < section.clients->size())
          return (*section.clients)[frame.nextClient++];
        finish(section);
        return nullptr;
    }
  }
}

void SectionLayout::finish(LayoutSection& section) {
  section.layingOut = false;
  section.laidOut = true;
  model_.order.push_back(&section);
}

// The first section named by a runin candidate ("a;b": a, else b), trying
// the candidates in order; empty candidates are skipped.
LayoutSection* SectionLayout::findRunSection(const LayoutSection& section) const {
  std::string_view rest = *section.attributes.runIn;
  while (!rest.empty()) {
    const size_t end = rest.find(';');
    const std::string_view candidate = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (candidate.empty())
      continue;
    const auto found = firstByName_.find(candidate);
    if (found != firstByName_.end())
      return found->second;
  }
  return nullptr;
}

void layoutSections(LayoutModel& model, const ScriptOptions& options) {
  SectionLayout layout(model, options);
  for (LayoutSection& section : model.sections)
    layout.layoutSection(section);
}
