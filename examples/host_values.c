/*
 * A host embedding a compiled program: it loads the program's type table, describes types
 * with type handles, builds host values, sends them through the Lean side and reads them
 * back, and prints them.
 *
 * The program's types, as its generated table describes them:
 *     structure Point where x : Nat; y : Float
 *     inductive Shape | circle (radius : Float) | rect (width height : Nat) | empty
 *     structure Figure where label : Option String; shape : Shape; origin : Option Point
 *
 * Calls into compiled programs come with the invocation interface; until then the
 * conversion to a Lean object and back goes through the test kit's stand-in
 * (tests/kit/host_shim.h), which uses the same codecs a call does.
 */
#include <stdio.h>
#include <stdlib.h>

#include "host_shim.h"
#include "quarn/host.h"

/* The type table, as the compiler generates it. */
static const uint8_t program_types[] = {
    0x51, 0x52, 0x4e, 0x54, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
    0x05, 0x00, 0x00, 0x00, 0x50, 0x6f, 0x69, 0x6e, 0x74, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x07, 0x00, 0x01, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00,
    0x50, 0x6f, 0x69, 0x6e, 0x74, 0x2e, 0x6d, 0x6b, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00,
    0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x78, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x79, 0x02, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x0d, 0x05, 0x00, 0x00, 0x00, 0x53, 0x68, 0x61, 0x70, 0x65,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x03, 0x00, 0x00, 0x00, 0x0c,
    0x00, 0x00, 0x00, 0x53, 0x68, 0x61, 0x70, 0x65, 0x2e, 0x63, 0x69, 0x72,
    0x63, 0x6c, 0x65, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x06,
    0x00, 0x00, 0x00, 0x72, 0x61, 0x64, 0x69, 0x75, 0x73, 0x02, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x0d, 0x0a, 0x00, 0x00, 0x00, 0x53, 0x68, 0x61, 0x70,
    0x65, 0x2e, 0x72, 0x65, 0x63, 0x74, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00,
    0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x77, 0x69, 0x64, 0x74, 0x68, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x68, 0x65, 0x69,
    0x67, 0x68, 0x74, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x0b, 0x00, 0x00,
    0x00, 0x53, 0x68, 0x61, 0x70, 0x65, 0x2e, 0x65, 0x6d, 0x70, 0x74, 0x79,
    0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00,
    0x46, 0x69, 0x67, 0x75, 0x72, 0x65, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07,
    0x00, 0x01, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x46, 0x69, 0x67,
    0x75, 0x72, 0x65, 0x2e, 0x6d, 0x6b, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00,
    0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x6c, 0x61, 0x62, 0x65, 0x6c, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x14, 0x10, 0x05, 0x00, 0x00, 0x00, 0x73, 0x68,
    0x61, 0x70, 0x65, 0x00, 0x01, 0x00, 0x00, 0x00, 0x1b, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x6f, 0x72, 0x69,
    0x67, 0x69, 0x6e, 0x00, 0x02, 0x00, 0x00, 0x00, 0x14, 0x1b, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

enum { POINT = 0, SHAPE = 1, FIGURE = 2 };
static const char *const shape_constructors[] = {"Shape.circle", "Shape.rect", "Shape.empty"};

static void print_value(const quarn_value *v, uint32_t definition);

/* Prints an Option whose content is printed by `definition` (-1: a String). */
static void print_option(const quarn_value *v, int definition) {
    const quarn_value *content = quarn_value_get_option(v);
    if (content == NULL) {
        printf("none");
        return;
    }
    printf("some ");
    if (definition < 0) {
        size_t length = 0;
        const char *text = quarn_value_get_string(content, &length);
        printf("\"%.*s\"", (int)length, text);
    } else {
        print_value(content, (uint32_t)definition);
    }
}

static void print_nat(const quarn_value *v) {
    char *digits = quarn_value_number_string(v);
    printf("%s", digits);
    quarn_string_free(digits);
}

static void print_value(const quarn_value *v, uint32_t definition) {
    switch (definition) {
    case POINT:
        printf("Point.mk { x: ");
        print_nat(quarn_value_ctor_field(v, 0, 0));
        printf(", y: %g }", quarn_value_get_float(quarn_value_ctor_field(v, 0, 1)));
        break;
    case SHAPE: {
        uint32_t index = quarn_value_ctor_index(v);
        printf("%s", shape_constructors[index]);
        if (index == 0) printf(" { radius: %g }", quarn_value_get_float(quarn_value_field(v, 0)));
        if (index == 1) {
            printf(" { width: ");
            print_nat(quarn_value_field(v, 0));
            printf(", height: ");
            print_nat(quarn_value_field(v, 1));
            printf(" }");
        }
        break;
    }
    case FIGURE:
        printf("Figure.mk { label: ");
        print_option(quarn_value_ctor_field(v, 0, 0), -1);
        printf(", shape: ");
        print_value(quarn_value_ctor_field(v, 0, 1), SHAPE);
        printf(", origin: ");
        print_option(quarn_value_ctor_field(v, 0, 2), POINT);
        printf(" }");
        break;
    }
}

static quarn_value *point(uint64_t x, double y) {
    quarn_value *fields[] = {quarn_value_nat(x), quarn_value_float(y)};
    return quarn_value_ctor(0, fields, 2);
}

static quarn_value *figure(quarn_value *label, quarn_value *shape, quarn_value *origin) {
    quarn_value *fields[] = {label, shape, origin};
    return quarn_value_ctor(0, fields, 3);
}

/* Sends the value through the Lean side, prints both forms, and frees it. */
static int show(const char *title, quarn_value *v, const quarn_type *type, uint32_t definition) {
    char lean_form[128], message[256];
    printf("%s\n  host value: ", title);
    print_value(v, definition);
    quarn_value *back = kit_through_lean(v, type, lean_form, sizeof lean_form, message, sizeof message);
    if (back == NULL) {
        printf("\n  failed: %s\n", message);
        quarn_value_free(v);
        return 1;
    }
    printf("\n  as a Lean object: %s\n  read back: ", lean_form);
    print_value(back, definition);
    printf("\n  the same value: %s\n", quarn_value_equal(v, back) ? "yes" : "no");
    int failed = !quarn_value_equal(v, back);
    quarn_value_free(back);
    quarn_value_free(v);
    return failed;
}

/* Sends a value that does not fit the type; prints why it was refused, and frees it. */
static int show_refused(const char *title, quarn_value *v, const quarn_type *type) {
    char lean_form[128], message[256];
    quarn_value *back = kit_through_lean(v, type, lean_form, sizeof lean_form, message, sizeof message);
    printf("%s\n  refused: %s\n", title, back == NULL ? message : "(it was not)");
    quarn_value_free(v);
    if (back == NULL) return 0;
    quarn_value_free(back);
    return 1;
}

int main(void) {
    const quarn_types *types = quarn_types_load(program_types, sizeof program_types);
    quarn_type *figure_type = quarn_type_inductive(types, FIGURE, NULL, 0);
    quarn_type *shape_type = quarn_type_inductive(types, SHAPE, NULL, 0);
    int failures = 0;

    quarn_value *rect_fields[] = {quarn_value_nat(3), quarn_value_nat_parse("18446744073709551616")};
    failures += show("A labelled rectangle at a point:",
                     figure(quarn_value_some(quarn_value_cstring("wide \xE2\x86\x94 rectangle")),
                            quarn_value_ctor(1, rect_fields, 2), quarn_value_some(point(7, 0.5))),
                     figure_type, FIGURE);

    quarn_value *circle_fields[] = {quarn_value_float(2.5)};
    failures += show("A circle without label or origin:",
                     figure(quarn_value_none(), quarn_value_ctor(0, circle_fields, 1), quarn_value_none()),
                     figure_type, FIGURE);

    failures += show("The empty shape (a constructor without fields):", quarn_value_ctor(2, NULL, 0), shape_type,
                     SHAPE);

    /* A value that does not fit its type is refused with a message, not a crash. */
    quarn_value *radius[] = {quarn_value_float(1.0)};
    failures += show_refused("A circle given as a figure:", quarn_value_ctor(0, radius, 1), figure_type);

    quarn_type_free(shape_type);
    quarn_type_free(figure_type);
    return failures == 0 ? 0 : 1;
}
