// Type tables from arbitrary bytes: every input loads or fails with a message, and a table
// that loads can be printed and checked.
#include <cstdint>
#include <cstdlib>

#include "capi/type_expr.h"
#include "wire/type_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    quarn_types table;
    quarn::Text error;
    if (!quarn::wire::read_type_table(data, size, table, error)) {
        if (error.empty()) std::abort();  // every failure names its reason
        return 0;
    }
    for (const quarn::capi::Definition &d : table.definitions)
        for (const quarn::capi::Constructor &c : d.constructors)
            for (const quarn::capi::Field &f : c.fields) {
                quarn::Text text = quarn::capi::type_text(f.type);
                if (text.empty() || !quarn::capi::check_type(table, d.parameters, f.type, error))
                    std::abort();  // a loaded table passed these checks
            }
    return 0;
}
