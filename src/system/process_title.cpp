// The process title: kept by the runtime, and shown as the command name of the process.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <mutex>

#include "core/retry.h"
#include "io/unique_fd.h"
#include "quarn/system.h"
#include "system/results.h"

using namespace quarn::system;

namespace {

struct Title {
    std::mutex lock;
    quarn::Text text;
    bool set = false;
};

// Immortal: titles are read and set until the very end of the process.
Title &title() noexcept {
    static Title &t = *new Title;
    return t;
}

// Tools such as ps and top show the main thread's command name, which holds 15 bytes.
void show_as_command_name(std::string_view text) noexcept {
    quarn::io::UniqueFd fd(quarn::retry_interrupted([] { return ::open("/proc/self/comm", O_WRONLY | O_CLOEXEC); }));
    if (!fd) return;  // a title that cannot be shown is still kept
    size_t n = text.size() < 15 ? text.size() : 15;
    (void)quarn::retry_interrupted([&] { return ::write(fd.get(), text.data(), n); });
}

}  // namespace

extern "C" quarn_object *quarn_lean_uv_get_process_title(void) noexcept {
    Title &t = title();
    std::lock_guard guard(t.lock);
    if (!t.set) return ok_text(program_invocation_name != nullptr ? program_invocation_name : "");
    return ok_text(t.text);
}

extern "C" quarn_object *quarn_lean_uv_set_process_title(quarn_object *title_text) noexcept {
    std::string_view bytes = bytes_of(title_text);
    if (bytes.find('\0') != std::string_view::npos) return quarn::fs::nul_path(title_text);
    Title &t = title();
    std::lock_guard guard(t.lock);
    t.text.assign(bytes);
    t.set = true;
    show_as_command_name(bytes);
    return quarn::io::io_ok_unit();
}
