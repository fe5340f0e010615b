#include "io/standard_streams.h"

#include <unistd.h>

#include "io/export_table.h"
#include "io/handle_object.h"
#include "io/handle_registry.h"
#include "quarn/handle.h"

namespace quarn::io {

namespace {

struct StandardRecords {
    HandleRef records[3];

    StandardRecords() noexcept {
        BufferMode out_mode = ::isatty(STDOUT_FILENO) == 1 ? BufferMode::line : BufferMode::full;
        records[0] = make_handle_record(STDIN_FILENO, HandleKind::standard_stream, true, false,
                                        BufferMode::full, 0);
        records[1] = make_handle_record(STDOUT_FILENO, HandleKind::standard_stream, false, true,
                                        out_mode, 1);
        records[2] = make_handle_record(STDERR_FILENO, HandleKind::standard_stream, false, true,
                                        BufferMode::none, 2);
        // A prompt written to stdout shows before the program waits on stdin.
        records[0]->set_flush_before_read(records[1].get());
        for (const HandleRef &record : records) register_handle(record);
    }
};

// Immortal, like the process's descriptors they stand for.
StandardRecords &standard_records() noexcept {
    static StandardRecords &instance = *new StandardRecords;
    return instance;
}

// The program's streams over the three records, made once and persistent.
struct DefaultStreams {
    quarn_object *streams[3];

    DefaultStreams() noexcept {
        for (int i = 0; i < 3; ++i) {
            quarn_object *handle = make_handle_object(standard_records().records[i]);
            streams[i] = call_export(Export::stream_of_handle, handle);
            quarn_mark_persistent(streams[i]);
        }
    }
};

quarn_object *default_stream(StandardStream which) noexcept {
    static DefaultStreams &instance = *new DefaultStreams;
    return instance.streams[static_cast<int>(which)];
}

// This thread's replacements; null where the thread uses the default. Each holds one
// reference. A thread that ends with a replacement set keeps it forever: releasing it at
// thread exit would run Lean finalisers while the process may be ending.
thread_local constinit quarn_object *replacements[3] = {};

quarn_object *current_stream(StandardStream which) noexcept {
    quarn_object *replacement = replacements[static_cast<int>(which)];
    quarn_object *stream = replacement != nullptr ? replacement : default_stream(which);
    quarn_inc(stream);
    return stream;
}

quarn_object *replace_stream(StandardStream which, quarn_object *stream) noexcept {
    quarn_object *previous = current_stream(which);
    quarn_object *&slot = replacements[static_cast<int>(which)];
    if (slot != nullptr) quarn_dec(slot);
    slot = stream;
    return previous;
}

}  // namespace

HandleRecord &standard_record(StandardStream which) noexcept {
    return *standard_records().records[static_cast<int>(which)];
}

}  // namespace quarn::io

using quarn::io::StandardStream;

extern "C" quarn_object *quarn_lean_get_stdin(void) noexcept {
    return quarn::io::current_stream(StandardStream::in);
}
extern "C" quarn_object *quarn_lean_get_stdout(void) noexcept {
    return quarn::io::current_stream(StandardStream::out);
}
extern "C" quarn_object *quarn_lean_get_stderr(void) noexcept {
    return quarn::io::current_stream(StandardStream::err);
}

extern "C" quarn_object *quarn_lean_get_set_stdin(quarn_object *stream) noexcept {
    return quarn::io::replace_stream(StandardStream::in, stream);
}
extern "C" quarn_object *quarn_lean_get_set_stdout(quarn_object *stream) noexcept {
    return quarn::io::replace_stream(StandardStream::out, stream);
}
extern "C" quarn_object *quarn_lean_get_set_stderr(quarn_object *stream) noexcept {
    return quarn::io::replace_stream(StandardStream::err, stream);
}
