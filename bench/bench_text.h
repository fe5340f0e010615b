// The 64 MiB texts the text benchmarks measure: ASCII, or characters of one to four bytes
// in equal shares at random.
#pragma once

#include <cstddef>
#include <random>
#include <string>

namespace bench_text {

inline constexpr size_t kTextBytes = size_t{64} << 20;

inline const std::string &text(bool mixed) {
    static const std::string ascii = [] {
        std::string t(kTextBytes, ' ');
        for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<char>(' ' + i * 7 % 95);
        return t;
    }();
    static const std::string multi = [] {
        std::mt19937 rng(1);
        const char *pieces[] = {"e", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
        std::string t;
        t.reserve(kTextBytes + 4);
        while (t.size() < kTextBytes - 4) t += pieces[rng() % 4];
        while (t.size() < kTextBytes) t += 'e';
        return t;
    }();
    return mixed ? multi : ascii;
}

}  // namespace bench_text
