// Releasing objects whose last reference is gone: the cold half of a decrement and the
// iterative walk that frees everything the object owned.
#include <cstring>

#include "object/export.h"
#include "object/heap.h"
#include "object/kinds.h"
#include "core/panic.h"

namespace quarn::object {

namespace {

constexpr uint32_t kFirstCountedMultiThreaded = 0xA0000001u;

// Drops the reference that a dying object held on a multi-threaded object; true when it
// was the last one.
[[gnu::always_inline]] inline bool drop_shared_reference(quarn_object *o) noexcept {
    return __atomic_add_fetch(&o->rc, 1, __ATOMIC_ACQ_REL) == 0;
}

// The objects whose last reference is gone and which still wait to be freed, most recent
// first. The stack is threaded through the dying objects themselves: the low 48 bits of
// each one's header word, its count and cs_sz while it lived, link it to the one pushed
// before it (user-space addresses on x86-64 have 47 bits). The top 16 bits keep `other`
// and the tag where the walk reads them, and the size word stays whole for the allocator.
// So the walk never allocates, however wide or deep the graph, and a push is one load and
// one store.
class DyingObjects {
public:
    [[gnu::always_inline]] void push(quarn_object *o) noexcept {
        store_header(o, (header_word(o) & kKindBits) | reinterpret_cast<uintptr_t>(top_));
        top_ = o;
    }

    // The most recently pushed object, or null when none is left.
    [[gnu::always_inline]] quarn_object *pop() noexcept {
        quarn_object *o = top_;
        if (o != nullptr) top_ = reinterpret_cast<quarn_object *>(header_word(o) & kLinkBits);
        return o;
    }

    // Gives a popped object that outlives the walk (a task) a header again: count and
    // cs_sz 0, `other` and tag as they were.
    static void restore_header(quarn_object *o) noexcept {
        store_header(o, header_word(o) & kKindBits);
    }

private:
    static constexpr uintptr_t kLinkBits = (uintptr_t{1} << 48) - 1;
    static constexpr uintptr_t kKindBits = ~kLinkBits;

    static uintptr_t header_word(const quarn_object *o) noexcept {
        uintptr_t word;
        std::memcpy(&word, o, sizeof word);
        return word;
    }
    static void store_header(quarn_object *o, uintptr_t word) noexcept {
        std::memcpy(o, &word, sizeof word);
    }

