/*
 * quarn/uv.h: the event loop, timers and TCP sockets.
 *
 * Part of the interface that compiled code includes through <quarn/quarn.h>; it also stands
 * alone. Compiles as C11 and as C++.
 *
 * One reactor thread per process ("lean-event-loop") waits for sockets and timers; it
 * starts on the first use of any entry point here and runs until the process ends.
 * Operations that wait return at once with a promise (quarn/task.h) that the reactor
 * thread resolves later; a task must be able to run, so these need a running task manager.
 *
 * Results. Fallible entry points return an IO result: ok is a constructor of tag 0, error
 * of tag 1, each with one field. A promise resolves with `some r`, where r is an Except:
 * error is a constructor of tag 0 holding the IO.Error, ok one of tag 1 holding the value.
 * Errors of the event loop carry negated error numbers (-114 for EALREADY, ...). Dropping
 * a promise that nothing resolved makes its result task finish with `none`.
 *
 * Socket addresses. A constructor of tag 0 (IPv4) or 1 (IPv6) with one field: a tag-0
 * constructor holding the IP address (an array of 4 octets or of 8 16-bit groups, boxed,
 * most significant first) and a 16-bit scalar, the port in host order.
 *
 * Timers and sockets are external objects; passing an object of another kind ends the
 * process ("expected a timer object", "expected a TCP socket object"). Results are owned
 * by the caller. Every entry point here may be called from any thread.
 */
#ifndef QUARN_UV_H
#define QUARN_UV_H

#include "object.h"

QUARN_BEGIN_DECLS

/* ------------------------------------------------------------------------------------------ */
/* The event loop and timers                                                                 */
/* ------------------------------------------------------------------------------------------ */

/* Starts the reactor if it does not run yet; returns the scalar 0. Consumes options (they
 * are ignored). Any thread. */
QUARN_API quarn_object *quarn_lean_uv_event_loop_configure(quarn_object *options) QUARN_NOEXCEPT;

/* Starts the reactor if it does not run yet; always 1 (true). Any thread. */
QUARN_API uint8_t quarn_lean_uv_event_loop_alive(void) QUARN_NOEXCEPT;

/* An IO result holding the boxed UInt64 count of nanoseconds since the process first
 * asked, plus 1 (so the first reading is at least 1). Returns an owned reference. Any
 * thread. */
QUARN_API quarn_object *quarn_lean_uv_hrtime(void) QUARN_NOEXCEPT;

/* An IO result holding a new timer that fires `timeout_ms` milliseconds after it is armed,
 * once or (repeating = 1) every timeout_ms milliseconds, the first time at once. It is
 * armed by its first quarn_lean_uv_timer_next. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_uv_timer_mk(uint64_t timeout_ms, uint8_t repeating) QUARN_NOEXCEPT;

/* An IO result holding the promise of the timer's next firing (resolved with `some ()`);
 * the first call arms the timer. A one-shot timer returns the same promise each time. An
 * armed timer keeps itself alive until it fires or stops. Borrows timer. Returns an owned
 * reference. Any thread. */
QUARN_API quarn_object *quarn_lean_uv_timer_next(quarn_object *timer) QUARN_NOEXCEPT;

/* Restarts the countdown of an armed timer from now (a repeating timer too waits a full
 * timeout); nothing for a timer that is not armed. An IO result holding the scalar 0.
 * Borrows timer. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_uv_timer_reset(quarn_object *timer) QUARN_NOEXCEPT;

/* Stops the timer for good, armed or not yet armed: it never fires again, and its pending
 * promise is dropped. An IO result holding the scalar 0. Borrows timer. Returns an owned
 * reference. Any thread. */
QUARN_API quarn_object *quarn_lean_uv_timer_stop(quarn_object *timer) QUARN_NOEXCEPT;

/* Drops the pending promise of an armed timer. A one-shot timer is disarmed (a later
 * quarn_lean_uv_timer_next arms it anew); a repeating one keeps running. An IO result
 * holding the scalar 0. Borrows timer. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_uv_timer_cancel(quarn_object *timer) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* TCP sockets                                                                               */
/* ------------------------------------------------------------------------------------------ */

/*
 * A socket gets its descriptor (non-blocking, close-on-exec) when bind or connect first
 * learns the address family; options set before are applied then. At most one connect,
 * one accept, one read (receive or wait-for-readable) and one shutdown are pending at a
 * time (a second is error -114); sends queue without limit. A pending operation keeps its
 * socket alive. Unless said otherwise, every function below borrows the socket and the
 * address, returns an owned reference, and may be called from any thread.
 */

