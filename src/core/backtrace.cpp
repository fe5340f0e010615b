#include "core/backtrace.h"

#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <execinfo.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace quarn {

namespace {

struct DwflDeleter {
    void operator()(Dwfl *dwfl) const noexcept { dwfl_end(dwfl); }
};
using DwflSession = std::unique_ptr<Dwfl, DwflDeleter>;

struct FreeDeleter {
    void operator()(char *p) const noexcept { std::free(p); }
};

// The modules of this process, read from /proc, with their symbols and line tables.
DwflSession open_this_process() {
    static const Dwfl_Callbacks callbacks = {
        .find_elf = dwfl_linux_proc_find_elf,
        .find_debuginfo = dwfl_standard_find_debuginfo,
        .section_address = nullptr,
        .debuginfo_path = nullptr,
    };
    DwflSession dwfl(dwfl_begin(&callbacks));
    if (!dwfl) return dwfl;
    if (dwfl_linux_proc_report(dwfl.get(), getpid()) != 0 ||
        dwfl_report_end(dwfl.get(), nullptr, nullptr) != 0)
        dwfl.reset();
    return dwfl;
}

std::string demangle(const char *symbol) {
    int status = 0;
    std::unique_ptr<char, FreeDeleter> plain(abi::__cxa_demangle(symbol, nullptr, nullptr, &status));
    return status == 0 && plain ? std::string(plain.get()) : std::string(symbol);
}

// "#3 0x00007f...: function at file:line (module)", with what the debug information allows.
std::string describe(Dwfl *dwfl, int index, uintptr_t address) {
    char head[48];
    std::snprintf(head, sizeof head, "#%d 0x%016" PRIxPTR, index, address);
    std::string line = head;
    Dwfl_Module *module = dwfl != nullptr ? dwfl_addrmodule(dwfl, address) : nullptr;
    if (module == nullptr) return line;
    if (const char *symbol = dwfl_module_addrname(module, address)) line += ": " + demangle(symbol);
    if (Dwfl_Line *source = dwfl_module_getsrc(module, address)) {
        int number = 0;
        if (const char *file = dwfl_lineinfo(source, nullptr, &number, nullptr, nullptr, nullptr))
            line += " at " + std::string(file) + ":" + std::to_string(number);
    }
    const char *module_name = dwfl_module_info(module, nullptr, nullptr, nullptr, nullptr, nullptr,
                                               nullptr, nullptr);
    if (module_name != nullptr) line += " (" + std::string(module_name) + ")";
    return line;
}

}  // namespace

std::vector<std::string> capture_backtrace() noexcept {
    void *frames[64];
    int count = ::backtrace(frames, 64);
    DwflSession dwfl = open_this_process();
    std::vector<std::string> lines;
    // Frame 0 is this function. Return addresses point after the call: look up the call.
    for (int i = 1; i < count; ++i)
        lines.push_back(describe(dwfl.get(), i - 1, reinterpret_cast<uintptr_t>(frames[i]) - 1));
    return lines;
}

}  // namespace quarn
