#include "core/detached_thread.h"

#include <pthread.h>

#include "core/allocator.h"

namespace quarn {

namespace {

struct Start {
    const char *name;
    void (*body)(void *);
    void *argument;
};

void *run(void *data) noexcept {
    Start start = *static_cast<Start *>(data);
    PanicAllocator<Start>().deallocate(static_cast<Start *>(data), 1);
    pthread_setname_np(pthread_self(), start.name);
    start.body(start.argument);
    return nullptr;
}

}  // namespace

int start_detached_thread(const char *name, void (*body)(void *), void *argument) noexcept {
    Start *start = PanicAllocator<Start>().allocate(1);
    *start = {name, body, argument};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int failure = pthread_create(&thread, &attributes, run, start);
    pthread_attr_destroy(&attributes);
    if (failure != 0) PanicAllocator<Start>().deallocate(start, 1);
    return failure;
}

}  // namespace quarn
