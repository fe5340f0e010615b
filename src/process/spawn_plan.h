// Everything a new child needs, gathered in the parent before it forks: after the fork the
// child may only make async-signal-safe calls, so it allocates nothing and takes no lock.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/allocator.h"
#include "quarn/object.h"

namespace quarn::process {

enum class StreamMode : uint8_t { piped = 0, inherit = 1, null = 2 };

struct SpawnPlan {
    StreamMode modes[3];
    bool new_session = false;
    // The command first, then the arguments; `argv` points into them and ends with null.
    Vector<Text> words;
    Vector<char *> argv;
    bool has_directory = false;
    Text directory;
    // The child's whole environment, when it differs from the parent's: "name=value"
    // entries and a final null.
    bool replaces_environment = false;
    Vector<Text> environment_entries;
    Vector<char *> envp;
    // Where the command is looked for, in order: the command itself when it holds a "/",
    // else each folder of the child's PATH (or "/bin:/usr/bin" when it has none) joined
    // with the command; nothing for an empty command.
    Vector<Text> candidates;
    // The lines the child writes to its standard error before it gives up.
    Text directory_failure;
    Text exec_failure;
};

// Reads the spawn arguments (borrowed) into a plan. Every text is cut at its first zero
// byte, as the system would read it. A stream mode of 3 or more ends the process with
// "invalid IO.Process.Stdio value " and the number.
void read_spawn_arguments(quarn_object *args, SpawnPlan &plan) noexcept;

}  // namespace quarn::process
