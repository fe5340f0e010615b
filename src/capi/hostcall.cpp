// Host calls: compiled code calling a Lean extern that the host implements. The arguments
// are written as wire bytes, the host's `call` entry point runs the host function, and its
// result block (a value, an IO result or an EIO result) is read back into Lean objects,
// taking over the handles it carries.
#include <new>
#include <optional>

#include "capi/call.h"
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

// The type generated code gives as bytes, checked against `table` (host calls have no type
// arguments); an invalid one ends the process as call.h's generated_type says.
TypeExpr host_call_type(const quarn_types &table, const std::uint8_t *bytes, std::size_t length,
                        std::string_view function) noexcept {
    TypeExpr type;
    generated_type(function, bytes, length, table, {}, type);
    return type;
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

    // A result block whose tag byte is neither 0 nor 1.
    [[noreturn]] void invalid_tag(std::string_view message, std::uint8_t tag) noexcept {
        reader_->fail({message, decimal(tag)});
        malformed();
    }

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

// Calls the host, reads its result block with `read`, checks that nothing follows it and frees
// the host call. Returns what `read` built.
template <typename Read>
quarn_object *perform(quarn_hostcall *hostcall, std::string_view function, Read read) noexcept {
    quarn_object *result;
    {
        ResultReader block(*hostcall, function);
        block.call();
        result = block.finish(read(block));
    }
    delete_hostcall(hostcall);
    return result;
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
    TypeExpr type = host_call_type(*hostcall->table, type_bytes, type_length, kFunction);
    quarn::wire::encode_object(hostcall->table, type, object, hostcall->args);
}

QUARN_API quarn_object *quarn_hostcall_finish(quarn_hostcall *hostcall, const uint8_t *type_bytes,
                                              size_t type_length) noexcept {
    constexpr std::string_view kFunction = "quarn_hostcall_finish";
    not_null(hostcall, kFunction);
    TypeExpr type = host_call_type(*hostcall->table, type_bytes, type_length, kFunction);
    return perform(hostcall, kFunction, [&](ResultReader &block) { return block.value(type); });
}

QUARN_API quarn_object *quarn_hostcall_finish_io(quarn_hostcall *hostcall,
                                                 const uint8_t *type_bytes,
                                                 size_t type_length) noexcept {
    constexpr std::string_view kFunction = "quarn_hostcall_finish_io";
    not_null(hostcall, kFunction);
    TypeExpr type = host_call_type(*hostcall->table, type_bytes, type_length, kFunction);
    return perform(hostcall, kFunction, [&](ResultReader &block) {
        std::uint8_t tag = block.tag();
        if (tag > 1) block.invalid_tag("invalid IO result tag ", tag);
        return tag == 0 ? quarn::io::io_ok(block.value(type)) : io_error_result(block);
    });
}

QUARN_API quarn_object *quarn_hostcall_finish_eio(quarn_hostcall *hostcall,
                                                  const uint8_t *error_type_bytes,
                                                  size_t error_type_length,
                                                  const uint8_t *value_type_bytes,
                                                  size_t value_type_length) noexcept {
    constexpr std::string_view kFunction = "quarn_hostcall_finish_eio";
    not_null(hostcall, kFunction);
    TypeExpr error_type = host_call_type(*hostcall->table, error_type_bytes, error_type_length, kFunction);
    TypeExpr value_type = host_call_type(*hostcall->table, value_type_bytes, value_type_length, kFunction);
    return perform(hostcall, kFunction, [&](ResultReader &block) {
        std::uint8_t tag = block.tag();
        if (tag > 1) block.invalid_tag("invalid EIO result tag ", tag);
        // Shaped like an IO result: tag 0 holds the value, tag 1 the error.
        return tag == 0 ? quarn::io::io_ok(block.value(value_type)) : quarn::io::io_error(block.value(error_type));
    });
}

}  // extern "C"
