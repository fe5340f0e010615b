#include "host_shim.h"

#include <cstdio>

#include "quarn/object.h"
#include "quarn/string.h"
#include "wire/object_codec.h"
#include "wire/value_codec.h"

namespace {

void describe(const quarn_object *o, char *out, size_t size) {
    if (quarn_is_scalar(o)) {
        std::snprintf(out, size, "the scalar %zu", quarn_unbox(o));
        return;
    }
    unsigned tag = quarn_ptr_tag(o);
    if (tag <= QUARN_MAX_CTOR_TAG) {
        std::snprintf(out, size, "constructor tag %u with %u object fields", tag, quarn_ctor_num_objs(o));
    } else if (tag == QUARN_TAG_STRING) {
        std::snprintf(out, size, "the string \"%s\"", quarn_string_cstr(o));
    } else {
        std::snprintf(out, size, "an object of tag %u", tag);
    }
}

}  // namespace

extern "C" quarn_value *kit_through_lean(const quarn_value *value, const quarn_type *type, char *lean_form,
                                         size_t lean_form_size, char *message, size_t size) {
    quarn::Text error;
    quarn::wire::ByteSink to_lean;
    if (!quarn::wire::write_value(*value, type->expr, type->table, to_lean, error)) {
        std::snprintf(message, size, "%s", error.c_str());
        return nullptr;
    }
    quarn_object *o = quarn::wire::decode_object_exact(type->table, type->expr, to_lean.data(), to_lean.length(),
                                                       quarn::wire::HandleMode::Adopt, error);
    if (o == nullptr) {
        std::snprintf(message, size, "%s", error.c_str());
        return nullptr;
    }
    describe(o, lean_form, lean_form_size);
    quarn::wire::ByteSink from_lean;
    quarn::wire::encode_object(type->table, type->expr, o, from_lean);
    quarn_dec(o);
    quarn_value *back = quarn::wire::decode_value(from_lean.data(), from_lean.length(), type->expr, type->table, error);
    if (back == nullptr) std::snprintf(message, size, "%s", error.c_str());
    return back;
}