/* An IO result holding a new socket without a descriptor. */
QUARN_API quarn_object *quarn_lean_uv_tcp_new(void) QUARN_NOEXCEPT;

/* Binds the socket (SO_REUSEADDR; IPv6 sockets are dual-stack). An address in use is not
 * reported here but by the following listen or connect (-98). An IO result holding the
 * scalar 0. */
QUARN_API quarn_object *quarn_lean_uv_tcp_bind(quarn_object *socket, quarn_object *address)
    QUARN_NOEXCEPT;

/* Listens with the given backlog (an unbound socket gets an IPv4 descriptor). An IO result
 * holding the scalar 0. */
QUARN_API quarn_object *quarn_lean_uv_tcp_listen(quarn_object *socket, uint32_t backlog) QUARN_NOEXCEPT;

/* Connects; an IO result holding a promise of unit. A refused connection (-111) is
 * reported through the promise. */
QUARN_API quarn_object *quarn_lean_uv_tcp_connect(quarn_object *socket, quarn_object *address)
    QUARN_NOEXCEPT;

/* An IO result holding a promise of the next accepted connection (a new socket). A
 * connection that arrived while no accept was pending is returned at once. */
QUARN_API quarn_object *quarn_lean_uv_tcp_accept(quarn_object *socket) QUARN_NOEXCEPT;

/* An IO result holding a tag-1 constructor whose field is the scalar 0 (nothing waiting)
 * or a tag-1 constructor holding a new socket for a connection that has arrived. */
QUARN_API quarn_object *quarn_lean_uv_tcp_try_accept(quarn_object *socket) QUARN_NOEXCEPT;

/* Drops the pending accept, if any (its result task finishes with `none`). An IO result
 * holding the scalar 0. */
QUARN_API quarn_object *quarn_lean_uv_tcp_cancel_accept(quarn_object *socket) QUARN_NOEXCEPT;

/* An IO result holding a promise of `some bytes` (at most max_bytes, a new byte array) or
 * `none` at the end of the stream. A size of 0 resolves with error -105. */
QUARN_API quarn_object *quarn_lean_uv_tcp_recv(quarn_object *socket, uint64_t max_bytes) QUARN_NOEXCEPT;

/* An IO result holding a promise of true, resolved once the socket is readable. */
QUARN_API quarn_object *quarn_lean_uv_tcp_wait_readable(quarn_object *socket) QUARN_NOEXCEPT;

/* Drops the pending receive or wait, if any (its result task finishes with `none`). An IO
 * result holding the scalar 0. */
QUARN_API quarn_object *quarn_lean_uv_tcp_cancel_recv(quarn_object *socket) QUARN_NOEXCEPT;

/* Sends every byte of the byte arrays in order, after the sends queued before; an IO
 * result holding a promise of unit, resolved once all are sent. Consumes buffers (an array
 * of byte arrays). */
QUARN_API quarn_object *quarn_lean_uv_tcp_send(quarn_object *socket, quarn_object *buffers)
    QUARN_NOEXCEPT;

/* Shuts the sending side down once the queued sends are out; an IO result holding a
 * promise of unit. Later sends fail with -32. */
QUARN_API quarn_object *quarn_lean_uv_tcp_shutdown(quarn_object *socket) QUARN_NOEXCEPT;

/* Switches keep-alive on (idle delay in seconds) or off. An IO result holding the scalar
 * 0. */
QUARN_API quarn_object *quarn_lean_uv_tcp_keepalive(quarn_object *socket, uint8_t enable,
                                                    uint32_t delay_seconds) QUARN_NOEXCEPT;

/* Switches Nagle's algorithm off (TCP_NODELAY). An IO result holding the scalar 0. */
QUARN_API quarn_object *quarn_lean_uv_tcp_nodelay(quarn_object *socket) QUARN_NOEXCEPT;

/* An IO result holding the peer's address (-9 without a descriptor). */
QUARN_API quarn_object *quarn_lean_uv_tcp_getpeername(quarn_object *socket) QUARN_NOEXCEPT;

/* An IO result holding the socket's own address (-9 without a descriptor). */
QUARN_API quarn_object *quarn_lean_uv_tcp_getsockname(quarn_object *socket) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_UV_H */
