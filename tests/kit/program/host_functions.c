/* The program's functions that call the host: externs the host implements and functions
 * that take host functions as arguments. */
#include "program.h"

const kit_program_function kit_program_host_functions[] = {{0, 0, 0, 0}};
const size_t kit_program_host_function_count = 0;

void kit_program_bind_extern(const char *name, uint64_t number) {
    (void)name;
    (void)number;
}
