/*
 * quarn/system.h: facts about the machine and the process, and a few process settings.
 *
 * Part of the interface that compiled code includes through <quarn/quarn.h>; it also stands
 * alone. Compiles as C11 and as C++.
 *
 * Every primitive returns an IO result (quarn/io.h): ok holds the value, error an IO.Error
 * made from the system's error number (EINVAL for an argument the system cannot take).
 * Numbers come back as boxed 64-bit values (quarn_box_uint64; signed figures as their
 * two's-complement bits) unless said otherwise. Strings from the system are decoded as
 * UTF-8 with invalid bytes dropped. A string argument holding a NUL byte gives the
 * invalid-argument error "string contains NUL bytes" naming it. Arguments are borrowed
 * unless said otherwise; results are owned references. Any thread, unless said otherwise.
 */
#ifndef QUARN_SYSTEM_H
#define QUARN_SYSTEM_H

#include "object.h"

QUARN_BEGIN_DECLS

/* ---- Memory and time ---- */

/* Available memory in bytes: MemAvailable of /proc/meminfo, else sysinfo's free memory. */
QUARN_API quarn_object *quarn_lean_uv_get_free_memory(void) QUARN_NOEXCEPT;
/* Total memory in bytes: MemTotal of /proc/meminfo, else sysinfo's total memory. */
QUARN_API quarn_object *quarn_lean_uv_get_total_memory(void) QUARN_NOEXCEPT;
/* The memory limit of the process's control group in bytes, 0 when it has none. */
QUARN_API quarn_object *quarn_lean_uv_get_constrained_memory(void) QUARN_NOEXCEPT;
/* With a control-group limit, the limit less the group's usage (0 when usage exceeds it);
 * without one, the free memory figure above. */
QUARN_API quarn_object *quarn_lean_uv_get_available_memory(void) QUARN_NOEXCEPT;
/* Whole seconds since boot (CLOCK_BOOTTIME). */
QUARN_API quarn_object *quarn_lean_uv_uptime(void) QUARN_NOEXCEPT;

/* ---- The process and the machine ---- */

