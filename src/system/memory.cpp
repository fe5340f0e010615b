// Memory figures: /proc/meminfo with sysinfo as the fallback, and the limit of the process's
// control group (version 2, or the memory controller of version 1).
#include <sys/sysinfo.h>

#include <charconv>
#include <optional>

#include "quarn/system.h"
#include "system/memory_figures.h"
#include "system/results.h"

namespace quarn::system {

namespace {

std::string_view trim(std::string_view s) noexcept {
    size_t begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) return {};
    size_t end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

// A whole decimal number with an optional leading "+", or nothing.
std::optional<uint64_t> parse_decimal(std::string_view s) noexcept {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    uint64_t n = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return n;
}

// A control-group figure: a number, or "max" for no limit.
std::optional<uint64_t> figure_of(std::string_view contents) noexcept {
    std::string_view figure = trim(contents);
    if (figure == "max") return std::nullopt;
    return parse_decimal(figure);
}

struct ControlGroupFile {
    Text in_group;  // the file in the process's own group
    Text at_root;   // the same file at the root of the mount (inside a container, the
                    // group's path names the host's hierarchy and only the root is visible)
};

// Where the memory files of the process's control group are, for a given file of version
// 2 and version 1.
std::optional<ControlGroupFile> control_group_file(std::string_view v2_name,
                                                   std::string_view v1_name) noexcept {
    Text groups;
    if (!read_small_file("/proc/self/cgroup", groups)) return std::nullopt;
    std::optional<ControlGroupFile> v2;
    for (std::string_view rest = groups; !rest.empty();) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        // hierarchy-id:controllers:path
        size_t first = line.find(':');
        size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        std::string_view controllers = line.substr(first + 1, second - first - 1);
        std::string_view path = line.substr(second + 1);
        bool memory_v1 = false;
        for (std::string_view c = controllers; !c.empty();) {
            size_t comma = c.find(',');
            if (c.substr(0, comma) == "memory") memory_v1 = true;
            c = comma == std::string_view::npos ? std::string_view{} : c.substr(comma + 1);
        }
        auto make = [](std::string_view mount, std::string_view group, std::string_view name) {
            ControlGroupFile f;
            f.in_group.append(mount).append(group);
            if (f.in_group.back() != '/') f.in_group.push_back('/');
            f.in_group.append(name);
            f.at_root.append(mount).append("/").append(name);
            return f;
        };
        if (memory_v1) return make("/sys/fs/cgroup/memory", path, v1_name);
        if (line.substr(0, first) == "0" && controllers.empty())
            v2 = make("/sys/fs/cgroup", path, v2_name);
    }
    return v2;
}

std::optional<uint64_t> control_group_figure(std::string_view v2_name,
                                             std::string_view v1_name) noexcept {
    std::optional<ControlGroupFile> file = control_group_file(v2_name, v1_name);
    if (!file) return std::nullopt;
    Text contents;
    if (read_small_file(file->in_group.c_str(), contents) ||
        read_small_file(file->at_root.c_str(), contents))
        return figure_of(contents);
    return std::nullopt;
}

// Version 1 reports "no limit" as the largest page-aligned signed 64-bit number.
constexpr uint64_t kNoLimitV1 = 0x7FFFFFFFFFF00000;

uint64_t sysinfo_figure(bool total) noexcept {
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) return 0;
    return static_cast<uint64_t>(total ? info.totalram : info.freeram) * info.mem_unit;
}

}  // namespace

uint64_t meminfo_figure(std::string_view meminfo, std::string_view key) noexcept {
    for (std::string_view rest = meminfo; !rest.empty();) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (line.substr(0, key.size()) != key) continue;
        std::string_view figure = trim(line.substr(key.size()));
        if (figure.size() >= 2 && figure.substr(figure.size() - 2) == "kB")
            figure = trim(figure.substr(0, figure.size() - 2));
        std::optional<uint64_t> kib = parse_decimal(figure);
        uint64_t bytes;
        if (!kib || __builtin_mul_overflow(*kib, 1024, &bytes)) return 0;
        return bytes;
    }
    return 0;
}

uint64_t free_memory() noexcept {
    Text meminfo;
    uint64_t figure = read_small_file("/proc/meminfo", meminfo) ? meminfo_figure(meminfo, "MemAvailable:") : 0;
    return figure != 0 ? figure : sysinfo_figure(false);
}

uint64_t total_memory() noexcept {
    Text meminfo;
    uint64_t figure = read_small_file("/proc/meminfo", meminfo) ? meminfo_figure(meminfo, "MemTotal:") : 0;
    return figure != 0 ? figure : sysinfo_figure(true);
}

uint64_t constrained_memory() noexcept {
    std::optional<uint64_t> limit = control_group_figure("memory.max", "memory.limit_in_bytes");
    return limit && *limit < kNoLimitV1 ? *limit : 0;
}

uint64_t available_memory() noexcept {
    uint64_t limit = constrained_memory();
    if (limit == 0) return free_memory();
    uint64_t usage =
        control_group_figure("memory.current", "memory.usage_in_bytes").value_or(0);
    return usage > limit ? 0 : limit - usage;
}

}  // namespace quarn::system

using namespace quarn::system;

extern "C" quarn_object *quarn_lean_uv_get_free_memory(void) noexcept { return ok_number(free_memory()); }
extern "C" quarn_object *quarn_lean_uv_get_total_memory(void) noexcept { return ok_number(total_memory()); }
extern "C" quarn_object *quarn_lean_uv_get_constrained_memory(void) noexcept {
    return ok_number(constrained_memory());
}
extern "C" quarn_object *quarn_lean_uv_get_available_memory(void) noexcept {
    return ok_number(available_memory());
}
