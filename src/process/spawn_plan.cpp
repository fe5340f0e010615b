#include "process/spawn_plan.h"

#include <unistd.h>

#include <stdlib.h>

#include <charconv>
#include <cstring>

#include "core/panic.h"
#include "fs/system_call.h"

extern char **environ;

namespace quarn::process {

namespace {

// The spawn arguments: five object fields, then the inherit-environment and new-session
// bytes.
constexpr unsigned kStdioField = 0, kCommandField = 1, kArgumentsField = 2, kDirectoryField = 3,
                   kEnvironmentField = 4;
constexpr unsigned kInheritEnvironmentByte = 0, kNewSessionByte = 1;

// The text the system sees of a string: its bytes up to the first zero byte.
Text system_text(const quarn_object *s) {
    std::string_view bytes = fs::bytes_of(s);
    return Text(bytes.substr(0, std::min(bytes.size(), std::strlen(bytes.data()))));
}

bool is_some(const quarn_object *option) { return !quarn_is_scalar(option); }

// Applies one change to the entries: removes every entry of the variable and, when a value
// is given, appends the new one. Names the C library would refuse (empty, or holding "=")
// change nothing, as setenv and unsetenv would.
void apply_change(Vector<Text> &entries, std::string_view name, const quarn_object *value) {
    if (name.empty() || name.find('=') != std::string_view::npos) return;
    std::erase_if(entries, [&](const Text &entry) {
        return entry.size() > name.size() && entry[name.size()] == '=' &&
               std::string_view(entry).substr(0, name.size()) == name;
    });
    if (!is_some(value)) return;
    Text entry(name);
    entry += '=';
    entry += system_text(quarn_ctor_get(value, 0));
    entries.push_back(std::move(entry));
}

// The value of PATH in the child's environment, or none.
const char *child_path(const SpawnPlan &plan) {
    if (!plan.replaces_environment) return ::getenv("PATH");
    for (const Text &entry : plan.environment_entries)
        if (entry.starts_with("PATH=")) return entry.c_str() + 5;
    return nullptr;
}

// The search execvp makes, written out before the fork.
void list_candidates(SpawnPlan &plan) {
    const Text &command = plan.words.front();
    if (command.empty()) return;
    if (command.find('/') != Text::npos) {
        plan.candidates.push_back(command);
        return;
    }
    const char *path = child_path(plan);
    std::string_view folders = path != nullptr ? path : "/bin:/usr/bin";
    for (;;) {
        size_t colon = folders.find(':');
        std::string_view folder = folders.substr(0, colon);
        Text candidate(folder.empty() ? std::string_view(".") : folder);
        candidate += '/';
        candidate += command;
        plan.candidates.push_back(std::move(candidate));
        if (colon == std::string_view::npos) break;
        folders.remove_prefix(colon + 1);
    }
}

[[noreturn]] void invalid_stdio(unsigned mode) {
    char digits[4];
    auto end = std::to_chars(digits, digits + sizeof digits, mode).ptr;
    internal_panic({"invalid IO.Process.Stdio value ", std::string_view(digits, end - digits)});
}

}  // namespace

void read_spawn_arguments(quarn_object *args, SpawnPlan &plan) noexcept {
    const uint8_t *stdio = quarn_ctor_scalar_area(quarn_ctor_get(args, kStdioField));
    for (unsigned i = 0; i < 3; ++i) {
        if (stdio[i] > 2) invalid_stdio(stdio[i]);
        plan.modes[i] = static_cast<StreamMode>(stdio[i]);
    }
    const uint8_t *flags = quarn_ctor_scalar_area(args);
    plan.new_session = flags[kNewSessionByte] != 0;
    bool inherit_environment = flags[kInheritEnvironmentByte] != 0;

    plan.words.push_back(system_text(quarn_ctor_get(args, kCommandField)));
    auto *arguments = reinterpret_cast<quarn_array_object *>(quarn_ctor_get(args, kArgumentsField));
    for (size_t i = 0; i < arguments->size; ++i) plan.words.push_back(system_text(arguments->data[i]));
    for (Text &word : plan.words) plan.argv.push_back(word.data());
    plan.argv.push_back(nullptr);

    quarn_object *directory = quarn_ctor_get(args, kDirectoryField);
    if (is_some(directory)) {
        plan.has_directory = true;
        plan.directory = system_text(quarn_ctor_get(directory, 0));
    }

    auto *changes = reinterpret_cast<quarn_array_object *>(quarn_ctor_get(args, kEnvironmentField));
    plan.replaces_environment = !inherit_environment || changes->size > 0;
    if (plan.replaces_environment) {
        if (inherit_environment)
            for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry)
                plan.environment_entries.emplace_back(*entry);
        for (size_t i = 0; i < changes->size; ++i) {
            quarn_object *change = changes->data[i];
            Text name = system_text(quarn_ctor_get(change, 0));
            apply_change(plan.environment_entries, name, quarn_ctor_get(change, 1));
        }
        for (Text &entry : plan.environment_entries) plan.envp.push_back(entry.data());
        plan.envp.push_back(nullptr);
    }

    list_candidates(plan);

    plan.directory_failure = "could not change directory to ";
    plan.directory_failure += plan.directory;
    plan.directory_failure += '\n';
    plan.exec_failure = "could not execute external process '";
    plan.exec_failure += plan.words.front();
    plan.exec_failure += "'\n";
}

}  // namespace quarn::process
