// The string hash, unrolled eight bytes a turn, against the byte-by-byte
// definition; and churn of the shared-string table.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include <zep/strings.h>

namespace {

// The definition: h = h * 33 + signed byte, one byte a turn.
unsigned int hash_bytewise(const char *s, unsigned int modulus)
{
    uint32_t h = 0;
    for (; *s; ++s)
        h = h * 33u + static_cast<uint32_t>(static_cast<signed char>(*s));
    return h % modulus;
}

std::string text_of(int64_t length)
{
    std::string s;
    for (int64_t i = 0; i < length; ++i)
        s += static_cast<char>('!' + (i * 7) % 94);
    return s;
}

void BM_HashUnrolled(benchmark::State &state)
{
    std::string s = text_of(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.data());
        benchmark::DoNotOptimize(STR_hash(s.c_str(), 1023));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_HashUnrolled)->Arg(8)->Arg(64)->Arg(1024);

void BM_HashBytewise(benchmark::State &state)
{
    std::string s = text_of(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.data());
        benchmark::DoNotOptimize(hash_bytewise(s.c_str(), 1023));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_HashBytewise)->Arg(8)->Arg(64)->Arg(1024);

// Defines a set of names twice and undefines them twice: every name is
// added, counted, uncounted and removed once per turn.
void BM_DefineUndefineChurn(benchmark::State &state)
{
    std::vector<std::string> names;
    for (int64_t i = 0; i < state.range(0); ++i)
        names.push_back("frame." + std::to_string(i));
    for (auto _ : state) {
        for (const std::string &n : names)
            benchmark::DoNotOptimize(STR_define(n.c_str()));
        for (const std::string &n : names)
            benchmark::DoNotOptimize(STR_define(n.c_str()));
        for (const std::string &n : names)
            STR_undefine(n.c_str());
        for (const std::string &n : names)
            STR_undefine(n.c_str());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DefineUndefineChurn)->Arg(100)->Arg(10000);

} // namespace
