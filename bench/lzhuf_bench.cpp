// Encode and decode throughput on 1 MiB of message-like text, made the same
// way on every run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "fwd/lzhuf.h"

namespace {

// Lines of words drawn by a fixed linear congruential generator.
std::string MessageText(size_t size) {
  static const char* const kWords[] = {
      "the",    "BBS",    "forward", "message", "packet",  "radio",   "73",    "de",
      "QSL",    "route",  "via",     "XX9ORN",  "bulletin", "weather", "node",  "sysop",
      "please", "antenna", "band",   "1200",    "baud",    "link",    "R:",    "@",
      "WW",     "net",    "2m",      "report",  "station", "from",    "to",    "and"};
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 16;
  };
  std::string text;
  size_t column = 0;
  while (text.size() < size) {
    std::string word = kWords[next() % (sizeof kWords / sizeof kWords[0])];
    if (next() % 13 == 0) word = std::to_string(next() % 10000);
    text += word;
    column += word.size();
    if (column > 60 + next() % 15) {
      text += "\r\n";
      column = 0;
    } else {
      text += ' ';
      ++column;
    }
  }
  text.resize(size);
  return text;
}

const std::string& Text() {
  static const std::string text = MessageText(1 << 20);
  return text;
}

void BM_LzhufEncode(benchmark::State& state) {
  const std::string& text = Text();
  orn::LzhufEncoder encoder;
  std::string code;
  for (auto _ : state) {
    code.clear();
    encoder.Encode(text, &code);
    benchmark::DoNotOptimize(code.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["ratio"] = static_cast<double>(code.size()) / static_cast<double>(text.size());
}
BENCHMARK(BM_LzhufEncode)->Unit(benchmark::kMillisecond);

void BM_LzhufDecode(benchmark::State& state) {
  const std::string& text = Text();
  std::string code;
  orn::LzhufEncode(text, &code);
  orn::LzhufDecoder decoder;
  std::string back;
  for (auto _ : state) {
    decoder.Decode(code, &back);
    benchmark::DoNotOptimize(back.data());
  }
  if (back != text) state.SkipWithError("decoded text differs");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_LzhufDecode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
