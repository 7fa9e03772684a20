#include "bench/bench.h"
#include "core/source_document.h"
#include <windows.h>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <memory>
#include <vector>
namespace pellix { namespace {
using C = std::chrono::steady_clock;
double us(C::time_point s, int n){ return std::chrono::duration<double,std::micro>(C::now()-s).count()/n; }
unsigned long long heaps() {
    HANDLE hs[64]; DWORD n = GetProcessHeaps(64, hs); unsigned long long total = 0;
    for (DWORD i = 0; i < n; ++i) { PROCESS_HEAP_ENTRY e{}; HeapLock(hs[i]); while (HeapWalk(hs[i], &e)) if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += e.cbData; HeapUnlock(hs[i]); }
    return total;
}
void depth_stats(const SourceDocument::NodePtr& root) {
    size_t nodes = 0, sum = 0, maxd = 0;
    std::function<void(const SourceDocument::Node*, size_t)> walk = [&](const SourceDocument::Node* n, size_t d) {
        if (!n) return; ++nodes; sum += d; maxd = std::max(maxd, d); walk(n->left.get(), d + 1); walk(n->right.get(), d + 1); };
    walk(root.get(), 1);
    std::printf("nodes %zu, mean depth %.1f, max depth %zu\n", nodes, double(sum) / nodes, maxd);
}
void probe() {
    std::printf("heaps %llu\n", heaps());
    std::u16string text(0x7F0000, u'a');
    for (size_t i = 50; i < text.size(); i += 60) text[i] = u'\n';
    auto h0 = heaps();
    SourceDocument doc; doc.assign(text);
    std::printf("heap delta per unit %.3f\n", double(heaps() - h0) / text.size());
    depth_stats(doc.root);
    std::mt19937_64 rng(1); std::uniform_int_distribution<std::uint64_t> pos(0, doc.length());
    const int N = 20000;
    std::vector<std::uint64_t> ps(N); for (auto& p : ps) p = pos(rng);
    auto s = C::now();
    for (int i = 0; i < 1000; ++i) { doc.typing_open = false; doc.replace(ps[i] , ps[i], u"x", true); }
    std::printf("typed replace, history filling %.3f us\n", us(s, 1000));
    s = C::now();
    for (int i = 0; i < N; ++i) { doc.typing_open = false; doc.replace(ps[i] , ps[i], u"x", true); }
    std::printf("typed replace, history full %.3f us\n", us(s, N));
    depth_stats(doc.root);
}
bench::Registration reg("zz_rope_probe", probe);
}}
