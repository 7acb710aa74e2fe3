// Reading and validating documents: time, throughput and peak heap use.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "main/tunnel_config.hpp"
#include "main/validation.hpp"

namespace {

// Heap accounting for the peak bytes held during one read. The size is stored in front of
// each block so that delete can subtract it.
std::size_t live_bytes = 0;
std::size_t peak_bytes = 0;
constexpr std::size_t HEADER = alignof(std::max_align_t);

void* counted_allocate(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + HEADER));
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  *reinterpret_cast<std::size_t*>(block) = size;
  live_bytes += size;
  peak_bytes = std::max(peak_bytes, live_bytes);
  return block + HEADER;
}

void counted_free(void* pointer) {
  if (pointer == nullptr) {
    return;
  }
  auto* block = static_cast<unsigned char*>(pointer) - HEADER;
  live_bytes -= *reinterpret_cast<std::size_t*>(block);
  std::free(block);
}

const std::string KEY = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

std::string typical_document() {
  return R"({"private_key":")" + KEY + R"(","address":"10.8.0.2/24","dns":"10.8.0.1","mtu":1420,"peer_public_key":")" +
         KEY + R"(","endpoint":"198.51.100.7:51820","allowed_ips":["0.0.0.0/0"],"keepalive":25})";
}

// A document of about 64 KiB whose bulk is unrecognised members holding nested values.
std::string skipped_document() {
  std::string document = typical_document();
  document.pop_back();
  const std::string filler = R"(,"x":{"a":[1,-2.5e3,true,null,{"b":"t\u00e9xt","c":[[],{}]}],"d":[[[["deep"]]]]})";
  while (document.size() + filler.size() + 1 <= ferroglade::CONFIG_INPUT_LIMIT) {
    document += filler;
  }
  return document + "}";
}

void read_and_validate(benchmark::State& state, const std::string& document, bool must_succeed) {
  std::size_t peak = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop idiom
    const std::size_t before = live_bytes;
    peak_bytes = live_bytes;
    auto config = ferroglade::parse_config(document);
    if (config.ok()) {
      auto validated = ferroglade::validate_config(config.value());
      benchmark::DoNotOptimize(validated.ok());
    } else if (must_succeed) {
      state.SkipWithError(config.error().text.c_str());
      break;
    }
    peak = std::max(peak, peak_bytes - before);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document.size()));
  state.counters["input_bytes"] = static_cast<double>(document.size());
  state.counters["peak_heap_bytes"] = static_cast<double>(peak);
}

void BM_TypicalDocument(benchmark::State& state) { read_and_validate(state, typical_document(), true); }
void BM_SkippedNestedValues64KiB(benchmark::State& state) { read_and_validate(state, skipped_document(), true); }

// 64 KiB of "[" inside an unrecognised member: the bracket stack at its deepest.
void BM_UnclosedBrackets64KiB(benchmark::State& state) {
  std::string document = R"({"x":)";
  document.resize(ferroglade::CONFIG_INPUT_LIMIT, '[');
  read_and_validate(state, document, false);
}

BENCHMARK(BM_TypicalDocument);
BENCHMARK(BM_SkippedNestedValues64KiB);
BENCHMARK(BM_UnclosedBrackets64KiB);

}  // namespace

void* operator new(std::size_t size) { return counted_allocate(size); }
void* operator new[](std::size_t size) { return counted_allocate(size); }
void operator delete(void* pointer) noexcept { counted_free(pointer); }
void operator delete[](void* pointer) noexcept { counted_free(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { counted_free(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { counted_free(pointer); }

BENCHMARK_MAIN();
