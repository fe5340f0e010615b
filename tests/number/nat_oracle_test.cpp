// Every Nat and Int primitive against Python's integers (gen_nat_cases.py writes the cases
// beside this file). Each result must have the right value in its normal form, and the
// borrowed arguments must come back with their counts and values untouched, both when they
// are single-threaded and when they are marked multi-threaded.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bignums.h"
#include "number/nat.h"
#include "testing.h"

namespace {

using numbers::Value;

enum class Type { nat, integer };

struct Case {
    int line;
    char kind;
    std::vector<std::string> operands;
    std::vector<std::string> results;
};

std::filesystem::path data_folder() {
    if (const char *folder = std::getenv("QUARN_TEST_DATA")) return folder;
    return std::filesystem::path(__FILE__).parent_path();
}

const std::vector<Case> &cases() {
    static const std::vector<Case> all = [] {
        std::vector<Case> out;
        std::ifstream in(data_folder() / "nat_int_cases.txt");
        std::string text;
        for (int number = 1; std::getline(in, text); ++number) {
            if (text.empty() || text[0] == '#') continue;
            std::istringstream words(text);
            Case c{number, 0, {}, {}};
            std::string word;
            words >> c.kind;
            while (words >> word && word != ":") c.operands.push_back(word);
            while (words >> word) c.results.push_back(word);
            out.push_back(std::move(c));
        }
        return out;
    }();
    return all;
}

std::vector<const Case *> cases_of(char kind) {
    std::vector<const Case *> out;
    for (const Case &c : cases())
        if (c.kind == kind) out.push_back(&c);
    return out;
}

// Long operands shortened for messages; the line number finds them in the data file.
std::string abbreviated(const std::string &hex) {
    if (hex.size() <= 40) return hex;
    return hex.substr(0, 16) + "..." + hex.substr(hex.size() - 16) + " (" +
           std::to_string(hex.size()) + " hex digits)";
}

// Runs primitives on the operands of one case and checks their results.
class Runner {
public:
    Runner(const Case &c, Type operand_type, bool multi_threaded)
        : case_(c), type_(operand_type), multi_threaded_(multi_threaded) {
        for (const std::string &text : c.operands) {
            Value v = Value::hex(text);
            quarn_object *word = type_ == Type::nat ? numbers::make_nat(v) : numbers::make_int(v);
            if (multi_threaded_) quarn_mark_mt(word);
            values_.push_back(v);
            words_.push_back(word);
        }
    }

    ~Runner() {
        for (quarn_object *w : words_) quarn_dec(w);
    }

    quarn_object *operand(size_t i) const { return words_[i]; }
    Value expected(size_t i) const { return Value::hex(case_.results[i]); }

    // Checks a value result (owned) against results[i], then releases it.
    void check(const char *name, quarn_object *result, Type type, size_t i) {
        Value want = expected(i);
        bool shared = false;
        for (quarn_object *w : words_) shared = shared || (result == w && !quarn_is_scalar(w));
        int32_t rc = !shared ? 1 : multi_threaded_ ? -2 : 2;
        auto ok = type == Type::nat ? numbers::is_nat(result, want, rc)
                                    : numbers::is_int(result, want, rc);
        if (!ok) fail(name) << ok.message();
        quarn_dec(result);
        check_operands(name);
    }

    void check_bool(const char *name, uint8_t result, size_t i) {
        if (result != std::stoi(case_.results[i]))
            fail(name) << "gave " << int{result} << ", expected " << case_.results[i];
        check_operands(name);
    }

