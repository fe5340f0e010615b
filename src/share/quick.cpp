// The sharing pass with private tables. Each structure object is finished once all its
// children are: its result is the object itself when every child's result is the child
// (nothing below it changed), else a copy over the children's results; either way the
// content set then says whether an equal object already stands for it.
#include "core/allocator.h"
#include "core/panic.h"
#include "quarn/share.h"
#include "share/copy.h"
#include "share/shallow.h"
#include "share/tables.h"

namespace quarn::share {

namespace {

class QuickPass {
public:
    // The result for v, an owned reference. Borrows v.
    quarn_object *run(quarn_object *v) noexcept;

private:
    // A structure object whose children are being worked through: `next` is the next
    // child to look at, and results_[results_base...] hold the results of those before it.
    struct Frame {
        quarn_object *object;
        size_t next;
        size_t results_base;
    };

    bool resolve(quarn_object *o, quarn_object *&result) noexcept;
    quarn_object *finish(quarn_object *o, quarn_object **results) noexcept;
    quarn_object *intern(quarn_object *candidate, bool is_copy) noexcept;

    // Source objects that may be reached again (count not 1) and their results. Neither
    // side is counted: sources belong to the value being shared, results to the result.
    IdentityMap visited_;
    // Result objects by content, not counted either.
    ContentSet contents_;
    Vector<Frame> frames_;
    Vector<quarn_object *> results_;  // one owned reference each
};

// Sets `result` (owned) and returns true when o needs no walk below it: a scalar, an object
// never shared, content, an object seen before or a structure without children.
bool QuickPass::resolve(quarn_object *o, quarn_object *&result) noexcept {
    if (quarn_is_scalar(o)) {
        result = o;
        return true;
    }
    switch (kind_of(o)) {
        case Kind::NeverShared:
            quarn_inc_ref(o);
            result = o;
            return true;
        case Kind::Content:
            result = intern(o, false);
            return true;
        case Kind::Invalid:
            internal_panic(kUnreachable);
        case Kind::Structure:
            break;
    }
    // An exclusive object has no other reference to be reached through.
    if (quarn_rc_load(o) != 1) {
        if (auto found = visited_.find(o); found != visited_.end()) {
            quarn_inc_ref(found->second);
            result = found->second;
            return true;
        }
    }
    if (children_of(o).count == 0) {
        result = finish(o, nullptr);
        return true;
    }
    return false;
}

// The result for a structure object whose children's results are `results` (owned).
quarn_object *QuickPass::finish(quarn_object *o, quarn_object **results) noexcept {
    Children children = children_of(o);
    bool unchanged = true;
    for (size_t i = 0; i < children.count && unchanged; ++i)
        unchanged = results[i] == children.values[i];
    quarn_object *result;
    if (unchanged) {
        // o stands for itself: the references taken for its children are not needed.
        for (size_t i = 0; i < children.count; ++i) quarn_dec(results[i]);
        result = intern(o, false);
    } else {
        result = intern(copy_with_children(o, results), true);
    }
    if (quarn_rc_load(o) != 1) visited_.emplace(o, result);
    return result;
}

// The object of the content set equal to candidate (owned), candidate itself when there is
// none yet. A copy (is_copy) is taken over and released when an equal object is found;
// otherwise candidate is borrowed.
quarn_object *QuickPass::intern(quarn_object *candidate, bool is_copy) noexcept {
    auto [entry, inserted] = contents_.insert(Interned{candidate, shallow_hash(candidate)});
    if (inserted) {
        if (!is_copy) quarn_inc_ref(candidate);
        return candidate;
    }
    quarn_object *existing = entry->object;
    // The copy's children are the existing object's too, so they outlive the release.
    if (is_copy) quarn_dec_ref(candidate);
    quarn_inc_ref(existing);
    return existing;
}

quarn_object *QuickPass::run(quarn_object *v) noexcept {
    quarn_object *result;
    if (resolve(v, result)) return result;
    frames_.push_back({v, 0, 0});
    for (;;) {
        size_t top = frames_.size() - 1;
        quarn_object *o = frames_[top].object;
        Children children = children_of(o);
        bool descended = false;
        while (frames_[top].next < children.count) {
            quarn_object *child = children.values[frames_[top].next++];
            if (resolve(child, result)) {
                results_.push_back(result);
            } else {
                frames_.push_back({child, 0, results_.size()});
                descended = true;
                break;
            }
        }
        if (descended) continue;
        size_t base = frames_[top].results_base;
        result = finish(o, results_.data() + base);
        results_.resize(base);
        frames_.pop_back();
        if (frames_.empty()) return result;
        results_.push_back(result);
    }
}

}  // namespace

}  // namespace quarn::share

using namespace quarn;

extern "C" uint8_t quarn_lean_sharecommon_eq(quarn_object *a, quarn_object *b) noexcept {
    if (quarn_is_scalar(a) || quarn_is_scalar(b))
        internal_panic("ShareCommon.Object.eq applied to a scalar");
    return share::shallow_equal(a, b);
}

extern "C" uint64_t quarn_lean_sharecommon_hash(quarn_object *o) noexcept {
    if (quarn_is_scalar(o)) internal_panic("ShareCommon.Object.hash applied to a scalar");
    return share::shallow_hash(o);
}

extern "C" quarn_object *quarn_lean_sharecommon_quick(quarn_object *v) noexcept {
    share::QuickPass pass;
    return pass.run(v);
}
