// Per-processor information: times from /proc/stat, model and speed from /proc/cpuinfo.
#include <unistd.h>

#include <charconv>

#include "array/array_alloc.h"
#include "quarn/system.h"
#include "system/cpu_times.h"
#include "system/results.h"

namespace quarn::system {

namespace {

// The lines of a text, one at a time.
class Lines {
public:
    explicit Lines(std::string_view text) noexcept : rest_(text) {}
    bool next(std::string_view &line) noexcept {
        if (rest_.empty()) return false;
        size_t end = rest_.find('\n');
        line = rest_.substr(0, end);
        rest_ = end == std::string_view::npos ? std::string_view{} : rest_.substr(end + 1);
        return true;
    }

private:
    std::string_view rest_;
};

uint64_t leading_number(std::string_view s) noexcept {
    uint64_t n = 0;
    std::from_chars(s.data(), s.data() + s.size(), n);
    return n;
}

// "key<blanks>: value" → value, when the line's key is `key`.
bool value_of(std::string_view line, std::string_view key, std::string_view &value) noexcept {
    if (line.substr(0, key.size()) != key) return false;
    size_t colon = line.find(':', key.size());
    if (colon == std::string_view::npos) return false;
    if (line.substr(key.size(), colon - key.size()).find_first_not_of(" \t") != std::string_view::npos)
        return false;
    value = line.substr(colon + 1);
    size_t start = value.find_first_not_of(" \t");
    value = start == std::string_view::npos ? std::string_view{} : value.substr(start);
    return true;
}

}  // namespace

Vector<CpuTimes> read_cpu_times(std::string_view stat, std::string_view cpuinfo,
                                long ticks_per_second) noexcept {
    Vector<CpuTimes> cpus;
    std::string_view line;
    for (Lines lines(stat); lines.next(line);) {
        // "cpuN user nice system idle iowait irq softirq ...", in clock ticks; the first
        // line, "cpu ", sums them all.
        if (line.size() < 4 || line.substr(0, 3) != "cpu" || line[3] < '0' || line[3] > '9') continue;
        CpuTimes cpu;
        const char *at = line.data() + 3;
        const char *end = line.data() + line.size();
        at = std::from_chars(at, end, cpu.number).ptr;
        uint64_t ticks[7] = {};
        for (uint64_t &t : ticks) {
            while (at < end && *at == ' ') ++at;
            at = std::from_chars(at, end, t).ptr;
        }
        auto ms = [&](uint64_t t) {
            return ticks_per_second > 0 ? t * 1000 / static_cast<uint64_t>(ticks_per_second) : 0;
        };
        cpu.user = ms(ticks[0]);
        cpu.nice = ms(ticks[1]);
        cpu.system = ms(ticks[2]);
        cpu.idle = ms(ticks[3]);
        cpu.irq = ms(ticks[5] + ticks[6]);
        cpus.push_back(std::move(cpu));
    }
    // Blocks of "key : value" lines, one block per processor, each starting with
    // "processor : N".
    CpuTimes *current = nullptr;
    for (Lines lines(cpuinfo); lines.next(line);) {
        std::string_view value;
        if (value_of(line, "processor", value)) {
            uint64_t n = leading_number(value);
            current = nullptr;
            for (CpuTimes &cpu : cpus)
                if (cpu.number == n) current = &cpu;
        } else if (current != nullptr && value_of(line, "model name", value)) {
            current->model.assign(value);
        } else if (current != nullptr && value_of(line, "cpu MHz", value)) {
            current->speed_mhz = leading_number(value);
        }
    }
    return cpus;
}

}  // namespace quarn::system

using namespace quarn::system;

extern "C" quarn_object *quarn_lean_uv_cpu_info(void) noexcept {
    quarn::Text stat, cpuinfo;
    if (!read_small_file("/proc/stat", stat)) return error_number(errno != 0 ? errno : EIO);
    read_small_file("/proc/cpuinfo", cpuinfo);  // without it, models and speeds are unknown
    quarn::Vector<CpuTimes> cpus = read_cpu_times(stat, cpuinfo, ::sysconf(_SC_CLK_TCK));
    quarn_array_object *array = quarn::array::allocate_array(cpus.size(), cpus.size());
    for (size_t i = 0; i < cpus.size(); ++i) {
        const CpuTimes &cpu = cpus[i];
        quarn_object *entry = quarn_alloc_ctor(0, 1, 6 * 8);
        quarn_ctor_set(entry, 0, text(cpu.model.empty() ? std::string_view("unknown") : cpu.model));
        const uint64_t scalars[6] = {cpu.speed_mhz, cpu.user, cpu.nice, cpu.system, cpu.idle, cpu.irq};
        for (size_t k = 0; k < 6; ++k) quarn_ctor_set_uint64(entry, 8 + k * 8, scalars[k]);
        array->data[i] = entry;
    }
    return quarn::io::io_ok(&array->header);
}