    // The borrowed operands still hold their values and their own reference only.
    void check_operands(const char *name) {
        for (size_t i = 0; i < words_.size(); ++i) {
            quarn_object *w = words_[i];
            if (quarn_is_scalar(w)) continue;
            if (w->rc != (multi_threaded_ ? -1 : 1))
                fail(name) << "operand " << i << " rc " << w->rc;
            Value now = type_ == Type::nat ? numbers::nat_value(w) : numbers::int_value(w);
            if (now != values_[i]) fail(name) << "operand " << i << " changed to " << now;
        }
    }

private:
    ::testing::Message &fail(const char *name) {
        ::testing::Message m;
        m << "line " << case_.line << " " << name << "(";
        for (size_t i = 0; i < case_.operands.size(); ++i)
            m << (i ? ", " : "") << abbreviated(case_.operands[i]);
        m << "): ";
        failures_.push_back(m);
        return failures_.back();
    }

public:
    // Reports the collected failures; false when there were any.
    bool report() {
        for (const ::testing::Message &m : failures_) ADD_FAILURE() << m;
        return failures_.empty();
    }

private:
    const Case &case_;
    Type type_;
    bool multi_threaded_;
    std::vector<Value> values_;
    std::vector<quarn_object *> words_;
    std::vector<::testing::Message> failures_;
};

class NatOracleTest : public kit::LiveObjectsTest, public ::testing::WithParamInterface<bool> {
protected:
    bool multi_threaded() const { return GetParam(); }