    quarn_object *top_ = nullptr;
};

// Drops the reference that a dying object held on `child`; true when that was its last
// reference and the child dies too.
[[gnu::always_inline]] inline bool drop_child(quarn_object *child) noexcept {
    if (child == nullptr || quarn_is_scalar(child)) return false;
    int32_t rc = quarn_rc_load(child);
    if (rc > 1) {
        quarn_rc_store(child, rc - 1);
        return false;
    }
    if (rc == 1) return true;
    return static_cast<uint32_t>(rc) >= kFirstCountedMultiThreaded && drop_shared_reference(child);
}

// A dropped promise resolves its task (if nothing else did) and lets go of it directly.
void release_promise_task(quarn_promise_object *promise) noexcept {
    quarn_task_object *task = promise->result;
    task_operations().resolve_dropped_promise(task);
    quarn_dec_ref(&task->header);
}

// Frees o and everything it owned that has no other reference. o's count is already gone.
//
// The child that died last is not pushed but becomes the next object to free: it is the
// one that would be popped next anyway, and a chain of single children (a list) then
// never touches the stack.
[[gnu::noinline]] void release_walk(quarn_object *o) noexcept {
    DyingObjects dying;
    quarn_object *next = nullptr;
    auto drop = [&](quarn_object *child) __attribute__((always_inline)) {
        if (!drop_child(child)) return;
        if (next != nullptr) dying.push(next);
        next = child;
    };
    do {
        // Constructors, by far the most common, take the shortest way.
        if (o->tag <= QUARN_MAX_CTOR_TAG) [[likely]] {
            auto *ctor = reinterpret_cast<quarn_ctor_object *>(o);
            for (unsigned i = 0, n = o->other; i < n; ++i) drop(ctor->fields[i]);
            deallocate(o);
        } else {
            for_each_owned_child(o, drop);
            switch (o->tag) {
                case QUARN_TAG_PROMISE:
                    release_promise_task(reinterpret_cast<quarn_promise_object *>(o));
                    deallocate(o);
                    break;
                case QUARN_TAG_BIGNUM:
                    free_bignum_digits(reinterpret_cast<quarn_bignum_object *>(o));
                    deallocate(o);
                    break;
                case QUARN_TAG_TASK:
                    // The task manager owns the block from here on.
                    DyingObjects::restore_header(o);
                    task_operations().release(reinterpret_cast<quarn_task_object *>(o));
                    break;
                case QUARN_TAG_EXTERNAL: {
                    auto *external = reinterpret_cast<quarn_external_object *>(o);
                    external->klass->finalize(external->data);
                    deallocate(o);
                    break;
                }
                case QUARN_TAG_STRUCT_ARRAY:
                case QUARN_TAG_UNUSED:
                    internal_panic(kUnreachable);
                default:
                    deallocate(o);
                    break;
            }
        }
        if (next != nullptr) {
            o = next;
            next = nullptr;
        } else {
            o = dying.pop();
        }
    } while (o != nullptr);
}

// Before the task manager installs its operations, no task or promise can exist.
[[noreturn]] void no_task_manager() noexcept { internal_panic(kUnreachable); }
void missing_release(quarn_task_object *) noexcept { no_task_manager(); }
quarn_object *missing_marked_child(quarn_task_object *) noexcept { no_task_manager(); }
void missing_resolve(quarn_task_object *) noexcept { no_task_manager(); }

constexpr TaskOperations kNoTaskOperations = {missing_release, missing_marked_child,
                                               missing_resolve};
const TaskOperations *installed_task_operations = &kNoTaskOperations;

}  // namespace

void free_bignum_digits(quarn_bignum_object *big) noexcept {
    if (big->capacity > 0)
        free_bytes(big->magnitude.digits);
}

void install_task_operations(const TaskOperations *operations) noexcept {
    installed_task_operations = operations;
}

const TaskOperations &task_operations() noexcept { return *installed_task_operations; }

}  // namespace quarn::object

using namespace quarn::object;

namespace {

// Whether releasing `child` would free it too: its count is 1 or multi-threaded.
[[gnu::always_inline]] inline bool may_die_with_parent(quarn_object *child) noexcept {
    if (child == nullptr || quarn_is_scalar(child)) return false;
    int32_t rc = quarn_rc_load(child);
    return rc <= 1 && rc != 0;
}

// The release of a constructor none of whose fields dies with it, from its first field
// that is not a scalar on (the fields before it are scalars). Such constructors (cells of
// shared values, say) are freed here without the walk; when a field may die, the walk
// takes over, with nothing changed yet.
[[gnu::noinline]] void release_constructor(quarn_object *o, unsigned first_object) noexcept {
    auto *ctor = reinterpret_cast<quarn_ctor_object *>(o);
    unsigned n = o->other;
    for (unsigned i = first_object; i < n; ++i)
        if (may_die_with_parent(ctor->fields[i])) return release_walk(o);
    for (unsigned i = first_object; i < n; ++i) {
        quarn_object *child = ctor->fields[i];
        if (quarn_is_scalar(child) || child == nullptr) continue;
        int32_t rc = quarn_rc_load(child);
        if (rc > 1) {
            quarn_rc_store(child, rc - 1);
        } else if (rc == 1) {
            // A child held by several of these fields: the checks above saw its count
            // before the earlier fields dropped theirs, and this is its last reference.
            quarn_dec_ref_cold(child);
        }
    }
    deallocate(o);
}

// The release of an object that is not a constructor. Kinds that own no objects (numbers,
// strings, scalar arrays: the results of most arithmetic and text primitives) are freed here
// directly; the others take the walk.
[[gnu::noinline]] void release_other(quarn_object *o) noexcept {
    switch (o->tag) {
        case QUARN_TAG_BIGNUM:
            free_bignum_digits(reinterpret_cast<quarn_bignum_object *>(o));
            return deallocate(o);
        case QUARN_TAG_STRING:
        case QUARN_TAG_SCALAR_ARRAY:
            return deallocate(o);
        default:
            return release_walk(o);
    }
}

// The cold decrement of an object whose count is not 1: a multi-threaded count drops one
// reference and releases the object when that was the last; any other count is left alone.
[[gnu::noinline]] void dec_ref_not_last(quarn_object *o, int32_t rc) noexcept {
    bool counted_shared = static_cast<uint32_t>(rc) >= kFirstCountedMultiThreaded;
    if (!counted_shared || !drop_shared_reference(o)) return;
    if (o->tag > QUARN_MAX_CTOR_TAG) return release_other(o);
    release_constructor(o, 0);
}

}  // namespace

