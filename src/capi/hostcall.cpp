// Host calls: compiled code calling a Lean extern that the host implements. The arguments
// are written as wire bytes, the host's `call` entry point runs the host function, and its
// result block (a value, an IO result or an EIO result) is read back into Lean objects,
// taking over the handles it carries.
#include <new>
#include <optional>

#include "capi/fatal.h"
#include "capi/handle_table.h"
#include "capi/host_entry_points.h"
#include "capi/type_expr.h"
#include "core/utf8.h"
#include "io/io_error.h"
#include "io/io_result.h"
#include "quarn/entry.h"
#include "wire/byte_sink.h"
#include "wire/object_codec.h"
#include "wire/type_decode.h"

struct quarn_hostcall {
    quarn::Text extern_name;
    const quarn_types *table = nullptr;
    std::uint64_t function = 0;
    quarn::wire::ByteSink args;
};

namespace quarn::capi {

namespace {

using wire::HandleMode;
using wire::Reader;

void delete_hostcall(quarn_hostcall *hostcall) noexcept {
    hostcall->~quarn_hostcall();
    PanicAllocator<quarn_hostcall>().deallocate(hostcall, 1);
}

// The generated type expression in `bytes`, checked against `table`; an invalid one ends the
// process with "<function>: a generated type expression is invalid: {}".
TypeExpr generated_type(const quarn_types &table, const std::uint8_t *bytes, std::size_t length,
                        std::string_view function) noexcept {
    if (bytes == nullptr && length != 0) fatal(function, kNullPointer);
    Reader reader(bytes, length);
    TypeExpr type;
    Text error;
    if (!wire::decode_type_expr(reader, type)) {
        error = reader.take_error();
    } else if (!reader.at_end()) {
        append_pieces(error, {decimal(static_cast<long long>(reader.remaining())),
                              " unexpected bytes after the wire data"});
    } else if (check_type(table, 0, type, error)) {
        return type;
    }
    fatal(function, "a generated type expression is invalid: ", error);
}

// Reads the result block of one host call and checks that nothing follows it.
class ResultReader {
public:
    ResultReader(const quarn_hostcall &hostcall, std::string_view function) noexcept
        : hostcall_(hostcall), function_(function) {}
    ResultReader(const ResultReader &) = delete;
    ResultReader &operator=(const ResultReader &) = delete;
    ~ResultReader() { quarn_buffer_free(&output_); }

    // Calls the host; a failure ends the process with its message.
    void call() noexcept {
        const HostEntryPoints *host = installed_host();
        if (host == nullptr) fatal(function_, kNoHost);
        const wire::ByteSink &args = hostcall_.args;
        if (host->call(hostcall_.function, args.data(), args.length(), &output_) != 0)
            broken("failed: ", take_host_message(output_));
        reader_.emplace(output_.data, output_.length);
    }

    Reader &reader() noexcept { return *reader_; }

    // One value of `type`, its handles adopted.
    quarn_object *value(const TypeExpr &type) noexcept {
        quarn_object *o = wire::decode_object(hostcall_.table, type, *reader_, HandleMode::Adopt);
        if (o == nullptr) malformed();
        return o;
    }

    std::uint8_t tag() noexcept {
        std::uint8_t t = 0;
        if (!reader_->u8(t)) malformed();
        return t;
    }

    // Ends the block: bytes after it are malformed data. Returns `result`, the Lean object
    // read from the block.
    quarn_object *finish(quarn_object *result) noexcept {
        if (!reader_->at_end())
            broken("returned malformed data: ", decimal(static_cast<long long>(reader_->remaining())),
                   " unexpected bytes after the wire data");
        return result;
    }

    [[noreturn]] void malformed() noexcept { broken("returned malformed data: ", reader_->error()); }

    template <typename... Detail>
    [[noreturn]] void broken(Detail... detail) noexcept {
        fatal(function_, "the host implementation of Lean extern '", hostcall_.extern_name, "' ",
              std::string_view(detail)...);
    }

private:
    const quarn_hostcall &hostcall_;
    std::string_view function_;
    quarn_buffer output_ = QUARN_BUFFER_EMPTY;
    std::optional<Reader> reader_;
};

// The IO.Error of an IO result block's error side: the registered object of a non-zero
// handle, else a user error made by the program from the message.
quarn_object *io_error_result(ResultReader &result) noexcept {
    Reader &reader = result.reader();
    std::uint64_t handle = 0;
    std::uint32_t length = 0;
    const std::uint8_t *text = nullptr;
    if (!reader.u64(handle) || !reader.count(length) || !reader.take(length, text)) result.malformed();
    std::string_view message(reinterpret_cast<const char *>(text), length);
    if (!utf8::is_valid_utf8(message.data(), message.size())) {
        reader.fail({"a String is not valid UTF-8"});
        result.malformed();
    }
    if (handle == 0) return io::user_error_result(message);
    std::optional<quarn_object *> error = adopt_handle(handle);
    if (!error) {
        reader.fail({not_live_message(handle)});
        result.malformed();
    }
    return io::io_error(*error);
}

}  // namespace

}  // namespace quarn::capi