    // Runs `body` on every case of the kind, stopping after a few failing cases.
    template <class Body>
    void for_each_case(char kind, Type type, Body body) {
        std::vector<const Case *> list = cases_of(kind);
        ASSERT_GT(list.size(), 20u) << "cases of kind " << kind << " missing from the data file";
        int failing = 0;
        for (const Case *c : list) {
            Runner run(*c, type, multi_threaded());
            body(run);
            if (!run.report() && ++failing == 5) FAIL() << "stopping after 5 failing cases";
        }
    }
};

TEST_P(NatOracleTest, NatPairs) {
    for_each_case('N', Type::nat, [](Runner &r) {
        quarn_object *a = r.operand(0), *b = r.operand(1);
        r.check("nat_add", quarn_lean_nat_add(a, b), Type::nat, 0);
        r.check("nat_add (inline)", quarn_nat_add(a, b), Type::nat, 0);
        r.check("nat_sub", quarn_lean_nat_sub(a, b), Type::nat, 1);
        r.check("nat_sub (inline)", quarn_nat_sub(a, b), Type::nat, 1);
        r.check("nat_mul", quarn_lean_nat_mul(a, b), Type::nat, 2);
        r.check("nat_div", quarn_lean_nat_div(a, b), Type::nat, 3);
        r.check("nat_div_exact", quarn_lean_nat_div_exact(a, b), Type::nat, 3);
        r.check("nat_mod", quarn_lean_nat_mod(a, b), Type::nat, 4);
        r.check("nat_gcd", quarn_lean_nat_gcd(a, b), Type::nat, 5);
        r.check("nat_land", quarn_lean_nat_land(a, b), Type::nat, 6);
        r.check("nat_lor", quarn_lean_nat_lor(a, b), Type::nat, 7);
        r.check("nat_lxor", quarn_lean_nat_lxor(a, b), Type::nat, 8);
        r.check_bool("nat_dec_le", quarn_lean_nat_dec_le(a, b), 9);
        r.check_bool("nat_dec_le (inline)", quarn_nat_dec_le(a, b), 9);
        r.check_bool("nat_dec_lt", quarn_lean_nat_dec_lt(a, b), 10);
        r.check_bool("nat_dec_lt (inline)", quarn_nat_dec_lt(a, b), 10);
        r.check_bool("nat_dec_eq", quarn_lean_nat_dec_eq(a, b), 11);
        r.check_bool("nat_dec_eq (inline)", quarn_nat_dec_eq(a, b), 11);
    });
}

TEST_P(NatOracleTest, IntPairs) {
    for_each_case('I', Type::integer, [](Runner &r) {
        quarn_object *a = r.operand(0), *b = r.operand(1);
        r.check("int_add", quarn_lean_int_add(a, b), Type::integer, 0);
        r.check("int_add (inline)", quarn_int_add(a, b), Type::integer, 0);
        r.check("int_sub", quarn_lean_int_sub(a, b), Type::integer, 1);
        r.check("int_sub (inline)", quarn_int_sub(a, b), Type::integer, 1);
        r.check("int_mul", quarn_lean_int_mul(a, b), Type::integer, 2);
        r.check("int_div", quarn_lean_int_div(a, b), Type::integer, 3);
        r.check("int_div_exact", quarn_lean_int_div_exact(a, b), Type::integer, 3);
        r.check("int_mod", quarn_lean_int_mod(a, b), Type::integer, 4);
        r.check("int_ediv", quarn_lean_int_ediv(a, b), Type::integer, 5);
        r.check("int_emod", quarn_lean_int_emod(a, b), Type::integer, 6);
        r.check_bool("int_dec_le", quarn_lean_int_dec_le(a, b), 7);
        r.check_bool("int_dec_le (inline)", quarn_int_dec_le(a, b), 7);
        r.check_bool("int_dec_lt", quarn_lean_int_dec_lt(a, b), 8);
        r.check_bool("int_dec_lt (inline)", quarn_int_dec_lt(a, b), 8);
        r.check_bool("int_dec_eq", quarn_lean_int_dec_eq(a, b), 9);
    });
}

TEST_P(NatOracleTest, NatUnary) {
    bool mt = multi_threaded();
    for_each_case('n', Type::nat, [mt](Runner &r) {
        quarn_object *a = r.operand(0);
        r.check("nat_pred", quarn_lean_nat_pred(a), Type::nat, 0);
        r.check("nat_pred (internal)", quarn::number::nat_pred(a), Type::nat, 0);
        r.check("nat_log2", quarn_lean_nat_log2(a), Type::nat, 1);
        r.check("int_neg_succ_of_nat", quarn_lean_int_neg_succ_of_nat(a), Type::integer, 2);
        // nat_succ (for positions) is -(neg_succ_of_nat), a Nat.
        Value successor = -r.expected(2);
        quarn_object *s = quarn::number::nat_succ(a);
        EXPECT_TRUE(numbers::is_nat(s, successor)) << "nat_succ of " << numbers::nat_value(a);
        quarn_dec(s);
        // nat_to_int consumes its argument: it gets a reference of its own.
        quarn_inc(a);
        quarn_object *i = quarn_lean_nat_to_int(a);
        if (i == a && !quarn_is_scalar(a)) {
            EXPECT_EQ(a->rc, mt ? -2 : 2) << "nat_to_int passes a big Nat through";
            EXPECT_TRUE(numbers::is_int(i, r.expected(3), mt ? -2 : 2));
            quarn_dec(i);
        } else {
            r.check("nat_to_int", i, Type::integer, 3);
        }
        r.check_operands("nat_to_int");
    });
}

TEST_P(NatOracleTest, IntUnary) {
    for_each_case('i', Type::integer, [](Runner &r) {
        quarn_object *a = r.operand(0);
        r.check("int_neg", quarn_lean_int_neg(a), Type::integer, 0);
        r.check("nat_abs", quarn_lean_nat_abs(a), Type::nat, 1);
        r.check_bool("int_dec_nonneg", quarn_lean_int_dec_nonneg(a), 2);
    });
}

TEST_P(NatOracleTest, Shifts) {
    for_each_case('S', Type::nat, [](Runner &r) {
        quarn_object *a = r.operand(0), *s = r.operand(1);
        r.check("nat_shiftl", quarn_lean_nat_shiftl(a, s), Type::nat, 0);
        r.check("nat_shiftr", quarn_lean_nat_shiftr(a, s), Type::nat, 1);
    });
}

TEST_P(NatOracleTest, Powers) {
    for_each_case('P', Type::nat, [](Runner &r) {
        r.check("nat_pow", quarn_lean_nat_pow(r.operand(0), r.operand(1)), Type::nat, 0);
    });
}

INSTANTIATE_TEST_SUITE_P(Counts, NatOracleTest, ::testing::Values(false, true),
                         [](const auto &info) {
                             return info.param ? "MultiThreaded" : "SingleThreaded";
                         });

using NatLiteralOracleTest = kit::LiveObjectsTest;

TEST_F(NatLiteralOracleTest, DecimalLiterals) {
    std::vector<const Case *> list = cases_of('D');
    ASSERT_GT(list.size(), 20u);
    for (const Case *c : list) {
        std::string text;
        const std::string &hex = c->operands[0];
        for (size_t i = 0; i < hex.size(); i += 2)
            text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        quarn_object *n = quarn_cstr_to_nat(text.c_str());
        EXPECT_TRUE(numbers::is_nat(n, Value::hex(c->results[0]))) << "line " << c->line;
        quarn_dec(n);
    }
}

}  // namespace
