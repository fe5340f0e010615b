/*
 * A host that embeds a compiled program (the test kit's stand-in): it calls the program's
 * functions with host values and prints results and errors, drives an async program step by
 * step, implements the program's externs with C functions, and passes host functions to Lean.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "program.h"
#include "quarn/host.h"

static const quarn_types *table;

/* Prints a value of the kinds this host meets. */
static void print_value(const quarn_value *v) {
    size_t length = 0;
    switch (quarn_value_kind(v)) {
        case QUARN_KIND_NAT: {
            char *digits = quarn_value_number_string(v);
            printf("%s", digits);
            quarn_string_free(digits);
            break;
        }
        case QUARN_KIND_STRING: {
            const char *text = quarn_value_get_string(v, &length);
            printf("\"%.*s\"", (int)length, text);
            break;
        }
        case QUARN_KIND_UNIT:
            printf("()");
            break;
        case QUARN_KIND_INDUCTIVE:
            printf("constructor %u", (unsigned)quarn_value_ctor_index(v));
            break;
        default:
            printf("a value of kind %d", quarn_value_kind(v));
    }
}

static const char *status_name(int status) {
    static const char *const names[] = {"QUARN_OK", "QUARN_MALFORMED", "QUARN_FAILED", "QUARN_NOT_LIVE"};
    return status >= 0 && status <= 3 ? names[status] : "?";
}

/* Calls the program's function `name` with `count` values (which it frees) and prints the
 * outcome. */
static void call(const char *name, const quarn_value **args, size_t count) {
    const kit_program_function *f = kit_program_function_named(name);
    quarn_value *result = NULL;
    quarn_error *error = NULL;
    int status = quarn_invoke(table, f->entry, f->signature, f->signature_length, NULL, 0, args, count,
                              &result, &error);
    printf("%s: ", name);
    if (status == QUARN_OK) {
        print_value(result);
        quarn_value_free(result);
    } else {
        printf("%s, %s error: %s", status_name(status),
               quarn_error_kind(error) == QUARN_ERROR_IO      ? "IO"
               : quarn_error_kind(error) == QUARN_ERROR_VALUE ? "value"
                                                               : "failure",
               quarn_error_message(error));
        quarn_error_free(error);
    }
    printf("\n");
    for (size_t i = 0; i < count; ++i) quarn_value_free((quarn_value *)args[i]);
}

/* ---- C host functions --------------------------------------------------------------- */

static int double_nat(void *user_data, const quarn_value *const *args, size_t count, quarn_value **result,
                      quarn_error **error) {
    (void)user_data, (void)count, (void)error;
    uint64_t n = 0;
    quarn_value_get_nat(args[0], &n);
    *result = quarn_value_nat(2 * n);
    return QUARN_OK;
}

static int log_line(void *user_data, const quarn_value *const *args, size_t count, quarn_value **result,
                    quarn_error **error) {
    (void)count;
    size_t length = 0;
    const char *line = quarn_value_get_string(args[0], &length);
    if (length == 0) {
        *error = quarn_error_io("the log refuses empty lines");
        return QUARN_FAILED;
    }
    printf("  [%s] %.*s\n", (const char *)user_data, (int)length, line);
    *result = quarn_value_unit();
    return QUARN_OK;
}

static int check_even(void *user_data, const quarn_value *const *args, size_t count, quarn_value **result,
                      quarn_error **error) {
    (void)user_data, (void)count;
    uint64_t n = 0;
    quarn_value_get_nat(args[0], &n);
    if (n % 2 != 0) {
        char message[64];
        snprintf(message, sizeof message, "%llu is odd", (unsigned long long)n);
        *error = quarn_error_from_value(quarn_value_cstring(message));
        return QUARN_FAILED;
    }
    *result = quarn_value_nat(n / 2);
    return QUARN_OK;
}

static void finalized(void *user_data) { printf("  (%s released)\n", (const char *)user_data); }

static void implement(const char *name, quarn_host_function function, void *user_data) {
    const kit_program_extern *e = kit_program_extern_named(name);
    kit_program_bind_extern(name, quarn_host_function_new(table, e->signature, e->signature_length, function,
                                                          user_data, NULL));
}

/* ---- an async program ---------------------------------------------------------------- */

/* Answers each operation of `name`'s program until it is done: ask with "Grace", add with
 * the sum, call with `function`. */
