// Helpers for the file-handle tests: temporary files, owned results and handles.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "array/sarray_alloc.h"
#include "quarn/handle.h"
#include "quarn/io.h"
#include "testing.h"

namespace handle_testing {

// A fresh directory, removed with everything in it at the end of the scope.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quarn-handle-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    std::string file(std::string_view name) const { return (path_ / name).string(); }
    std::string path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

inline void write_file(const std::string &path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

inline quarn_object *string_of(std::string_view bytes) {
    return quarn_mk_string_unchecked(bytes.data(), bytes.size(), bytes.size());
}

inline quarn_object *bytes_of(std::string_view bytes) {
    return quarn::array::make_byte_array(bytes.data(), bytes.size());
}

// One owned reference, released at the end of the scope.
class Owned {
public:
    explicit Owned(quarn_object *o = nullptr) : o_(o) {}
    ~Owned() { reset(); }
    Owned(Owned &&other) noexcept : o_(std::exchange(other.o_, nullptr)) {}
    Owned &operator=(Owned &&other) noexcept {
        reset(std::exchange(other.o_, nullptr));
        return *this;
    }
    quarn_object *get() const { return o_; }
    quarn_object *take() { return std::exchange(o_, nullptr); }
    void reset(quarn_object *o = nullptr) {
        if (o_ != nullptr) quarn_dec(o_);
        o_ = o;
    }

private:
    quarn_object *o_;
};

// An IO result, owned.
class Result : public Owned {
public:
    explicit Result(quarn_object *r) : Owned(r) {}
    bool ok() const { return quarn_io_result_is_ok(get()); }
    quarn_object *value() const { return quarn_io_result_get(get()); }
    // The ok value read as a string or as a byte array.
    std::string text() const {
        auto *s = reinterpret_cast<quarn_string_object *>(value());
        return std::string(s->data, s->size - 1);
    }
    std::string bytes() const {
        auto *a = reinterpret_cast<quarn_sarray_object *>(value());
        return std::string(reinterpret_cast<const char *>(a->data), a->size);
    }
    // Describes an error result as "kind number details [file]", or "ok".
    std::string describe() const {
        if (ok()) return "ok";
        quarn_object *e = value();
        std::string text = std::to_string(kit_error_kind(e)) + " " +
                           std::to_string(kit_error_number(e)) + " " + kit_error_details(e);
        if (kit_error_file(e) != nullptr) text += std::string(" [") + kit_error_file(e) + "]";
        return text;
    }
};

// "kind number details [file]" as describe() prints it.
inline std::string error_text(unsigned kind, uint32_t number, std::string_view details,
                              const std::string &file = "") {
    std::string text = std::to_string(kind) + " " + std::to_string(number) + " " + std::string(details);
    if (!file.empty()) text += " [" + file + "]";
    return text;
}

// Opens the file; a failure fails the test and yields null.
inline Owned open_handle(const std::string &path, uint8_t mode) {
    Result r(quarn_lean_io_prim_handle_mk(string_of(path), mode));
    EXPECT_TRUE(r.ok()) << path << ": " << r.describe();
    if (!r.ok()) return Owned();
    quarn_inc(r.value());
    return Owned(r.value());
}

inline std::string put_str(quarn_object *h, std::string_view text) {
    return Result(quarn_lean_io_prim_handle_put_str(h, string_of(text))).describe();
}

inline std::string flush(quarn_object *h) { return Result(quarn_lean_io_prim_handle_flush(h)).describe(); }

// The next line, or the error described.
inline std::string get_line(quarn_object *h) {
    Result r(quarn_lean_io_prim_handle_get_line(h));
    return r.ok() ? r.text() : "error: " + r.describe();
}

inline std::string read_bytes(quarn_object *h, size_t n) {
    Result r(quarn_lean_io_prim_handle_read(h, n));
    return r.ok() ? r.bytes() : "error: " + r.describe();
}

inline off_t file_size(const std::string &path) {
    std::error_code ignored;
    return static_cast<off_t>(std::filesystem::file_size(path, ignored));
}

}  // namespace handle_testing
