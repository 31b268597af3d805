// Start and size expressions as memory-map and placement files write them:
// each iteration evaluates one text, cycling through the set.
#include <benchmark/benchmark.h>

#include <QString>
#include <QStringList>

#include "expressions/evaluate.h"
#include "expressions/integerliteral.h"

namespace {

const QStringList& validTexts() {
  static const QStringList texts = {
      QStringLiteral("0x08000000"),          QStringLiteral("0x20000000 + 0x4000"),
      QStringLiteral("+0x100"),              QStringLiteral("(64 * 1024) - 0x400"),
      QStringLiteral("1 << 12"),             QStringLiteral("0x10000"),
      QStringLiteral("256"),                 QStringLiteral("0x80000000 + 32 * 1024"),
      QStringLiteral("16K"),                 QStringLiteral("0x400 * 4"),
  };
  return texts;
}

// Names left unexpanded and malformed text: each one throws inside.
const QStringList& failingTexts() {
  static const QStringList texts = {
      QStringLiteral("FLASH_START + 0x100"), QStringLiteral("$(RAM_SIZE)"),
      QStringLiteral("4 / 0"),               QStringLiteral("0x1000 +"),
      QStringLiteral("1 == 1"),              QStringLiteral("#"),
  };
  return texts;
}

void evaluateAll(benchmark::State& state, const QStringList& texts) {
  qsizetype next = 0;
  uint64_t sum = 0;
  for (auto _ : state) {
    const Evaluation<uint64_t> value = evaluateUnsigned(texts[next]);
    sum += value.value.value_or(0);
    benchmark::DoNotOptimize(value.error);
    if (++next == texts.size())
      next = 0;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}

void BM_EvaluateValid(benchmark::State& state) { evaluateAll(state, validTexts()); }
BENCHMARK(BM_EvaluateValid);

void BM_EvaluateFailing(benchmark::State& state) { evaluateAll(state, failingTexts()); }
BENCHMARK(BM_EvaluateFailing);

// Nine valid texts to one failing one, about what a hand-written map holds.
void BM_EvaluateMix(benchmark::State& state) {
  QStringList texts = validTexts();
  texts.removeLast();
  texts += failingTexts().first();
  evaluateAll(state, texts);
}
BENCHMARK(BM_EvaluateMix);

void BM_EvaluateBoolCondition(benchmark::State& state) {
  const QString text = QStringLiteral("\"rv32imac\" == \"rv32imac\" && 4 >= 2");
  for (auto _ : state) {
    benchmark::DoNotOptimize(evaluateBool(text));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvaluateBoolCondition);

void BM_ParseIntegerLiteral(benchmark::State& state) {
  const QString text = QStringLiteral("0x20000000UL");
  for (auto _ : state)
    benchmark::DoNotOptimize(parseIntegerLiteral(text));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseIntegerLiteral);

// One long left-associative chain: the explicit-stack walks at scale.
void BM_EvaluateLongChain(benchmark::State& state) {
  QString text = QStringLiteral("1");
  for (int i = 1; i < 10000; ++i)
    text += QStringLiteral(" + 1");
  for (auto _ : state) {
    benchmark::DoNotOptimize(evaluateUnsigned(text));
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_EvaluateLongChain);

}  // namespace