using namespace quarn::capi;

extern "C" {

QUARN_API quarn_hostcall *quarn_hostcall_begin(const quarn_types *table, uint64_t host_function,
                                               const char *extern_name) noexcept {
    constexpr std::string_view kFunction = "quarn_hostcall_begin";
    if (table == nullptr) fatal(kFunction, "a quarn type table is a null pointer");
    not_null(extern_name, kFunction);
    auto *hostcall = new (quarn::PanicAllocator<quarn_hostcall>().allocate(1)) quarn_hostcall;
    hostcall->extern_name = extern_name;
    hostcall->table = table;
    hostcall->function = host_function;
    return hostcall;
}

QUARN_API void quarn_hostcall_write(quarn_hostcall *hostcall, quarn_object *object,
                                    const uint8_t *type_bytes, size_t type_length) noexcept {
    constexpr std::string_view kFunction = "quarn_hostcall_write";
    not_null(hostcall, kFunction);
    TypeExpr type = generated_type(*hostcall->table, type_bytes, type_length, kFunction);
    quarn::wire::encode_object(hostcall->table, type, object, hostcall->args);
}

QUARN_API quarn_object *quarn_hostcall_finish(quarn_hostcall *hostcall, const uint8_t *type_bytes,
                                              size_t type_length) noexcept {
    constexpr std::string_view kFunction = "quarn_hostcall_finish";
    not_null(hostcall, kFunction);
    TypeExpr type = generated_type(*hostcall->table, type_bytes, type_length, kFunction);
    quarn_object *value;
    {
        ResultReader result(*hostcall, kFunction);
        result.call();
        value = result.finish(result.value(type));
    }
    delete_hostcall(hostcall);
    return value;
}

QUARN_API quarn_object *quarn_hostcall_finish_io(quarn_hostcall *hostcall,
                                                 const uint8_t *type_bytes,
                                                 size_t type_length) noexcept {
    constexpr std::string_view kFunction = "quarn_hostcall_finish_io";
    not_null(hostcall, kFunction);
    TypeExpr type = generated_type(*hostcall->table, type_bytes, type_length, kFunction);
    quarn_object *io_result;
    {
        ResultReader result(*hostcall, kFunction);
        result.call();
        std::uint8_t tag = result.tag();
        if (tag == 0) {
            io_result = quarn::io::io_ok(result.value(type));
        } else if (tag == 1) {
            io_result = io_error_result(result);
        } else {
            result.reader().fail({"invalid IO result tag ", quarn::decimal(tag)});
            result.malformed();
        }
        result.finish(io_result);
    }
    delete_hostcall(hostcall);
    return io_result;
}

QUARN_API quarn_object *quarn_hostcall_finish_eio(quarn_hostcall *hostcall,
                                                  const uint8_t *error_type_bytes,
                                                  size_t error_type_length,
                                                  const uint8_t *value_type_bytes,
                                                  size_t value_type_length) noexcept {
    constexpr std::string_view kFunction = "quarn_hostcall_finish_eio";
    not_null(hostcall, kFunction);
    TypeExpr error_type = generated_type(*hostcall->table, error_type_bytes, error_type_length, kFunction);
    TypeExpr value_type = generated_type(*hostcall->table, value_type_bytes, value_type_length, kFunction);
    quarn_object *eio_result;
    {
        ResultReader result(*hostcall, kFunction);
        result.call();
        std::uint8_t tag = result.tag();
        if (tag > 1) {
            result.reader().fail({"invalid EIO result tag ", quarn::decimal(tag)});
            result.malformed();
        }
        // Shaped like an IO result: tag 0 holds the value, tag 1 the error.
        eio_result = tag == 0 ? quarn::io::io_ok(result.value(value_type))
                              : quarn::io::io_error(result.value(error_type));
        result.finish(eio_result);
    }
    delete_hostcall(hostcall);
    return eio_result;
}

}  // extern "C"
