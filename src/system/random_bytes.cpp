// Random bytes for the event loop: each request fills its byte array on a "lean-random"
// thread of its own, then posts to the reactor, which resolves the promise.
#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "array/sarray_alloc.h"
#include "core/detached_thread.h"
#include "core/panic.h"
#include "core/retry.h"
#include "quarn/system.h"
#include "system/results.h"
#include "uv/promises.h"
#include "uv/reactor.h"
#include "uv/record.h"

namespace {

struct RandomRequest {
    quarn_object *promise;       // one reference, resolved by the callback
    quarn_sarray_object *bytes;  // filled by the thread, handed over by the callback
    int error = 0;               // negative code, or 0
};

void resolve_on_reactor(void *data) noexcept {
    auto *request = static_cast<RandomRequest *>(data);
    quarn_object *result;
    if (request->error != 0) {
        quarn_dec(&request->bytes->header);
        result = quarn::uv::except_error(request->error);
    } else {
        result = quarn::uv::except_ok(&request->bytes->header);
    }
    quarn::uv::resolve_promise(request->promise, result);
    quarn_dec(request->promise);
    quarn::uv::delete_record(request);
}

void fill(void *data) noexcept {
    auto *request = static_cast<RandomRequest *>(data);
    uint8_t *into = request->bytes->data;
    size_t wanted = request->bytes->size;
    for (size_t got = 0; got < wanted;) {
        ssize_t n = quarn::retry_interrupted([&] { return ::getrandom(into + got, wanted - got, 0); });
        if (n < 0) {
            request->error = -errno;
            break;
        }
        if (n == 0 || static_cast<size_t>(n) > wanted - got) {
            request->error = -EIO;
            break;
        }
        got += static_cast<size_t>(n);
    }
    quarn::uv::post({resolve_on_reactor, request});
}

}  // namespace

extern "C" quarn_object *quarn_lean_uv_random(uint64_t count) noexcept {
    // A size no memory can hold is refused before anything is allocated.
    if (!quarn::array::can_allocate_bytes(count)) return quarn::system::error_number(ENOMEM);
    quarn::uv::ensure_started();
    auto *request = quarn::uv::new_record<RandomRequest>();
    request->bytes = quarn::array::allocate_sarray(1, count, count);
    request->promise = quarn::uv::new_promise();
    quarn_inc(request->promise);
    quarn_object *promise = request->promise;
    if (int failure = quarn::start_detached_thread("lean-random", fill, request))
        quarn::internal_panic({"cannot start a random-number thread: ", std::strerror(failure)});
    return quarn::io::io_ok(promise);
}
