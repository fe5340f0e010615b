/*
 * The stand-in compiled program: what the compiler emits for a Lean program whose functions
 * a host calls. Its type table, and for each function a generated signature and a generated
 * entry point, written against quarn/quarn.h the way generated code is. Built as a shared
 * library (libquarn_kit_program.so) that leaves the runtime's symbols to whoever loads it:
 * the shipped library for examples, the test build's static runtime for tests.
 * C and C++.
 */
#ifndef QUARN_KIT_PROGRAM_H
#define QUARN_KIT_PROGRAM_H

#include <stddef.h>
#include <stdint.h>

#include "quarn/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The program's type table, loaded on the first call; the first call also registers the
 * program's exports with the runtime, as the program's start-up does. Any thread. */
const quarn_types *kit_program_types(void);

/* The bytes of the program's type table, as generated (hosts that read the table themselves,
 * such as the Python host, start from these). Stores their length through `length`. */
const uint8_t *kit_program_table_bytes(size_t *length);

/* One function a host may call: its name, generated entry point and generated signature. */
typedef struct {
    const char *name;
    quarn_entry_point entry;
    const uint8_t *signature;
    size_t signature_length;
} kit_program_function;

/* The function of that name, or null. */
const kit_program_function *kit_program_function_named(const char *name);

/* The functions, by file of the program: calls into Lean (pure, IO, EIO, generic, async
 * programs, closures) and functions that call the host. */
extern const kit_program_function kit_program_calls[];
extern const size_t kit_program_call_count;
extern const kit_program_function kit_program_host_functions[];
extern const size_t kit_program_host_function_count;

/* One Lean extern of the program that the host implements: its name and its generated
 * signature, which the host registers its C function with (quarn_host_function_new). */
typedef struct {
    const char *name;
    const uint8_t *signature;
    size_t signature_length;
} kit_program_extern;

extern const kit_program_extern kit_program_externs[];
extern const size_t kit_program_extern_count;

/* The extern of that name, or null. */
const kit_program_extern *kit_program_extern_named(const char *name);

/* Binds the Lean extern `name` to the host function number the host registered for it.
 * Calling an extern that was never bound ends the process. */
void kit_program_bind_extern(const char *name, uint64_t number);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_KIT_PROGRAM_H */