extern "C" void quarn_dec_ref_cold(quarn_object *o) noexcept {
    int32_t rc = quarn_rc_load(o);
    if (rc != 1) [[unlikely]]
        return dec_ref_not_last(o, rc);
    if (o->tag > QUARN_MAX_CTOR_TAG) [[unlikely]]
        return release_other(o);
    // The most common release by far: a constructor whose fields are all scalars (boxed
    // numbers, enumerations), freed in a function that calls nothing on its way. The fields
    // are and-ed together, two at a time with one branch per pair (an odd count reads its
    // last field twice): bit 0 of the result is set exactly when every field is a scalar.
    // (Each field is its own load: compiled code has just stored them one by one, and a
    // wider load over two such stores would wait for both to reach the cache.)
    auto *ctor = reinterpret_cast<quarn_ctor_object *>(o);
    auto word = [ctor](unsigned i) { return reinterpret_cast<uintptr_t>(ctor->fields[i]); };
    unsigned n = o->other;
    uintptr_t all_scalar = 1;
    for (unsigned i = 0; i < n; i += 2) all_scalar &= word(i) & word(i + 1 < n ? i + 1 : i);
    if ((all_scalar & 1) == 0) [[unlikely]]
        return release_constructor(o, 0);
    deallocate(o);
}

extern "C" void quarn_inc_ref_n_cold(quarn_object *o, uint64_t n) noexcept {
    // Multi-threaded counts move by at most kStep at a time and stop at kSaturated, so that
    // the test before each step keeps them from wrapping.
    constexpr uint64_t kStep = 0x10000;
    constexpr uint32_t kSaturated = 0x90000000u;
    constexpr int32_t kOverflowed = static_cast<int32_t>(0x80010000u);
    int32_t rc = quarn_rc_load(o);
    if (n > kStep) {
        if (rc > 0) {
            bool overflows = n > static_cast<uint64_t>(INT32_MAX - rc);
            quarn_rc_store(o, overflows ? kOverflowed
                                        : static_cast<int32_t>(static_cast<uint64_t>(rc) + n));
            return;
        }
        while (n > 0) {
            rc = quarn_rc_load(o);
            if (static_cast<uint32_t>(rc) <= kSaturated) return;
            uint64_t step = n < kStep ? n : kStep;
            __atomic_fetch_sub(&o->rc, static_cast<int32_t>(step), __ATOMIC_RELAXED);
            n -= step;
        }
    } else if (rc > 0) {
        quarn_rc_store(o, static_cast<int32_t>(static_cast<uint32_t>(rc) + static_cast<uint32_t>(n)));
    } else if (static_cast<uint32_t>(rc) > kSaturated) {
        __atomic_fetch_sub(&o->rc, static_cast<int32_t>(n), __ATOMIC_RELAXED);
    }
}

extern "C" quarn_object *quarn_lean_void_mk(quarn_object *v) noexcept {
    quarn_dec(v);
    return quarn_box(0);
}

extern "C" quarn_object *quarn_lean_runtime_hold(quarn_object *) noexcept { return quarn_box(0); }

extern "C" quarn_object *quarn_lean_runtime_forget(quarn_object *v) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_runtime_hold);