static void converse(const char *name, uint64_t n, const quarn_value *function) {
    const kit_program_function *f = kit_program_function_named(name);
    const quarn_value *args[] = {quarn_value_nat(n)};
    quarn_step step = QUARN_STEP_EMPTY;
    quarn_error *error = NULL;
    int status = quarn_invoke_async(table, f->entry, f->signature, f->signature_length, NULL, 0, args, 1, &step,
                                    &error);
    quarn_value_free((quarn_value *)args[0]);
    while (status == QUARN_OK && step.kind == QUARN_STEP_OPERATION) {
        const quarn_value *operation = step.value;
        quarn_value *answer;
        printf("%s asks: ", name);
        switch (quarn_value_ctor_index(operation)) {
            case 0:
                print_value(quarn_value_field(operation, 0));
                answer = quarn_value_cstring("Grace");
                break;
            case 1: {
                uint64_t a = 0, b = 0;
                quarn_value_get_nat(quarn_value_field(operation, 0), &a);
                quarn_value_get_nat(quarn_value_field(operation, 1), &b);
                printf("add %llu %llu", (unsigned long long)a, (unsigned long long)b);
                answer = quarn_value_nat(a + b);
                break;
            }
            default:
                printf("a function");
                answer = quarn_value_clone(function);
        }
        printf("\n");
        uint64_t resumption = step.resumption;
        quarn_step_clear(&step);
        status = quarn_resume(resumption, answer, &step, &error);
        quarn_value_free(answer);
    }
    if (status != QUARN_OK) {
        printf("%s: %s: %s\n", name, status_name(status), quarn_error_message(error));
        quarn_error_free(error);
        return;
    }
    printf("%s: ", name);
    print_value(step.value);
    printf("\n");
    quarn_step_clear(&step);
}

int main(void) {
    table = kit_program_types();

    /* Calls into Lean. */
    call("add", (const quarn_value *[]){quarn_value_nat(2), quarn_value_nat(40)}, 2);
    call("greet", (const quarn_value *[]){quarn_value_cstring("Ada")}, 1);
    call("greet", (const quarn_value *[]){quarn_value_cstring("")}, 1);
    call("parse_nat", (const quarn_value *[]){quarn_value_cstring("12x")}, 1);
    call("add", (const quarn_value *[]){quarn_value_cstring("two"), quarn_value_nat(1)}, 2);

    /* Lean calling the host: externs implemented by C functions. */
    implement("host_double", double_nat, NULL);
    implement("host_log", log_line, "log");
    implement("host_check", check_even, NULL);
    call("double_plus_one", (const quarn_value *[]){quarn_value_nat(20)}, 1);
    call("log_line", (const quarn_value *[]){quarn_value_cstring("written by Lean")}, 1);
    call("log_line", (const quarn_value *[]){quarn_value_cstring("")}, 1);
    call("check", (const quarn_value *[]){quarn_value_nat(10)}, 1);
    call("check", (const quarn_value *[]){quarn_value_nat(7)}, 1);

    /* A host function passed to Lean as a value, and called by the host itself. */
    quarn_type *nat = quarn_type_simple(QUARN_KIND_NAT);
    quarn_type *nat_to_nat = quarn_type_function((const quarn_type *const[]){nat}, 1, nat);
    quarn_value *doubler = quarn_value_function(nat_to_nat, double_nat, "the doubler", finalized);
    call("apply_twice", (const quarn_value *[]){quarn_value_clone(doubler), quarn_value_nat(3)}, 2);
    quarn_value *result = NULL;
    quarn_error *error = NULL;
    const quarn_value *eleven[] = {quarn_value_nat(11)};
    if (quarn_value_call(doubler, nat_to_nat, eleven, 1, &result, &error) == QUARN_OK) {
        printf("the host calls its doubler: ");
        print_value(result);
        printf("\n");
        quarn_value_free(result);
    }
    quarn_value_free((quarn_value *)eleven[0]);

    /* Async programs: answered by the host, one asking for a function. */
    converse("conversation", 32, doubler);
    converse("apply_answer", 21, doubler);

    quarn_value_free(doubler);
    quarn_type_free(nat_to_nat);
    quarn_type_free(nat);
    printf("outstanding resumptions: %zu\n", quarn_async_outstanding());
    return 0;
}
