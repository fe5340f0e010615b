// Generated signatures: bytes read as a signature and, when they read, checked against the
// sample table and instantiated with Nat for each type parameter. Nothing may crash or leak;
// a signature that checks must instantiate to one whose result description checks too.
#include <cstdint>
#include <cstdlib>

#include "sample_types.h"
#include "wire/signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static fuzz::Samples &setup = *new fuzz::Samples;
    quarn::wire::Signature signature;
    quarn::Text error;
    if (!quarn::wire::read_signature(data, size, signature, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (!quarn::wire::check_signature(*setup.table, signature, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (signature.type_parameters > 8) return 0;
    quarn::Vector<quarn::capi::TypeExpr> nats(signature.type_parameters, fuzz::node(fuzz::Kind::Nat));
    quarn::wire::Signature instantiated;
    // Instantiation may still refuse a result nested too deep; it must say why.
    if (!quarn::wire::instantiate_signature(signature, nats, instantiated, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (!quarn::wire::check_result_description(*setup.table, 0, instantiated.result, error)) std::abort();
    return 0;
}
