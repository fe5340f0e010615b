// Every integer and float primitive against the expectations that gen_cases.py computes
// from the rules with Python integers and exact fractions (cases.txt; its header says the
// format). Each symbol is called through a table built from the type lists of
// quarn/fixed.h; every line must name a symbol of the table and every symbol of the table
// must be exercised.
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fixed_testing.h"
#include "quarn/fixed.h"
#include "testing.h"

namespace {

using Args = std::vector<std::string>;

// What an object argument or result of a symbol is.
enum class ObjectKind { kNat, kInt, kPair64, kPair32 };

ObjectKind argument_kind(const std::string &symbol) {
    bool is_int = symbol.find("_of_int") != std::string::npos ||
                  symbol.find("_scaleb") != std::string::npos;
    return is_int ? ObjectKind::kInt : ObjectKind::kNat;
}

ObjectKind result_kind(const std::string &symbol) {
    if (symbol.find("float32_frexp") != std::string::npos) return ObjectKind::kPair32;
    if (symbol.find("float_frexp") != std::string::npos) return ObjectKind::kPair64;
    return symbol.find("_to_nat") != std::string::npos ? ObjectKind::kNat : ObjectKind::kInt;
}

// ---- text to values -------------------------------------------------------------------------

__int128 parse_integer(const std::string &text) {
    bool negative = text[0] == '-';
    unsigned __int128 v = 0;
    for (size_t i = negative; i < text.size(); ++i) v = v * 10 + unsigned(text[i] - '0');
    return negative ? -static_cast<__int128>(v) : static_cast<__int128>(v);
}

template <typename T>
T parse(const std::string &text, ObjectKind kind) {
    if constexpr (std::is_same_v<T, double>) {
        return std::bit_cast<double>(std::stoull(text, nullptr, 16));
    } else if constexpr (std::is_same_v<T, float>) {
        return std::bit_cast<float>(static_cast<uint32_t>(std::stoul(text, nullptr, 16)));
    } else if constexpr (std::is_same_v<T, quarn_object *>) {
        // Nat and Int values in their normalised representation: boxed when in range.
        return fixed_testing::make_number(fixed_testing::parse_signed_hex(text),
                                          kind == ObjectKind::kInt);
    } else {
        return static_cast<T>(parse_integer(text));
    }
}

// ---- values to text -------------------------------------------------------------------------

std::string hex_bits(uint64_t bits, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*" PRIx64, digits, bits);
    return text;
}

std::string show_object(quarn_object *o, ObjectKind kind) {
    using fixed_testing::number_text;
    switch (kind) {
        case ObjectKind::kNat: return number_text(o, /*is_int=*/false);
        case ObjectKind::kInt: return number_text(o, /*is_int=*/true);
        case ObjectKind::kPair64:
        case ObjectKind::kPair32: {
            EXPECT_EQ(quarn_ptr_tag(o), 0);
            EXPECT_EQ(quarn_ctor_num_objs(o), 2u);
            quarn_object *mantissa = quarn_ctor_get(o, 0);
            std::string m = kind == ObjectKind::kPair64
                                ? hex_bits(std::bit_cast<uint64_t>(quarn_unbox_float(mantissa)), 16)
                                : hex_bits(std::bit_cast<uint32_t>(quarn_unbox_float32(mantissa)), 8);
            return "pair:" + m + ":" + number_text(quarn_ctor_get(o, 1), /*is_int=*/true);
        }
    }
    return "?";
}

template <typename T>
std::string show(T v, ObjectKind kind) {
    if constexpr (std::is_same_v<T, double>) {
        return hex_bits(std::bit_cast<uint64_t>(v), 16);
    } else if constexpr (std::is_same_v<T, float>) {
        return hex_bits(std::bit_cast<uint32_t>(v), 8);
    } else if constexpr (std::is_same_v<T, quarn_object *>) {
        std::string text = show_object(v, kind);
        quarn_dec(v);
        return text;
    } else if constexpr (std::is_signed_v<T>) {
        return std::to_string(static_cast<int64_t>(v));
    } else {
        return std::to_string(static_cast<uint64_t>(v));
    }
}

// "nan" in an expectation stands for any NaN: a float text whose pattern is a NaN.
bool is_nan_text(const std::string &text) {
    if (text.rfind("0x", 0) != 0) return false;
    uint64_t bits = std::stoull(text, nullptr, 16);
    return text.size() == 18 ? std::isnan(std::bit_cast<double>(bits))
                             : std::isnan(std::bit_cast<float>(static_cast<uint32_t>(bits)));
}

bool matches(const std::string &expected, const std::string &actual) {
    std::istringstream e(expected), a(actual);
    std::string x, y;
    while (true) {
        bool more_x = static_cast<bool>(std::getline(e, x, ':'));
        bool more_y = static_cast<bool>(std::getline(a, y, ':'));
        if (more_x != more_y) return false;
        if (!more_x) return true;
        if (x != y && !(x == "nan" && is_nan_text(y))) return false;
    }
}

// ---- the table of symbols -------------------------------------------------------------------

using Runner = std::function<std::string(const Args &)>;

class SymbolTable {
public:
    template <typename R, typename... A>
    void add(const std::string &symbol, R (*function)(A...) noexcept) {
        bool consumes = symbol.ends_with("_mk");
        runners_[symbol] = [=](const Args &args) -> std::string {
            if (args.size() != sizeof...(A)) return "wrong argument count";
            return call(function, args, consumes, argument_kind(symbol), result_kind(symbol),
                        std::index_sequence_for<A...>{});
        };
    }

