// Initialization cells and lazy cells.
#include <atomic>
#include <thread>
#include <vector>

#include "io/export_table.h"
#include "io/io_result.h"
#include "quarn/startup.h"
#include "testing.h"

namespace {

TEST(InitCells, BitsAndObjectsArePublishedOnce) {
    quarn_init_cell bits{{}, 0, "Main.answer"};
    quarn_init_bits_set(&bits, 42);
    EXPECT_EQ(bits.value.bits, 42u);
    EXPECT_EQ(bits.state, 2u);

    quarn_object *list = kit_cons(kit_string("x"), quarn_box(0));
    // Static, as compiled code's cells are: what they hold stays reachable for good.
    static quarn_init_cell objects{{}, 0, "Main.names"};
    quarn_init_obj_set(&objects, list);
    EXPECT_EQ(objects.value.object, list);
    EXPECT_EQ(list->rc, 0) << "stored values are persistent";
    EXPECT_EQ(quarn_ctor_get(list, 0)->rc, 0);
    quarn_dec(list);  // never freed
    EXPECT_EQ(list->rc, 0);
}

TEST(InitCellsDeathTest, SettingTwiceNamesTheDeclaration) {
    static quarn_init_cell cell{{}, 0, "Main.twice"};
    EXPECT_INTERNAL_PANIC(
        {
            quarn_init_bits_set(&cell, 1);
            quarn_init_bits_set(&cell, 2);
        },
        "initializer of 'Main.twice' ran twice");
    static quarn_init_cell nameless{{}, 1, nullptr};
    EXPECT_INTERNAL_PANIC(quarn_init_obj_set(&nameless, quarn_box(0)),
                          "an initialization cell has no declaration name");
}

using CheckInitializerTest = kit::LiveObjectsTest;

TEST_F(CheckInitializerTest, OkResultsGiveTheirValue) {
    quarn_object *s = kit_string("v");
    quarn_object *value = quarn_check_initializer("Main.v", quarn::io::io_ok(s));
    EXPECT_EQ(value, s);
    EXPECT_EQ(s->rc, 1) << "the result is released, the value handed over";
    quarn_dec(value);
}

TEST(CheckInitializerDeathTest, ErrorResultsEndTheProcessWithTheErrorText) {
    EXPECT_INTERNAL_PANIC(
        quarn_check_initializer("Main.config",
                                quarn::io::io_error(quarn::io::call_export(
                                    quarn::io::Export::mk_io_user_error, kit_string("no config")))),
        "initialization of Lean declaration 'Main.config' failed: uncaught exception: no config");
    EXPECT_INTERNAL_PANIC(quarn_check_initializer(nullptr, quarn_box(0)),
                          "an initializer's declaration name is a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_check_initializer("\xFF", quarn_box(0)),
                          "an initializer's declaration name is not UTF-8");
}

std::atomic<int> computations{0};

uint64_t slow_bits() {
    computations.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 0xABCDEF;
}

TEST(LazyCells, ManyThreadsShareOneComputation) {
    quarn_lazy_cell cell{};
    computations = 0;
    std::vector<std::thread> threads;
    std::vector<uint64_t> seen(8);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] { seen[i] = quarn_lazy_bits_force(&cell, slow_bits); });
    for (auto &t : threads) t.join();
    EXPECT_EQ(computations.load(), 1);
    for (uint64_t v : seen) EXPECT_EQ(v, 0xABCDEFu);
    EXPECT_EQ(quarn_lazy_bits_force(&cell, slow_bits), 0xABCDEFu);
    EXPECT_EQ(computations.load(), 1);
}

// Two cells whose computations wait for each other: they can only finish if they run at
// the same time.
std::atomic<int> arrived{0};
uint64_t meet() {
    arrived.fetch_add(1);
    while (arrived.load() < 2) std::this_thread::yield();
    return 7;
}

TEST(LazyCells, DifferentCellsComputeInParallel) {
    quarn_lazy_cell a{}, b{};
    std::thread other([&] { EXPECT_EQ(quarn_lazy_bits_force(&a, meet), 7u); });
    EXPECT_EQ(quarn_lazy_bits_force(&b, meet), 7u);
    other.join();
}

quarn_object *make_greeting() { return kit_string("hello"); }

TEST(LazyCells, ObjectsArePersistentAndBorrowedFromTheCell) {
    static quarn_lazy_cell cell{};
    quarn_object *first = quarn_lazy_obj_get(&cell, make_greeting);
    quarn_object *second = quarn_lazy_obj_force(&cell, make_greeting);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->rc, 0);
    EXPECT_STREQ(kit_cstr(first), "hello");
}

// A computation that forces its own cell could never finish: it ends the process instead.
quarn_lazy_cell self_forcing{};
uint64_t force_self() { return quarn_lazy_bits_force(&self_forcing, force_self) + 1; }

TEST(LazyCellsDeathTest, ACellForcedDuringItsOwnComputationIsAnInternalPanic) {
    EXPECT_INTERNAL_PANIC(quarn_lazy_bits_force(&self_forcing, force_self),
                          "a lazy declaration was forced during its own computation");
}

// The inline readers compiled code uses: the value once set, the declaration named before.
TEST(InitCells, InlineReadersSeeTheValueOrNameTheDeclaration) {
    static quarn_init_cell bits{{0}, 0, "M.bits"};
    static quarn_init_cell object{{0}, 0, "M.object"};
    EXPECT_INTERNAL_PANIC(quarn_init_bits_get(&bits), "'M.bits' was used before its module was initialized");
    EXPECT_INTERNAL_PANIC(quarn_init_obj_get(&object), "'M.object' was used before its module was initialized");
    quarn_init_bits_set(&bits, 77);
    quarn_object *text = kit_string("set");
    quarn_init_obj_set(&object, text);
    EXPECT_EQ(quarn_init_bits_get(&bits), 77u);
    EXPECT_EQ(quarn_init_obj_get(&object), text);
    quarn_lazy_cell lazy{};
    EXPECT_EQ(quarn_lazy_bits_get(&lazy, slow_bits), 0xABCDEFu);
    EXPECT_EQ(quarn_lazy_bits_get(&lazy, nullptr), 0xABCDEFu) << "computed once, then read inline";
}

TEST(Lifecycle, InitializationEndsOnce) {
    // The test program never called quarn_run_main, so it is still initializing.
    EXPECT_EQ(quarn_lean_io_initializing(), 1);
    quarn_end_initialization();
    EXPECT_EQ(quarn_lean_io_initializing(), 0);
    quarn_end_initialization();
    EXPECT_EQ(quarn_lean_io_initializing(), 0);
}

}  // namespace
