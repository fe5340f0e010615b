// Type handles: constructors, table agreement, clone and free, the print form,
// instantiation, and the fatal misuses.
#include <string>
#include <vector>

#include "capi/type_expr.h"
#include "table_bytes.h"
#include "testing.h"

namespace {

using kit::Bytes;
using quarn::capi::type_text;

// Two definitions: Pair a b (two parameters) and a plain structure.
const quarn_types *two_definition_table() {
    Bytes b;
    b.header(2);
    b.definition("Pair", 2, 1).constructor("Pair.mk", 0, 2, 0, 0, 2);
    b.object_field("a", 0).param(0).object_field("b", 1).param(1);
    b.definition("S", 0, 1).constructor("S.mk", 0, 1, 0, 0, 1).object_field("n", 0).kind(QUARN_KIND_NAT);
    return quarn_types_load(b.data.data(), b.data.size());
}

// Frees the handles when the test ends.
struct Handles {
    ~Handles() {
        for (quarn_type *t : owned) quarn_type_free(t);
    }
    quarn_type *operator()(quarn_type *t) {
        owned.push_back(t);
        return t;
    }
    std::vector<quarn_type *> owned;
};

TEST(TypeHandle, ConstructorsBuildThePrintForm) {
    Handles h;
    quarn_type *nat = h(quarn_type_simple(QUARN_KIND_NAT));
    quarn_type *str = h(quarn_type_simple(QUARN_KIND_STRING));
    EXPECT_EQ(type_text(nat->expr), "Nat");
    EXPECT_EQ(type_text(h(quarn_type_simple(QUARN_KIND_OPAQUE))->expr), "Opaque");
    EXPECT_EQ(type_text(h(quarn_type_option(h(quarn_type_list(nat))))->expr), "Option(List(Nat))");
    EXPECT_EQ(type_text(h(quarn_type_array(str))->expr), "Array(String)");
    EXPECT_EQ(type_text(h(quarn_type_prod(nat, str))->expr), "Prod(Nat, String)");
    EXPECT_EQ(type_text(h(quarn_type_except(str, nat))->expr), "Except{error: String, value: Nat}");
    const quarn_type *params[] = {nat, str};
    EXPECT_EQ(type_text(h(quarn_type_function(params, 2, str))->expr),
              "Function{params: [Nat, String], result: String}");
    const quarn_types *table = two_definition_table();
    quarn_type *pair = h(quarn_type_inductive(table, 0, params, 2));
    EXPECT_EQ(type_text(pair->expr), "Inductive{index: 0, args: [Nat, String]}");
    EXPECT_EQ(pair->table, table);
    EXPECT_EQ(type_text(h(quarn_type_inductive(table, 1, nullptr, 0))->expr), "Inductive{index: 1, args: []}");
    quarn::capi::TypeExpr param{quarn::capi::Kind::Param, 3, {}};
    EXPECT_EQ(type_text(param), "Param(3)");
}

TEST(TypeHandle, TablesAgreeOrNone) {
    Handles h;
    const quarn_types *a = two_definition_table();
    quarn_type *nat = h(quarn_type_simple(QUARN_KIND_NAT));
    quarn_type *s = h(quarn_type_inductive(a, 1, nullptr, 0));
    EXPECT_EQ(h(quarn_type_list(nat))->table, nullptr);
    EXPECT_EQ(h(quarn_type_prod(s, nat))->table, a);
    EXPECT_EQ(h(quarn_type_prod(nat, s))->table, a);
    quarn_type *clone = h(quarn_type_clone(h(quarn_type_option(s))));
    EXPECT_EQ(clone->table, a);
    EXPECT_EQ(type_text(clone->expr), "Option(Inductive{index: 1, args: []})");
    quarn_type_free(nullptr);
}

TEST(TypeHandleDeath, ForeignTablesAndBadArguments) {
    const quarn_types *a = two_definition_table();
    const quarn_types *b = two_definition_table();
    quarn_type *sa = quarn_type_inductive(a, 1, nullptr, 0);
    quarn_type *sb = quarn_type_inductive(b, 1, nullptr, 0);
    quarn_type *nat = quarn_type_simple(QUARN_KIND_NAT);
    EXPECT_INTERNAL_PANIC(quarn_type_prod(sa, sb), "quarn_type_prod: types of different programs");
    const quarn_type *args[] = {sb, nat};
    EXPECT_INTERNAL_PANIC(quarn_type_inductive(a, 0, args, 2), "quarn_type_inductive: types of different programs");
    EXPECT_INTERNAL_PANIC(quarn_type_inductive(a, 2, nullptr, 0),
                          "quarn_type_inductive: type index 2 outside the type table");
    EXPECT_INTERNAL_PANIC(quarn_type_inductive(a, 0, args + 1, 1), "quarn_type_inductive: Pair applied to 1 arguments");
    EXPECT_INTERNAL_PANIC(quarn_type_inductive(nullptr, 0, nullptr, 0), "quarn_type_inductive: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_type_simple(20), "quarn_type_simple: 20 is not the kind of a type without parameters");
    EXPECT_INTERNAL_PANIC(quarn_type_clone(nullptr), "quarn_type_clone: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_type_option(nullptr), "quarn_type_option: a null pointer");
    quarn_type_free(sa);
    quarn_type_free(sb);
    quarn_type_free(nat);
}

TEST(TypeHandleDeath, FunctionCountIsCheckedBeforePointers) {
    EXPECT_INTERNAL_PANIC(quarn_type_function(nullptr, 0, nullptr),
                          "quarn_type_function: a function of 0 parameters (1 to 15 are supported)");
    EXPECT_INTERNAL_PANIC(quarn_type_function(nullptr, 16, nullptr),
                          "quarn_type_function: a function of 16 parameters (1 to 15 are supported)");
    EXPECT_INTERNAL_PANIC(quarn_type_function(nullptr, 1, nullptr), "quarn_type_function: a null pointer");
    quarn_type *nat = quarn_type_simple(QUARN_KIND_NAT);
    const quarn_type *fifteen[15];
    for (auto &p : fifteen) p = nat;
    quarn_type *f = quarn_type_function(fifteen, 15, nat);
    EXPECT_EQ(f->expr.children.size(), 16u);
    EXPECT_INTERNAL_PANIC(quarn_type_function(fifteen, 1, nullptr), "quarn_type_function: a null pointer");
    quarn_type_free(f);
    quarn_type_free(nat);
}

TEST(TypeHandleDeath, NestingBeyondTheLimitIsFatal) {
    quarn_type *t = quarn_type_simple(QUARN_KIND_NAT);
    for (int i = 1; i < 256; ++i) {
        quarn_type *outer = quarn_type_option(t);
        quarn_type_free(t);
        t = outer;
    }
    EXPECT_EQ(quarn::capi::type_depth(t->expr), 256u);
    EXPECT_INTERNAL_PANIC(quarn_type_list(t), "quarn_type_list: a type expression nested more than 256 deep");
    quarn_type_free(t);
}

TEST(TypeExpr, InstantiateReplacesParameters) {
    using quarn::capi::Kind;
    using quarn::capi::TypeExpr;
    TypeExpr field{Kind::Prod, 0, {}};
    field.children.push_back(TypeExpr{Kind::Param, 1, {}});
    field.children.push_back(TypeExpr{Kind::List, 0, {}});
    field.children[1].children.push_back(TypeExpr{Kind::Param, 0, {}});
    quarn::Vector<TypeExpr> args;
    args.push_back(TypeExpr{Kind::Nat, 0, {}});
    args.push_back(TypeExpr{Kind::Option, 0, {}});
    args[1].children.push_back(TypeExpr{Kind::String, 0, {}});
    TypeExpr out;
    quarn::Text error;
    ASSERT_TRUE(quarn::capi::instantiate(field, args, out, error)) << error;
    EXPECT_EQ(type_text(out), "Prod(Option(String), List(Nat))");
    EXPECT_FALSE(quarn::capi::has_param(out));
    EXPECT_TRUE(quarn::capi::has_param(field));
    EXPECT_FALSE(quarn::capi::instantiate(field, std::span(args.data(), 1), out, error));
    EXPECT_EQ(error, "type parameter 1 of 1 is not instantiated");
}

}  // namespace