    const Runner *find(const std::string &symbol) const {
        auto it = runners_.find(symbol);
        return it == runners_.end() ? nullptr : &it->second;
    }

    std::set<std::string> symbols() const {
        std::set<std::string> all;
        for (auto &[symbol, runner] : runners_) all.insert(symbol);
        return all;
    }

private:
    template <typename R, typename... A, size_t... I>
    static std::string call(R (*function)(A...) noexcept, const Args &args, bool consumes,
                            ObjectKind argument, ObjectKind result, std::index_sequence<I...>) {
        std::tuple<A...> values{parse<A>(args[I], argument)...};
        R r = std::apply(function, values);
        if (!consumes) {
            // Borrowed objects are the caller's to release.
            auto release = [](auto v) {
                if constexpr (std::is_same_v<decltype(v), quarn_object *>) quarn_dec(v);
            };
            (release(std::get<I>(values)), ...);
        }
        return show(r, result);
    }

    std::map<std::string, Runner> runners_;
};

#define ADD(name) table.add(#name, &name);

#define ADD_INTEGER(type, T)                                                                    \
    ADD(quarn_lean_##type##_add) ADD(quarn_lean_##type##_sub) ADD(quarn_lean_##type##_mul)      \
    ADD(quarn_lean_##type##_neg) ADD(quarn_lean_##type##_complement)                            \
    ADD(quarn_lean_##type##_land) ADD(quarn_lean_##type##_lor) ADD(quarn_lean_##type##_xor)     \
    ADD(quarn_lean_##type##_div) ADD(quarn_lean_##type##_mod)                                   \
    ADD(quarn_lean_##type##_shift_left) ADD(quarn_lean_##type##_shift_right)                    \
    ADD(quarn_lean_##type##_dec_eq) ADD(quarn_lean_##type##_dec_le)                             \
    ADD(quarn_lean_##type##_dec_lt) ADD(quarn_lean_##type##_of_nat)                             \
    ADD(quarn_lean_##type##_to_float) ADD(quarn_lean_##type##_to_float32)                       \
    ADD(quarn_lean_bool_to_##type) ADD(quarn_lean_float_to_##type)                              \
    ADD(quarn_lean_float32_to_##type)
#define ADD_UNSIGNED(type, T) \
    ADD(quarn_lean_##type##_log2) ADD(quarn_lean_##type##_of_nat_mk) ADD(quarn_lean_##type##_to_nat)
#define ADD_SIGNED(type, T) ADD(quarn_lean_##type##_abs) ADD(quarn_lean_##type##_of_int)
#define ADD_WIDTH_CONVERSION(from, From, to, To) ADD(quarn_lean_##from##_to_##to)
#define ADD_FLOAT(name, F, Bits)                                                                \
    ADD(quarn_lean_##name##_add) ADD(quarn_lean_##name##_sub) ADD(quarn_lean_##name##_mul)      \
    ADD(quarn_lean_##name##_div) ADD(quarn_lean_##name##_negate) ADD(quarn_lean_##name##_beq)   \
    ADD(quarn_lean_##name##_decLe) ADD(quarn_lean_##name##_decLt)                               \
    ADD(quarn_lean_##name##_isnan) ADD(quarn_lean_##name##_isinf)                               \
    ADD(quarn_lean_##name##_isfinite) ADD(quarn_lean_##name##_to_bits)                          \
    ADD(quarn_lean_##name##_of_bits) ADD(quarn_lean_##name##_frexp)                             \
    ADD(quarn_lean_##name##_scaleb)

SymbolTable make_table() {
    SymbolTable table;
    QUARN_INTEGER_TYPES(ADD_INTEGER)
    QUARN_UNSIGNED_TYPES(ADD_UNSIGNED)
    QUARN_SIGNED_TYPES(ADD_SIGNED)
    QUARN_WIDTH_CONVERSIONS(ADD_WIDTH_CONVERSION)
    QUARN_FLOAT_TYPES(ADD_FLOAT)
    ADD(quarn_lean_int8_to_int) ADD(quarn_lean_int16_to_int) ADD(quarn_lean_int32_to_int)
    ADD(quarn_lean_int64_to_int_sint) ADD(quarn_lean_isize_to_int)
    ADD(quarn_lean_uint64_mix_hash) ADD(quarn_lean_strict_and) ADD(quarn_lean_strict_or)
    ADD(quarn_lean_float_to_float32) ADD(quarn_lean_float32_to_float)
    return table;
}

// ---- the cases ------------------------------------------------------------------------------

struct Case {
    int line;
    std::string symbol;
    Args args;
    std::string expected;
};

std::vector<std::string> split(const std::string &line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// Reads cases.txt, expanding each row into one case per family of its block.
std::vector<Case> read_cases() {
    const char *folder = std::getenv("QUARN_TEST_DATA");
    std::ifstream in(std::string(folder ? folder : "tests/fixed") + "/cases.txt");
    EXPECT_TRUE(in.good()) << "cases.txt not found; QUARN_TEST_DATA names the folder";
    std::vector<Case> cases;
    std::string block;
    std::vector<std::string> families;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> words = split(line);
        if (words[0] == "@rows") {
            block = words[1];
            families.assign(words.begin() + 2, words.end());
            continue;
        }
        auto equals = std::find(words.begin(), words.end(), "=");
        Args args(words.begin() + 1, equals);
        Args results(equals + 1, words.end());
        if (words[0].starts_with("quarn_")) {
            cases.push_back({number, words[0], args, results.at(0)});
            continue;
        }
        EXPECT_EQ(results.size(), families.size()) << "line " << number;
        for (size_t i = 0; i < families.size() && i < results.size(); ++i)
            cases.push_back({number, "quarn_lean_" + words[0] + "_" + families[i], args, results[i]});
    }
    return cases;
}

using DifferentialTest = kit::LiveObjectsTest;

TEST_F(DifferentialTest, EveryPrimitiveAgreesWithThePythonRules) {
    SymbolTable table = make_table();
    std::vector<Case> cases = read_cases();
    ASSERT_GT(cases.size(), 20000u);
    std::set<std::string> unexercised = table.symbols();
    std::map<std::string, int> failures;  // by symbol; the first few of each are shown
    for (const Case &c : cases) {
        const Runner *run = table.find(c.symbol);
        if (run == nullptr) {
            ADD_FAILURE() << "line " << c.line << ": no such symbol " << c.symbol;
            continue;
        }
        unexercised.erase(c.symbol);
        std::string actual = (*run)(c.args);
        if (!matches(c.expected, actual) && ++failures[c.symbol] <= 3) {
            std::string call = c.symbol;
            for (auto &a : c.args) call += " " + a;
            ADD_FAILURE() << "line " << c.line << ": " << call << " gave " << actual
                          << ", expected " << c.expected;
        }
    }
    for (auto &[symbol, count] : failures) ADD_FAILURE() << count << " failures of " << symbol;
    for (const std::string &symbol : unexercised) ADD_FAILURE() << "no case for " << symbol;
}

}  // namespace