QUARN_API quarn_object *quarn_lean_uv_os_getpid(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_uv_os_getppid(void) QUARN_NOEXCEPT;
/* The host name (a string). */
QUARN_API quarn_object *quarn_lean_uv_os_gethostname(void) QUARN_NOEXCEPT;
/* The scheduling priority (nice value, -20 to 19) of process `pid` (0: this process), as a
 * boxed signed 64-bit number. */
QUARN_API quarn_object *quarn_lean_uv_os_getpriority(uint64_t pid) QUARN_NOEXCEPT;
/* Sets the priority of process `pid`; ok(unit). A priority outside -20 to 19, or a pid that
 * is not one, is EINVAL (the system would silently clamp the priority). */
QUARN_API quarn_object *quarn_lean_uv_os_setpriority(uint64_t pid, int64_t priority) QUARN_NOEXCEPT;
/* A constructor (tag 0) of four strings: system name, release, version, machine. */
QUARN_API quarn_object *quarn_lean_uv_os_uname(void) QUARN_NOEXCEPT;
/* This process's resource usage: a constructor (tag 0) with no object fields and sixteen
 * unsigned 64-bit scalars, in order: user time and system time in milliseconds, maximum
 * resident set size (KiB), shared, unshared data and unshared stack sizes, minor and major
 * page faults, swaps, blocks in and out, messages sent and received, signals, voluntary and
 * involuntary context switches. */
QUARN_API quarn_object *quarn_lean_uv_getrusage(void) QUARN_NOEXCEPT;
/* Per processor, online ones in order: an array of constructors (tag 0) with one object
 * field, the model name (a string; "unknown" when the system does not say), and six
 * unsigned 64-bit scalars: speed in MHz (0 when unknown), then the milliseconds spent in
 * user, nice, system, idle and interrupt (hard and soft) time. */
QUARN_API quarn_object *quarn_lean_uv_cpu_info(void) QUARN_NOEXCEPT;

/* ---- Users, directories and the environment ---- */

/* The temporary directory: the first of TMPDIR, TMP, TEMP, TEMPDIR that is set (one
 * trailing "/" removed from a value longer than one character), else "/tmp". */
QUARN_API quarn_object *quarn_lean_uv_os_tmpdir(void) QUARN_NOEXCEPT;
/* HOME when set, else the home directory of the effective user's password entry. A user
 * without an entry is the error no_file_or_directory naming "password entry of user N". */
QUARN_API quarn_object *quarn_lean_uv_os_homedir(void) QUARN_NOEXCEPT;
/* The effective user's password entry: a constructor (tag 0) with object fields user name
 * (string), shell (Option String), home directory (string), then two unsigned 64-bit
 * scalars, the user id and the group id. */
QUARN_API quarn_object *quarn_lean_uv_os_get_passwd(void) QUARN_NOEXCEPT;
/* The group `gid`: Option of a constructor (tag 0) with object fields group name (string)
 * and members (array of strings), then one unsigned 64-bit scalar, the group id; none when
 * no such group exists. */
QUARN_API quarn_object *quarn_lean_uv_os_get_group(uint64_t gid) QUARN_NOEXCEPT;
/* Option String: the variable's value, none when it is not set. */
QUARN_API quarn_object *quarn_lean_uv_os_getenv(quarn_object *name) QUARN_NOEXCEPT;
/* Sets a variable (replacing its value); ok(unit). An empty name or one holding "=" is
 * EINVAL. Changing the environment while other threads read it is the caller's affair, as
 * with setenv(3). */
QUARN_API quarn_object *quarn_lean_uv_os_setenv(quarn_object *name, quarn_object *value) QUARN_NOEXCEPT;
/* Removes a variable; ok(unit), also when it was not set. Same rules as setenv. */
QUARN_API quarn_object *quarn_lean_uv_os_unsetenv(quarn_object *name) QUARN_NOEXCEPT;
/* The whole environment: an array of (name, value) pairs (constructors of tag 0 with two
 * strings), in the environment's order. */
QUARN_API quarn_object *quarn_lean_uv_os_environ(void) QUARN_NOEXCEPT;

/* ---- Working directory, executable, title ---- */

/* The working directory (a string). */
QUARN_API quarn_object *quarn_lean_uv_cwd(void) QUARN_NOEXCEPT;
/* Changes the working directory; ok(unit) or the error naming the path. */
QUARN_API quarn_object *quarn_lean_uv_chdir(quarn_object *path) QUARN_NOEXCEPT;
/* The path of the running executable (a string). */
QUARN_API quarn_object *quarn_lean_uv_exepath(void) QUARN_NOEXCEPT;
/* The process title: the last one set, else the program's name as it was started. */
QUARN_API quarn_object *quarn_lean_uv_get_process_title(void) QUARN_NOEXCEPT;
/* Sets the process title; ok(unit). Tools that show the command name (ps, top) see its
 * first 15 bytes. */
QUARN_API quarn_object *quarn_lean_uv_set_process_title(quarn_object *title) QUARN_NOEXCEPT;

/* ---- Network interfaces, address text, random bytes ---- */

/* The addresses of the interfaces that are up and running: an array of constructors (tag 0)
 * with object fields name (string), hardware address (array of 6 boxed octets, zero when
 * unknown), address and netmask (socket addresses of quarn/uv.h, port 0; the netmask is all
 * zero when the system gives none), then a one-byte scalar, 1 for an internal (loopback)
 * interface. Failing to list them is the error invalid_argument "failed to get interface
 * addresses". */
QUARN_API quarn_object *quarn_lean_uv_interface_addresses(void) QUARN_NOEXCEPT;

/* An IP address (the array of 4 octets or 8 16-bit groups of quarn/uv.h) as text
 * ("192.168.0.1", "::1"); an array that is not one is EINVAL. */
QUARN_API quarn_object *quarn_lean_uv_ntop_v4(quarn_object *ip) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_uv_ntop_v6(quarn_object *ip) QUARN_NOEXCEPT;
/* Text as an IP address array; text that is not an address of the family is EINVAL. */
QUARN_API quarn_object *quarn_lean_uv_pton_v4(quarn_object *text) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_uv_pton_v6(quarn_object *text) QUARN_NOEXCEPT;

/* `count` random bytes, made on a "lean-random" thread: an IO result holding a promise of
 * the byte array (an Except, as the event loop's promises). A count no memory could hold is
 * ENOMEM at once. */
QUARN_API quarn_object *quarn_lean_uv_random(uint64_t count) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_SYSTEM_H */
