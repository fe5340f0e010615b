/*
 * quarn.h: the interface that compiled Lean code includes.
 *
 * The model in brief
 * ------------------
 * Value word. Every value is one 64-bit word of type `quarn_object *`. Bit 0 set: a scalar
 * n stored as 2n + 1 (quarn_box, quarn_unbox); constructors without fields, small natural
 * numbers, small integers, characters and booleans live there. Bit 0 clear: a pointer to an
 * object header.
 *
 * Objects. A header word (`rc`, `cs_sz`, `other`, `tag`) followed by a body laid out by the
 * tag: constructors 0-243, then promise, closure, array, scalar array, string, big number,
 * thunk, task, reference cell and external object (quarn/object.h gives every layout). In
 * front of the header sits a size word that only the allocator reads.
 *
 * Counting. `rc` > 0 is a single-threaded count, updated with plain stores by the one thread
 * that owns the object; `rc` < 0 is a multi-threaded count, updated atomically; `rc` == 0
 * means persistent: never counted, never freed. rc == 1 means exclusive: the holder may
 * update the object in place. quarn_inc / quarn_dec are the inline sequences; they call
 * quarn_dec_ref_cold / quarn_inc_ref_n_cold for the rare cases. Before a value is handed to
 * another thread it is marked multi-threaded (quarn_mark_mt); values stored in
 * initialization cells are marked persistent (quarn_mark_persistent).
 *
 * Ownership. Arguments are consumed unless a declaration says "Borrows"; results are owned
 * by the caller unless a declaration says the reference is borrowed. Every declaration
 * says which.
 *
 * Threads. Entry points may be called from any thread. Nothing here throws or longjmps:
 * broken invariants and exhausted memory end the process through the internal panic
 * ("INTERNAL PANIC: " and a message on standard error, exit status 1, or abort() when
 * LEAN_ABORT_ON_PANIC is set); failures Lean code can handle come back as IO results.
 */
#ifndef QUARN_QUARN_H
#define QUARN_QUARN_H

#include "object.h"
#include "closure.h"
#include "nat.h"
#include "array.h"
#include "string.h"
#include "fixed.h"
#include "io.h"
#include "handle.h"
#include "process.h"
#include "fs.h"
#include "system.h"
#include "startup.h"
#include "task.h"
#include "uv.h"
#include "udp_dns_signal.h"
#include "share.h"
#include "entry.h"

#endif /* QUARN_QUARN_H */
