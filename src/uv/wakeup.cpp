#include "uv/wakeup.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "core/panic.h"
#include "core/retry.h"

namespace quarn::uv {

namespace {

[[noreturn]] void setup_failed(std::string_view what, int error) noexcept {
    internal_panic({what, std::strerror(error)});
}

constexpr std::string_view kCreate = "cannot create the event loop wake-up socket: ";
constexpr std::string_view kAddress = "cannot address the event loop wake-up socket: ";
constexpr std::string_view kConnect = "cannot connect the event loop wake-up socket: ";
constexpr std::string_view kConfigure = "cannot configure the event loop wake-up socket: ";

io::UniqueFd bound_loopback_socket() noexcept {
    io::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) setup_failed(kCreate, errno);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        setup_failed(kCreate, errno);
    return fd;
}

void make_non_blocking(int fd) noexcept {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) setup_failed(kConfigure, errno);
}

}  // namespace

WakeupChannel::WakeupChannel() noexcept {
    receiver_ = bound_loopback_socket();
    sender_ = bound_loopback_socket();
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(receiver_.get(), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        setup_failed(kAddress, errno);
    if (retry_interrupted([&] {
            return ::connect(sender_.get(), reinterpret_cast<sockaddr *>(&address), length);
        }) != 0)
        setup_failed(kConnect, errno);
    make_non_blocking(receiver_.get());
    make_non_blocking(sender_.get());
}

void WakeupChannel::wake() noexcept {
    if (pending_.exchange(true, std::memory_order_acq_rel)) return;
    char byte = 1;
    ssize_t sent = retry_interrupted([&] { return ::send(sender_.get(), &byte, 1, MSG_NOSIGNAL); });
    // A full buffer already makes the receiver readable; after any other failure the next
    // wake must try again.
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) pending_.store(false, std::memory_order_release);
}

void WakeupChannel::drain() noexcept {
    char buffer[64];
    while (retry_interrupted([&] { return ::recv(receiver_.get(), buffer, sizeof buffer, 0); }) >= 0) {
    }
    // Cleared only once the bytes are gone: a wake that saw the flag set is then sure a
    // byte still waits, or that its change happened before this pass took the lock.
    pending_.store(false, std::memory_order_release);
}

}  // namespace quarn::uv
