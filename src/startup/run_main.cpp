// Running a compiled program: its initializer, the end of initialization, and its main on
// the "lean-main" thread, with the exit code it leads to.
#include <pthread.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include "core/allocator.h"

#include "core/shutdown.h"
#include "io/io_error.h"
#include "object/list.h"
#include "core/panic.h"
#include "quarn/startup.h"
#include "startup/thread_stack.h"
#include "string/lossy.h"
#include "core/write_all.h"

namespace {

// What the Lean main needs, handed to the thread that runs it.
struct MainCall {
    quarn_main_with_args main_with_args;
    quarn_main_without_args main_without_args;
    bool returns_uint32;
    quarn::Vector<quarn_object *> arguments;  // owned strings
    uint32_t exit_code = 0;
};

// A list of the strings, in order; each cell counts a heartbeat. Consumes the strings.
quarn_object *string_list(const quarn::Vector<quarn_object *> &strings) {
    quarn_object *list = quarn_box(0);
    for (auto it = strings.rbegin(); it != strings.rend(); ++it)
        list = quarn::object::make_cons(*it, list);
    return list;
}

// Calls main and turns its IO result into the exit code.
void run_lean_main(MainCall &call) {
    quarn_object *result = call.main_with_args != nullptr
                               ? call.main_with_args(string_list(call.arguments))
                               : call.main_without_args();
    call.arguments.clear();
    if (quarn_ptr_tag(result) == 0) {
        quarn_object *value = quarn_ctor_get(result, 0);
        call.exit_code = call.returns_uint32 ? static_cast<uint32_t>(quarn_unbox(value)) : 0;
    } else {
        quarn::Text text = quarn::io::error_to_text(quarn_ctor_get(result, 0));
        quarn::shutdown::run_stage(quarn::shutdown::Stage::FlushHandles,
                                   quarn::shutdown::Reason::MainReturned);
        quarn::write_all(STDERR_FILENO, {"uncaught exception: ", text, "\n"});
        call.exit_code = 1;
    }
    quarn_dec(result);
}

bool main_runs_on_calling_thread() {
    const char *setting = std::getenv("LEAN_MAIN_USE_THREAD");
    return setting != nullptr && std::strcmp(setting, "0") == 0;
}

void run_on_lean_main_thread(MainCall &call) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, quarn::startup::lean_thread_stack_size());
    pthread_t thread;
    int failure = pthread_create(
        &thread, &attributes,
        [](void *argument) -> void * {
            pthread_setname_np(pthread_self(), "lean-main");
            run_lean_main(*static_cast<MainCall *>(argument));
            return nullptr;
        },
        &call);
    pthread_attr_destroy(&attributes);
    if (failure != 0)
        quarn::internal_panic({"cannot start the main thread: ", std::strerror(failure)});
    pthread_join(thread, nullptr);
}

}  // namespace

extern "C" uint32_t quarn_run_main(quarn_initializer initializer, void *main, uint8_t main_takes_arguments,
                                   uint8_t main_returns_uint32, int argc, char **argv) noexcept {
    if (main == nullptr) quarn::internal_panic("quarn_run_main: `main` is a null pointer");
    MainCall call{};
    if (main_takes_arguments)
        call.main_with_args = reinterpret_cast<quarn_main_with_args>(main);
    else
        call.main_without_args = reinterpret_cast<quarn_main_without_args>(main);
    call.returns_uint32 = main_returns_uint32 != 0;
    for (int i = 0; i < argc; ++i) {
        if (argv[i] == nullptr) quarn::internal_panic("quarn_run_main: an argument is a null pointer");
        if (main_takes_arguments)
            call.arguments.push_back(quarn::string::decode_lossy(argv[i], std::strlen(argv[i])));
    }
    if (initializer != nullptr) quarn_dec(initializer());
    quarn_end_initialization();
    if (main_runs_on_calling_thread())
        run_lean_main(call);
    else
        run_on_lean_main_thread(call);
    quarn::shutdown::run(quarn::shutdown::Reason::MainReturned);
    return call.exit_code;
}
