// Bytes to host values and back. The first byte picks the type (sample_types.h); the rest
// is the value. A value that reads must write back to exactly the same bytes (handles and
// host function numbers are copied as numbers, so every type round-trips), and a value that
// does not read leaves nothing behind (the leak checker watches every input).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "capi/value_record.h"
#include "sample_types.h"
#include "wire/type_table.h"
#include "wire/value_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static fuzz::Samples &setup = *new fuzz::Samples;
    if (size == 0) return 0;
    const fuzz::CodecCase &c = setup.cases[data[0] % setup.cases.size()];
    quarn::Text error;
    quarn_value *v = quarn::wire::decode_value(data + 1, size - 1, c.type, setup.table, error);
    if (v == nullptr) {
        if (error.empty()) std::abort();
        return 0;
    }
    quarn::wire::ByteSink sink;
    if (!quarn::wire::write_value(*v, c.type, setup.table, sink, error)) std::abort();
    if (sink.length() != size - 1) std::abort();
    if (size > 1 && std::memcmp(sink.data(), data + 1, size - 1) != 0) std::abort();
    // The handles in the bytes were never registered: the value is discarded without
    // releasing them.
    quarn::capi::free_tree(v, quarn::capi::Handles::Keep, {});
    return 0;
}
