// Bytes to runtime objects and back. The first byte picks the type (sample_types.h); the
// rest is the value. A value that reads must write back to exactly the same bytes, and a
// value that does not read leaves nothing behind (the leak checker watches every input).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "capi/handle_table.h"
#include "sample_types.h"
#include "wire/object_codec.h"
#include "wire/type_table.h"

namespace {

struct Setup : fuzz::Samples {
    Setup() {
        // Handles 1 to 3 are live for the whole run (read in borrowing mode).
        for (int i = 0; i < 3; ++i) quarn::capi::register_object(quarn_alloc_ctor(0, 0, 8));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Setup &setup = *new Setup;
    if (size == 0) return 0;
    const fuzz::CodecCase &c = setup.cases[data[0] % setup.cases.size()];
    quarn::Text error;
    quarn_object *o = quarn::wire::decode_object_exact(setup.table, c.type, data + 1, size - 1,
                                                       quarn::wire::HandleMode::Borrow, error);
    if (o == nullptr) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (c.round_trip) {
        quarn::wire::ByteSink sink;
        quarn::wire::encode_object(setup.table, c.type, o, sink);
        if (sink.length() != size - 1) std::abort();
        if (size > 1 && std::memcmp(sink.data(), data + 1, size - 1) != 0) std::abort();
    }
    quarn_dec(o);
    return 0;
}
