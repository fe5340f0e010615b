// Random bytes from /dev/urandom.
#include <fcntl.h>
#include <unistd.h>

#include "array/sarray_alloc.h"
#include "fs/system_call.h"
#include "io/io_error.h"
#include "io/io_result.h"
#include "io/unique_fd.h"
#include "quarn/fs.h"
#include "string/string_alloc.h"

using namespace quarn::fs;

extern "C" quarn_object *quarn_lean_io_get_random_bytes(uint64_t n) noexcept {
    if (n == 0) return quarn::io::io_ok(quarn::array::make_byte_array(nullptr, 0));
    const char *device = "/dev/urandom";
    quarn::io::UniqueFd fd(retry_interrupted([&] { return ::open(device, O_RDONLY | O_CLOEXEC); }));
    if (!fd) {
        int error = errno;
        return quarn::io::error_result_from_errno(error, quarn::string::make_string(device, 12, 12));
    }
    if (!quarn::array::can_allocate_bytes(n)) return quarn::io::error_result_from_errno(ENOMEM, nullptr);
    quarn_sarray_object *bytes = quarn::array::allocate_sarray(1, n, n);
    uint8_t *into = bytes->data;
    for (uint64_t got = 0; got < n;) {
        ssize_t r = retry_interrupted([&] { return ::read(fd.get(), into + got, n - got); });
        if (r <= 0) {
            int error = r < 0 ? errno : EIO;
            quarn_dec(reinterpret_cast<quarn_object *>(bytes));
            return quarn::io::error_result_from_errno(error, nullptr);
        }
        got += static_cast<uint64_t>(r);
    }
    return quarn::io::io_ok(reinterpret_cast<quarn_object *>(bytes));
}
