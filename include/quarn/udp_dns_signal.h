/*
 * quarn/udp_dns_signal.h: UDP sockets, name resolution and signal watchers, on the event
 * loop of quarn/uv.h.
 *
 * Part of the interface that compiled code includes through <quarn/quarn.h>; it also stands
 * alone. Compiles as C11 and as C++.
 *
 * The conventions of quarn/uv.h hold: IO results for what completes at once, promises of
 * Except values (error tag 0, ok tag 1) for what waits, negated error numbers in IO errors
 * (-106 EISCONN, -89 EDESTADDRREQ, -114 EALREADY, -105 ENOBUFS, -22 EINVAL, -9 EBADF),
 * the socket-address layout of quarn/uv.h. Sockets, watchers and addresses are borrowed;
 * results are owned by the caller. Passing an object of another kind ends the process
 * ("expected a UDP socket object", "expected a signal object"). Any thread.
 */
#ifndef QUARN_UDP_DNS_SIGNAL_H
#define QUARN_UDP_DNS_SIGNAL_H

#include "object.h"

QUARN_BEGIN_DECLS

/* ------------------------------------------------------------------------------------------ */
/* UDP sockets                                                                               */
/* ------------------------------------------------------------------------------------------ */

/*
 * A socket gets its descriptor (non-blocking, close-on-exec) from bind, or from the first
 * connect, send or receive, which bind it to the wildcard address at port 0 (of the
 * address's family; IPv4 for a receive). A pending send or receive keeps the socket alive.
 */

/* An IO result holding a new socket without a descriptor. */
QUARN_API quarn_object *quarn_lean_uv_udp_new(void) QUARN_NOEXCEPT;

/* Binds to the address (SO_REUSEADDR; an IPv6 socket also takes IPv4). IO result of unit. */
QUARN_API quarn_object *quarn_lean_uv_udp_bind(quarn_object *socket, quarn_object *address) QUARN_NOEXCEPT;

/* Sends and receives only to and from the address from now on; -106 when connected
 * already. IO result of unit. */
QUARN_API quarn_object *quarn_lean_uv_udp_connect(quarn_object *socket, quarn_object *address)
    QUARN_NOEXCEPT;

/* Sends one datagram holding the byte arrays one after the other, to `destination` (an
 * Option of a socket address: none on a connected socket, some on an unconnected one; the
 * other way round is -106 or -89). An IO result holding a promise of unit. Consumes buffers
 * (an array of byte arrays); borrows destination. */
QUARN_API quarn_object *quarn_lean_uv_udp_send(quarn_object *socket, quarn_object *buffers,
                                               quarn_object *destination) QUARN_NOEXCEPT;

/* Receives one datagram of at most max_bytes bytes (a longer one is cut): an IO result
 * holding a promise of the pair (byte array, Option of the sender's address). A receive of
 * 0 bytes resolves with -105; a second receive while one is pending is -114. */
QUARN_API quarn_object *quarn_lean_uv_udp_recv(quarn_object *socket, uint64_t max_bytes) QUARN_NOEXCEPT;

/* An IO result holding a promise of true, resolved when a datagram can be read. */
QUARN_API quarn_object *quarn_lean_uv_udp_wait_readable(quarn_object *socket) QUARN_NOEXCEPT;

/* Drops a pending receive or wait (its promise is never resolved). IO result of unit. */
QUARN_API quarn_object *quarn_lean_uv_udp_cancel_recv(quarn_object *socket) QUARN_NOEXCEPT;

/* Socket options; each needs a descriptor (-9 otherwise) and gives an IO result of unit.
 * TTLs are 1 to 255 (-22 otherwise). Interface and group addresses are IPv4 or IPv6 text;
 * IPv6 text may end in "%interface" (a name or an index) to name the interface. */
QUARN_API quarn_object *quarn_lean_uv_udp_set_broadcast(quarn_object *socket, uint8_t enable) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_uv_udp_set_multicast_loop(quarn_object *socket, uint8_t enable)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_uv_udp_set_multicast_ttl(quarn_object *socket, uint32_t ttl) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_uv_udp_set_ttl(quarn_object *socket, uint32_t ttl) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_uv_udp_set_multicast_interface(quarn_object *socket,
                                                                  quarn_object *interface) QUARN_NOEXCEPT;
/* Joins (join = 1) or leaves (0) the multicast group on the interface ("" for the
 * system's choice). */
QUARN_API quarn_object *quarn_lean_uv_udp_set_membership(quarn_object *socket, quarn_object *multicast,
                                                         quarn_object *interface, uint8_t join) QUARN_NOEXCEPT;

/* IO results holding the peer's or the socket's own address (-9 without a descriptor). */
QUARN_API quarn_object *quarn_lean_uv_udp_getpeername(quarn_object *socket) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_uv_udp_getsockname(quarn_object *socket) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Name resolution                                                                           */
/* ------------------------------------------------------------------------------------------ */

/* Resolves host and service (ASCII strings; empty for none) on a "lean-dns" thread: an IO
 * result holding a promise of an array of socket addresses, in the resolver's order. family:
 * 0 any, 1 IPv4, 2 IPv6 (another number is -22). Non-ASCII text is the error
 * invalid_argument "name is not ASCII" / "service is not ASCII"; resolver failures are the
 * codes -3000 to -3011 ("unknown node or service" is -3008). */
QUARN_API quarn_object *quarn_lean_uv_dns_get_info(quarn_object *host, quarn_object *service,
                                                   uint8_t family) QUARN_NOEXCEPT;

/* The host and service names of a socket address: an IO result holding a promise of the
 * pair (host, service) of strings. */
QUARN_API quarn_object *quarn_lean_uv_dns_get_name(quarn_object *address) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Signal watchers                                                                           */
/* ------------------------------------------------------------------------------------------ */

/*
 * A watcher of a signal 1..31 that can be caught everywhere (SIGHUP, SIGINT, SIGQUIT,
 * SIGTRAP, SIGABRT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM, SIGCHLD, SIGCONT, SIGTSTP, SIGTTIN,
 * SIGTTOU, SIGURG, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGWINCH, SIGIO, SIGSYS); any other
 * number becomes 0, which no watcher can watch. While some watcher of a signal runs, the
 * runtime's handler catches that signal; when the last one stops, the action the process
 * had before comes back. Watchers follow the rules of timers: `next` starts one (or, if
 * the handler cannot be installed, returns the error and leaves the watcher as it was), a
 * one-shot watcher finishes after one signal, a repeating one keeps running until stopped.
 */

/* An IO result holding a new watcher of signal `number`, once or repeating. */
QUARN_API quarn_object *quarn_lean_uv_signal_mk(uint32_t number, uint8_t repeating) QUARN_NOEXCEPT;

/* An IO result holding the promise of the next delivery, resolved with the signal's number. */
QUARN_API quarn_object *quarn_lean_uv_signal_next(quarn_object *watcher) QUARN_NOEXCEPT;

/* Stops the watcher for good; its pending promise is dropped. IO result of unit. */
QUARN_API quarn_object *quarn_lean_uv_signal_stop(quarn_object *watcher) QUARN_NOEXCEPT;

/* Drops the pending promise; a one-shot watcher stops watching until its next `next`. IO
 * result of unit. */
QUARN_API quarn_object *quarn_lean_uv_signal_cancel(quarn_object *watcher) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_UDP_DNS_SIGNAL_H */
