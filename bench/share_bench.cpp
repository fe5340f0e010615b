// The quick sharing pass on a tree of about a million nodes, half of whose subtrees are
// built twice, against the same pass written here over std::unordered_map and
// std::unordered_set with the library's shallow equality and hash. Both release their result
// inside the timed loop.
#include <benchmark/benchmark.h>

#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <quarn/quarn.h>

namespace {

constexpr unsigned kDepth = 19;  // 2^20 - 1 nodes
constexpr size_t kNodes = (size_t{1} << (kDepth + 1)) - 1;

quarn_object *node(uint32_t tag, quarn_object *left, quarn_object *right, uint64_t label) {
    quarn_object *o = quarn_alloc_ctor(tag, 2, 8);
    quarn_ctor_set(o, 0, left);
    quarn_ctor_set(o, 1, right);
    quarn_ctor_set_uint64(o, 16, label);
    return o;
}

// A tree in which every other node's right subtree is built as a second copy of its left.
quarn_object *tree(unsigned depth, uint64_t seed) {
    if (depth == 0) return node(2, quarn_box(seed % 1000), quarn_box(seed % 7), seed % 13);
    quarn_object *left = tree(depth - 1, seed * 2);
    quarn_object *right = tree(depth - 1, seed % 2 == 0 ? seed * 2 : seed * 2 + 1);
    return node(1, left, right, depth);
}

quarn_object *the_tree() {
    static quarn_object *t = tree(kDepth, 1);
    return t;
}

void BM_SharecommonQuick(benchmark::State &state) {
    quarn_object *t = the_tree();
    for (auto _ : state) {
        quarn_object *shared = quarn_lean_sharecommon_quick(t);
        benchmark::DoNotOptimize(shared);
        quarn_dec(shared);
    }
    state.counters["ns_per_node"] = benchmark::Counter(
        static_cast<double>(kNodes) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SharecommonQuick)->Unit(benchmark::kMillisecond);

// The peer: the same walk and the same rules, standard containers for the tables. It handles
// the constructors this tree is made of.
class UnorderedPass {
public:
    quarn_object *run(quarn_object *v) {
        struct Frame {
            quarn_object *object;
            unsigned next;
            size_t base;
        };
        std::vector<Frame> frames;
        std::vector<quarn_object *> results;
        quarn_object *result;
        if (resolve(v, result)) return result;
        frames.push_back({v, 0, 0});
        for (;;) {
            Frame &top = frames.back();
            quarn_object *o = top.object;
            unsigned n = quarn_ctor_num_objs(o);
            bool descended = false;
            while (top.next < n) {
                quarn_object *child = quarn_ctor_get(o, top.next++);
                if (resolve(child, result)) {
                    results.push_back(result);
                } else {
                    frames.push_back({child, 0, results.size()});
                    descended = true;
                    break;
                }
            }
            if (descended) continue;
            size_t base = frames.back().base;
            result = finish(o, results.data() + base);
            results.resize(base);
            frames.pop_back();
            if (frames.empty()) return result;
            results.push_back(result);
        }
    }

private:
    struct Hash {
        size_t operator()(quarn_object *o) const { return quarn_lean_sharecommon_hash(o); }
    };
    struct Equal {
        bool operator()(quarn_object *a, quarn_object *b) const {
            return quarn_lean_sharecommon_eq(a, b);
        }
    };

    bool resolve(quarn_object *o, quarn_object *&result) {
        if (quarn_is_scalar(o)) {
            result = o;
            return true;
        }
        if (!quarn_is_exclusive(o)) {
            auto found = visited_.find(o);
            if (found != visited_.end()) {
                quarn_inc(found->second);
                result = found->second;
                return true;
            }
        }
        return false;
    }

    quarn_object *finish(quarn_object *o, quarn_object **results) {
        unsigned n = quarn_ctor_num_objs(o);
        bool unchanged = true;
        for (unsigned i = 0; i < n && unchanged; ++i) unchanged = results[i] == quarn_ctor_get(o, i);
        quarn_object *candidate = o;
        if (unchanged) {
            for (unsigned i = 0; i < n; ++i) quarn_dec(results[i]);
        } else {
            candidate = quarn_alloc_ctor(quarn_ptr_tag(o), n, 8);
            for (unsigned i = 0; i < n; ++i) quarn_ctor_set(candidate, i, results[i]);
            std::memcpy(quarn_ctor_scalar_area(candidate), quarn_ctor_scalar_area(o), 8);
        }
        auto [entry, inserted] = contents_.insert(candidate);
        quarn_object *result = *entry;
        if (inserted) {
            if (unchanged) quarn_inc(result);
        } else {
            if (!unchanged) quarn_dec(candidate);
            quarn_inc(result);
        }
        if (!quarn_is_exclusive(o)) visited_.emplace(o, result);
        return result;
    }

    std::unordered_map<quarn_object *, quarn_object *> visited_;
    std::unordered_set<quarn_object *, Hash, Equal> contents_;
};

void BM_UnorderedPeer(benchmark::State &state) {
    quarn_object *t = the_tree();
    for (auto _ : state) {
        UnorderedPass pass;
        quarn_object *shared = pass.run(t);
        benchmark::DoNotOptimize(shared);
        quarn_dec(shared);
    }
    state.counters["ns_per_node"] = benchmark::Counter(
        static_cast<double>(kNodes) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_UnorderedPeer)->Unit(benchmark::kMillisecond);

}  // namespace
