// Symbolisation keeps one session over the process's modules for the life of the process:
// opening one reads every module's tables, which costs tens of milliseconds, so a session is
// opened on the first backtrace and reused (behind a lock) by every later one, and each
// frame's name is kept once found. A frame whose address lies in no module the session knows
// (a library loaded since) reopens it once.
#include "core/backtrace.h"

#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <execinfo.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace quarn {

namespace {

struct FreeDeleter {
    void operator()(char *p) const noexcept { std::free(p); }
};

// The modules of this process, read from /proc, with their symbols and line tables. The
// session and its lock are never destroyed: a backtrace may be taken while the process exits.
class Symbolizer {
public:
    static Symbolizer &instance() noexcept {
        static Symbolizer &symbolizer = *new Symbolizer;
        return symbolizer;
    }

    // "#3 0x00007f...: function at file:line (module)", with what the debug information allows.
    // What follows the address is kept per address: a program that panics in a loop asks
    // for the same frames again and again.
    Text describe(int index, uintptr_t address) noexcept {
        char head[48];
        std::snprintf(head, sizeof head, "#%d 0x%016" PRIxPTR, index, address);
        Text line = head;
        std::scoped_lock guard(lock_);
        auto known = names_.find(address);
        if (known == names_.end()) known = names_.emplace(address, name(address)).first;
        line += known->second;
        return line;
    }

private:
    // ": function at file:line (module)" for the frame at address, or nothing.
    Text name(uintptr_t address) noexcept {
        Text text;
        Dwfl_Module *module = find_module(address);
        if (module == nullptr) return text;
        if (const char *symbol = dwfl_module_addrname(module, address)) {
            text += ": ";
            append_demangled(text, symbol);
        }
        if (Dwfl_Line *source = dwfl_module_getsrc(module, address)) {
            int number = 0;
            if (const char *file = dwfl_lineinfo(source, nullptr, &number, nullptr, nullptr, nullptr)) {
                text += " at ";
                text += file;
                text += ":";
                text += decimal(number);
            }
        }
        const char *module_name =
            dwfl_module_info(module, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        if (module_name != nullptr) {
            text += " (";
            text += module_name;
            text += ")";
        }
        return text;
    }

    Dwfl_Module *find_module(uintptr_t address) noexcept {
        if (dwfl_ == nullptr) open();
        Dwfl_Module *module = dwfl_ != nullptr ? dwfl_addrmodule(dwfl_, address) : nullptr;
        if (module == nullptr && dwfl_ != nullptr) {
            open();  // modules may have been loaded since the session was opened
            module = dwfl_ != nullptr ? dwfl_addrmodule(dwfl_, address) : nullptr;
        }
        return module;
    }

    void open() noexcept {
        static const Dwfl_Callbacks callbacks = {
            .find_elf = dwfl_linux_proc_find_elf,
            .find_debuginfo = dwfl_standard_find_debuginfo,
            .section_address = nullptr,
            .debuginfo_path = nullptr,
        };
        if (dwfl_ != nullptr) dwfl_end(dwfl_);
        names_.clear();  // addresses may belong to other modules now
        dwfl_ = dwfl_begin(&callbacks);
        if (dwfl_ == nullptr) return;
        if (dwfl_linux_proc_report(dwfl_, getpid()) != 0 || dwfl_report_end(dwfl_, nullptr, nullptr) != 0) {
            dwfl_end(dwfl_);
            dwfl_ = nullptr;
        }
    }

    static void append_demangled(Text &line, const char *symbol) noexcept {
        int status = 0;
        std::unique_ptr<char, FreeDeleter> plain(abi::__cxa_demangle(symbol, nullptr, nullptr, &status));
        line += status == 0 && plain ? plain.get() : symbol;
    }

    std::mutex lock_;
    Dwfl *dwfl_ = nullptr;
    std::unordered_map<uintptr_t, Text, std::hash<uintptr_t>, std::equal_to<uintptr_t>,
                       PanicAllocator<std::pair<const uintptr_t, Text>>>
        names_;
};

}  // namespace

Vector<Text> capture_backtrace() noexcept {
    void *frames[64];
    int count = ::backtrace(frames, 64);
    Symbolizer &symbolizer = Symbolizer::instance();
    Vector<Text> lines;
    // Frame 0 is this function. Return addresses point after the call: look up the call.
    for (int i = 1; i < count; ++i)
        lines.push_back(symbolizer.describe(i - 1, reinterpret_cast<uintptr_t>(frames[i]) - 1));
    return lines;
}

}  // namespace quarn
