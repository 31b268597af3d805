#include "ldscript/sectionlayout.h"

#include <initializer_list>
#include <string>

#include "base/bytes.h"
#include "base/console.h"
#include "base/diagnostics.h"
#include "base/didyoumean.h"
#include "base/fatalerror.h"
#include "ldscript/layoutchecks.h"

namespace {

using namespace std::string_view_literals;

QString message(std::initializer_list<std::string_view> pieces) {
  std::string text;
  for (std::string_view piece : pieces)
    text += piece;
  return fromBytes(text);
}

QString nameOf(const LayoutSection& section) { return fromBytes(section.name); }

// The nearest section before `section` in its segment that was not
// discarded. A section is discarded only after everything before it is laid
// out, so the predecessor it recorded then stays valid and each lookup is
// one step.
LayoutSection* predecessorOf(const LayoutSection& section) {
  LayoutSection* previous = section.prev;
  return previous && previous->discarded ? previous->predecessor : previous;
}

// Calls `visit` with each candidate of a runin text ("a;b": a, then b) in
// order; empty candidates are skipped.
template <typename Visit>
void forEachCandidate(std::string_view runIn, Visit visit) {
  while (!runIn.empty()) {
    const size_t end = runIn.find(';');
    const std::string_view candidate = runIn.substr(0, end);
    runIn = end == std::string_view::npos ? std::string_view() : runIn.substr(end + 1);
    if (!candidate.empty())
      visit(candidate);
  }
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

SectionLayout::SectionLayout(LayoutModel& model, const ScriptOptions& options, Diagnostics* diagnostics)
    : model_(model),
      missingRunInError_(options.missingRunInError),
      verbose_(options.verbose),
      diagnostics_(diagnostics && diagnostics->located() ? diagnostics : nullptr) {
  // Only the names that a runin candidate or a load_with asks for are
  // indexed: a table entry per request, not one per section.
  for (const LayoutSection& section : model.sections) {
    if (const std::string_view* runIn = section.attributes.runIn)
      forEachCandidate(*runIn, [this](std::string_view candidate) { firstByName_.emplace(candidate, nullptr); });
    if (const std::string_view* loadWith = section.attributes.loadWith)
      firstByName_.emplace(*loadWith, nullptr);
  }
  if (!firstByName_.empty()) {
    for (LayoutSection& section : model.sections) {
      const auto found = firstByName_.find(section.name);
      if (found != firstByName_.end() && !found->second)
        found->second = &section;  // the first of a name
    }
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
        if (section.layingOut) {
          const QString text = message({"cyclic memory section dependency with section "sv, section.name});
          Diagnostic error = errorAt(section, text, text);
          if (diagnostics_)
            noteCycle(section, error);
          throw FatalError(std::move(error));
        }
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
        if (attributes.loadWith)
          section.storedWith = findStoredWith(section);
        section.clients = model_.clientsOf(section.name);
        if (attributes.runIn && section.clients) {
          const QString text = message({"run section "sv, section.name, " cannot have run in sections"sv});
          Diagnostic error = errorAt(section, text, text);
          if (diagnostics_) {
            for (const LayoutSection* client : *section.clients) {
              addNote(error, *client,
                      QStringLiteral("section %1 runs in section %2").arg(nameOf(*client), nameOf(section)));
            }
          }
          throw FatalError(std::move(error));
        }

        if (attributes.runIn) {
          section.runSection = findRunSection(section);
          if (!section.runSection) {
            if (missingRunInError_) {
              const QString text =
                  message({"cannot find run section "sv, *attributes.runIn, " referenced in "sv, section.stem});
              throw FatalError(errorAt(section, text, diagnostics_ ? text + suggestRunSection(*attributes.runIn)
                                                                    : QString()));
            }
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
        } else if (section.clients) {  // LayoutModel::isRunSection, with the clients at hand
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

// Notes, at each section of the cycle that `section` closes, what it waits
// for: the frames from the first of `section` up to the top each wait for
// the next.
void SectionLayout::noteCycle(const LayoutSection& section, Diagnostic& error) {
  size_t first = stack_.size() - 1;
  while (first > 0 && stack_[first - 1].section != &section)
    --first;
  if (first == 0)
    return;
  for (size_t i = first - 1; i + 1 < stack_.size(); ++i) {
    const LayoutSection& waiting = *stack_[i].section;
    const LayoutSection& next = *stack_[i + 1].section;
    QString text;
    switch (stack_[i].step) {
      case Frame::Step::Prepare:
        text = QStringLiteral("section %1 comes after section %2 in segment %3")
                   .arg(nameOf(waiting), nameOf(next), fromBytes(std::string(waiting.segment)));
        break;
      case Frame::Step::RunIn:
        text = QStringLiteral("section %1 runs in section %2, which comes after section %3 in segment %4")
                   .arg(nameOf(waiting), nameOf(*waiting.runSection), nameOf(next),
                        fromBytes(std::string(waiting.runSection->segment)));
        break;
      case Frame::Step::Clients:
        text = QStringLiteral("section %1 reserves the space of section %2, which runs in it")
                   .arg(nameOf(waiting), nameOf(next));
        break;
      case Frame::Step::Enter:
        continue;
    }
    addNote(error, waiting, text);
  }
  // The usual cause: a run section placed in the segment its client is
  // stored in, as when both go to flash. Its space and the stored copy
  // then each follow the other.
  for (size_t i = first - 1; i + 1 < stack_.size(); ++i) {
    const LayoutSection& waiting = *stack_[i].section;
    const LayoutSection* client = stack_[i].step == Frame::Step::RunIn ? &waiting : nullptr;
    if (stack_[i].step == Frame::Step::Clients)
      client = stack_[i + 1].section;
    const LayoutSection* runSection = client ? client->runSection : nullptr;
    if (stack_[i].step == Frame::Step::Clients)
      runSection = &waiting;
    if (!client || !runSection || client->segmentElement != runSection->segmentElement)
      continue;
    const QString segment = fromBytes(std::string(runSection->segment));
    addNote(error, *runSection,
            QStringLiteral("section %1, where section %2 runs, is placed in segment %3, where %2 is stored: the "
                           "space it reserves and the stored copy each wait for the other; place %1 in %4")
                .arg(nameOf(*runSection), nameOf(*client), segment,
                     runSection->segmentElement->isReadOnly() ? QStringLiteral("a read-write segment")
                                                              : QStringLiteral("another segment")));
    return;
  }
}

Diagnostic SectionLayout::errorAt(const LayoutSection& section, const QString& plain, const QString& text) const {
  if (!diagnostics_)
    return {Severity::Error, {}, QString(), plain, {}};
  Diagnostic error = diagnosticAt(Severity::Error, section, text);
  error.plain = plain;
  return error;
}

// The note at `section`, then how its element got there.
void SectionLayout::addNote(Diagnostic& diagnostic, const LayoutSection& section, const QString& text) {
  Diagnostic note = diagnosticAt(Severity::Note, section, text);
  diagnostic.notes.push_back({note.where, note.text});
  diagnostic.notes.insert(diagnostic.notes.end(), note.notes.begin(), note.notes.end());
}

// "; did you mean ..." for the first runin candidate close to a section
// name, or empty.
QString SectionLayout::suggestRunSection(std::string_view runIn) const {
  QStringList names;
  for (const LayoutSection& section : model_.sections)
    names.append(fromBytes(section.name));
  for (const QString& candidate : fromBytes(std::string(runIn)).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const QString suggestion = didYouMean(candidate, names);
    if (!suggestion.isEmpty())
      return suggestion;
  }
  return QString();
}

// The section that load_with names; an error when there is none, or when
// the section is itself stored apart from where it runs.
const LayoutSection* SectionLayout::findStoredWith(const LayoutSection& section) const {
  const std::string_view name = *section.attributes.loadWith;
  QString text;
  const LayoutSection* found = firstByName_.at(name);
  if (section.attributes.relocated())
    text = message({"section "sv, section.name, " has load_with and runs elsewhere (runin or runoffset)"sv});
  else if (!found)
    text = message({"cannot find section "sv, name, " named by load_with of "sv, section.name});
  if (text.isEmpty())
    return found;
  throw FatalError(errorAt(section, text, text));
}

// The first section named by a runin candidate ("a;b": a, else b), trying
// the candidates in order; empty candidates are skipped.
LayoutSection* SectionLayout::findRunSection(const LayoutSection& section) const {
  LayoutSection* found = nullptr;
  forEachCandidate(*section.attributes.runIn, [this, &found](std::string_view candidate) {
    if (!found)
      found = firstByName_.at(candidate);
  });
  return found;
}

void layoutSections(LayoutModel& model, const ScriptOptions& options, Diagnostics* diagnostics) {
  SectionLayout layout(model, options, diagnostics);
  for (LayoutSection& section : model.sections)
    layout.layoutSection(section);
}
