// The sharing pass whose tables live in a Lean state value: a map from objects to their
// results and a set of results, both reached only through the closures of the program's
// state factory. The work is the quick pass's, done with an explicit stack: an object is
// finished once all its children are, by copying it over their results.
#include "core/allocator.h"
#include "core/panic.h"
#include "quarn/closure.h"
#include "quarn/share.h"
#include "share/copy.h"
#include "share/shallow.h"
#include "share/tables.h"

namespace quarn::share {

namespace {

// The factory's closures, borrowed from it, and the tables they work on, owned.
class StateTables {
public:
    StateTables(const quarn_object *factory, quarn_object *map, quarn_object *set) noexcept
        : map_find_(quarn_ctor_get(factory, 1)),
          map_insert_(quarn_ctor_get(factory, 2)),
          set_find_(quarn_ctor_get(factory, 3)),
          set_insert_(quarn_ctor_get(factory, 4)),
          map_(map),
          set_(set) {}

    // The result recorded for key, an owned reference, or null. Borrows key.
    quarn_object *find_result(quarn_object *key) noexcept {
        quarn_inc(map_);
        quarn_inc(key);
        return take_option(apply(map_find_, map_, key));
    }

    // Records key -> value. Borrows both.
    void record(quarn_object *key, quarn_object *value) noexcept {
        quarn_inc(key);
        quarn_inc(value);
        map_ = apply(map_insert_, map_, key, value);
    }

    // The object of the set equal to o, an owned reference, or null. Borrows o.
    quarn_object *find_equal(quarn_object *o) noexcept {
        quarn_inc(set_);
        quarn_inc(o);
        return take_option(apply(set_find_, set_, o));
    }

    // Adds o to the set. Borrows o.
    void add(quarn_object *o) noexcept {
        quarn_inc(o);
        set_ = apply(set_insert_, set_, o);
    }

    // The new state (map, set); the tables are handed over. Returns an owned reference.
    quarn_object *into_state() noexcept {
        quarn_object *state = quarn_alloc_ctor(0, 2, 0);
        quarn_ctor_set(state, 0, map_);
        quarn_ctor_set(state, 1, set_);
        map_ = set_ = nullptr;
        return state;
    }

private:
    template <typename... Arguments>
    static quarn_object *apply(quarn_object *closure, Arguments... arguments) noexcept {
        quarn_inc(closure);
        if constexpr (sizeof...(Arguments) == 2)
            return quarn_apply_2(closure, arguments...);
        else
            return quarn_apply_3(closure, arguments...);
    }

    // The value of `some v` (owned), or null for none. Consumes the option.
    static quarn_object *take_option(quarn_object *option) noexcept {
        if (quarn_is_scalar(option)) return nullptr;
        quarn_object *value = quarn_ctor_get(option, 0);
        quarn_inc(value);
        quarn_dec_ref(option);
        return value;
    }

    quarn_object *map_find_, *map_insert_, *set_find_, *set_insert_;
    quarn_object *map_, *set_;
};

class StatePass {
public:
    explicit StatePass(StateTables &tables) noexcept : tables_(tables) {}
    ~StatePass() {
        for (auto &[source, result] : results_) quarn_dec(result);
    }
    StatePass(const StatePass &) = delete;
    StatePass &operator=(const StatePass &) = delete;

    // Shares everything below v and records v's result in the tables. Borrows v, a
    // structure or content object.
    void run(quarn_object *v) noexcept;

private:
    bool visit(quarn_object *o) noexcept;
    quarn_object *result_of(quarn_object *o) const noexcept;
    void finish(quarn_object *u) noexcept;

    StateTables &tables_;
    // What the map said or was told in this call, source -> result, one owned reference
    // to each result, so that finishing an object needs no more calls into the map.
    IdentityMap results_;
    Vector<quarn_object *> work_;
};

// True when o is done: it stands for itself, or the map has its result. Otherwise pushes
// it onto the work stack.
bool StatePass::visit(quarn_object *o) noexcept {
    if (quarn_is_scalar(o)) return true;
    switch (kind_of(o)) {
        case Kind::NeverShared:
            return true;
        case Kind::Invalid:
            internal_panic(kUnreachable);
        default:
            break;
    }
    if (results_.contains(o)) return true;
    if (quarn_object *result = tables_.find_result(o)) {
        results_.emplace(o, result);
        return true;
    }
    work_.push_back(o);
    return false;
}

quarn_object *StatePass::result_of(quarn_object *o) const noexcept {
    if (quarn_is_scalar(o) || kind_of(o) == Kind::NeverShared) return o;
    return results_.find(o)->second;
}

// Builds the copy of u over its children's results and lets the set decide what stands for
// it.
void StatePass::finish(quarn_object *u) noexcept {
    quarn_object *copy;
    if (kind_of(u) == Kind::Content) {
        copy = copy_content(u);
    } else {
        Children children = children_of(u);
        Vector<quarn_object *> fields(children.count);
        for (size_t i = 0; i < children.count; ++i) {
            fields[i] = result_of(children.values[i]);
            quarn_inc(fields[i]);
        }
        copy = copy_with_children(u, fields.data());
    }
    quarn_object *result = tables_.find_equal(copy);
    if (result != nullptr) {
        quarn_dec_ref(copy);
        tables_.record(u, result);
    } else {
        result = copy;
        tables_.add(copy);
        tables_.record(u, copy);
        tables_.record(copy, copy);
    }
    results_.emplace(u, result);
}

void StatePass::run(quarn_object *v) noexcept {
    if (visit(v)) return;
    while (!work_.empty()) {
        quarn_object *u = work_.back();
        if (results_.contains(u)) {  // pushed twice, by two parents
            work_.pop_back();
            continue;
        }
        bool ready = true;
        if (kind_of(u) == Kind::Structure) {
            Children children = children_of(u);
            for (size_t i = 0; i < children.count; ++i) ready &= visit(children.values[i]);
        }
        if (!ready) continue;
        work_.pop_back();
        finish(u);
    }
}

quarn_object *make_pair(quarn_object *first, quarn_object *second) noexcept {
    quarn_object *pair = quarn_alloc_ctor(0, 2, 0);
    quarn_ctor_set(pair, 0, first);
    quarn_ctor_set(pair, 1, second);
    return pair;
}

}  // namespace

}  // namespace quarn::share

using namespace quarn;

extern "C" quarn_object *quarn_lean_state_sharecommon(quarn_object *factory, quarn_object *state,
                                                     quarn_object *v) noexcept {
    // A scalar or an object never shared stands for itself, and nothing is recorded.
    if (quarn_is_scalar(v) || share::kind_of(v) == share::Kind::NeverShared)
        return share::make_pair(v, state);
    quarn_object *map = quarn_ctor_get(state, 0);
    quarn_object *set = quarn_ctor_get(state, 1);
    if (quarn_is_exclusive(state)) {
        quarn_free_object(state);
    } else {
        quarn_inc(map);
        quarn_inc(set);
        quarn_dec_ref(state);
    }
    share::StateTables tables(factory, map, set);
    {
        share::StatePass pass(tables);
        pass.run(v);
    }
    quarn_object *result = tables.find_result(v);
    if (result == nullptr)
        internal_panic("ShareCommon: the root object was not recorded in the sharing map");
    quarn_dec(v);
    return share::make_pair(result, tables.into_state());
}
