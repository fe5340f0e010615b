// Timer objects: external objects wrapping a record registered with the reactor. A timer
// is initial until its first `next` arms it, running while armed (it then holds one
// reference to its own object, so it lives until it fires or stops), and finished once a
// one-shot timer has fired or any timer was stopped. Every change of generation makes the
// heap entries pushed before it stale.
#include <cstdint>

#include "io/io_result.h"
#include "object/external_class.h"
#include "quarn/uv.h"
#include "uv/promises.h"
#include "uv/reactor.h"
#include "uv/record.h"

namespace quarn::uv {

namespace {

using Value = quarn_object *;

enum class TimerState : uint8_t { Initial, Running, Finished };

class TimerRecord final : public TimerTarget {
public:
    TimerRecord(uint64_t timeout, bool repeating) noexcept : timeout_(timeout), repeating_(repeating) {}

    Value owner = nullptr;
    uint64_t id = 0;

    Value next(ReleaseAfterUnlock &releases) noexcept;
    void reset() noexcept;
    void stop(ReleaseAfterUnlock &releases) noexcept;
    void cancel(ReleaseAfterUnlock &releases) noexcept;
    void fire(uint64_t generation) noexcept override;
    Value take_promise() noexcept { return std::exchange(promise_, nullptr); }

private:
    void arm(uint64_t delay) noexcept {
        armed_ = true;
        repeat_ = repeating_ ? timeout_ : 0;
        schedule_timer(id, generation_, delay);
    }
    // A promise for a caller that nothing will resolve: it reads as none once dropped.
    static Value unresolvable_promise() noexcept { return new_promise(); }
    Value stored_promise() noexcept {
        quarn_inc(promise_);
        return promise_;
    }

    Value promise_ = nullptr;
    const uint64_t timeout_;
    uint64_t generation_ = 0;
    uint64_t repeat_ = 0;
    TimerState state_ = TimerState::Initial;
    const bool repeating_;
    bool armed_ = false;
};

Value TimerRecord::next(ReleaseAfterUnlock &releases) noexcept {
    if (state_ == TimerState::Initial) {
        promise_ = new_promise();
        state_ = TimerState::Running;
        quarn_inc(owner);
        ++generation_;
        // The first firing of a repeating timer comes at once.
        arm(repeating_ ? 0 : timeout_);
        return stored_promise();
    }
    if (!repeating_ || state_ == TimerState::Finished)
        return promise_ != nullptr ? stored_promise() : unresolvable_promise();
    if (promise_ == nullptr || promise_resolved(promise_)) {
        releases.add(promise_);
        promise_ = new_promise();
    }
    return stored_promise();
}

void TimerRecord::reset() noexcept {
    if (state_ != TimerState::Running) return;
    generation_ += 2;
    arm(timeout_);
}

void TimerRecord::stop(ReleaseAfterUnlock &releases) noexcept {
    releases.add(take_promise());
    if (state_ == TimerState::Running) {
        ++generation_;
        armed_ = false;
        releases.add(owner);
    }
    // Stopped before it was ever armed, it stays stopped: a later `next` never arms it.
    state_ = TimerState::Finished;
}

void TimerRecord::cancel(ReleaseAfterUnlock &releases) noexcept {
    if (state_ != TimerState::Running || promise_ == nullptr) return;
    releases.add(take_promise());
    if (repeating_) return;
    ++generation_;
    armed_ = false;
    state_ = TimerState::Initial;
    releases.add(owner);
}

void TimerRecord::fire(uint64_t generation) noexcept {
    if (!armed_ || generation != generation_) return;
    if (repeating_) {
        ++generation_;
        schedule_timer(id, generation_, repeat_);
    } else {
        armed_ = false;
    }
    if (state_ != TimerState::Running) internal_panic("timer event for a timer that is not running");
    if (repeating_) {
        if (promise_ != nullptr) resolve_promise(promise_, quarn_box(0));
        return;
    }
    if (promise_ != nullptr && !resolve_promise(promise_, quarn_box(0)))
        internal_panic("one-shot timer promise resolved twice");
    ++generation_;
    armed_ = false;
    state_ = TimerState::Finished;
    // The last use of this record: the reference may be the last one.
    quarn_dec(owner);
}

void finalize_timer(void *data) {
    auto *record = static_cast<TimerRecord *>(data);
    Value promise;
    {
        LoopGuard guard(loop_lock());
        remove_timer(record->id);
        promise = record->take_promise();
    }
    if (promise != nullptr) quarn_dec(promise);
    delete_record(record);
}

constexpr quarn_external_class kTimerClass = {finalize_timer, quarn::object::visit_nothing};

TimerRecord &timer_of(Value timer) noexcept {
    return record_of<TimerRecord>(timer, &kTimerClass, "expected a timer object");
}

}  // namespace

}  // namespace quarn::uv

using namespace quarn;
using namespace quarn::uv;

extern "C" quarn_object *quarn_lean_uv_timer_mk(uint64_t timeout_ms, uint8_t repeating) noexcept {
    auto *record = new_record<TimerRecord>(timeout_ms, repeating != 0);
    record->owner = wrap_record(&kTimerClass, record);
    record->id = register_timer(record);
    return io::io_ok(record->owner);
}

extern "C" quarn_object *quarn_lean_uv_timer_next(quarn_object *timer) noexcept {
    TimerRecord &record = timer_of(timer);
    ReleaseAfterUnlock releases;
    quarn_object *promise;
    {
        LoopGuard guard(loop_lock());
        promise = record.next(releases);
    }
    return io::io_ok(promise);
}

extern "C" quarn_object *quarn_lean_uv_timer_reset(quarn_object *timer) noexcept {
    TimerRecord &record = timer_of(timer);
    {
        LoopGuard guard(loop_lock());
        record.reset();
    }
    return io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_timer_stop(quarn_object *timer) noexcept {
    TimerRecord &record = timer_of(timer);
    {
        ReleaseAfterUnlock releases;
        LoopGuard guard(loop_lock());
        record.stop(releases);
    }
    return io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_timer_cancel(quarn_object *timer) noexcept {
    TimerRecord &record = timer_of(timer);
    {
        ReleaseAfterUnlock releases;
        LoopGuard guard(loop_lock());
        record.cancel(releases);
    }
    return io::io_ok_unit();
}
