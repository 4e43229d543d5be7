/* ctrl_lumo_c.h: the C interface of libctrl_lumo_c.so (SONAME libctrl_lumo_c.so.1).
 *
 * One ctrl_lumo_link reaches one module over TCP, UDP or a serial port, and
 * sends commands exactly as the console's Send does: the same frames, the
 * same bounded waits, the same reading of the answer.
 *
 * Rules that hold for every call:
 * - Results: CTRL_LUMO_OK (0) on success, a nonzero ctrl_lumo_code otherwise;
 *   after a failure ctrl_lumo_last_error(link) says what went wrong.
 * - Arguments are checked (NULL pointers, lengths, ranges, handles that
 *   ctrl_lumo_create did not make or that were destroyed); a bad one gives
 *   CTRL_LUMO_ERR_ARGUMENT, never a crash.
 * - Threads: one thread at a time per link (a second one gets
 *   CTRL_LUMO_ERR_BUSY); different links may be used in parallel.
 * - Calls block the calling thread for the waits they name; nothing runs in
 *   the background on the caller's behalf.
 * - Texts are UTF-8 and NUL-terminated. On the wire each character of a
 *   command becomes one byte (the low 8 bits of its UTF-16 code unit).
 * - Pointers returned by the library (last error, the strings and bytes of a
 *   ctrl_lumo_result) stay valid until the next call on the same link or
 *   its destruction; copy what you keep.
 */
#ifndef CTRL_LUMO_C_H
#define CTRL_LUMO_C_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
/* ctrl_lumo_c.dll lists its exports in ctrl_lumo_c.def; any compiler's program imports them. */
#if defined(CTRL_LUMO_C_BUILDING)
#define CTRL_LUMO_C_API
#else
#define CTRL_LUMO_C_API __declspec(dllimport)
#endif
#elif defined(CTRL_LUMO_C_BUILDING)
#define CTRL_LUMO_C_API __attribute__((visibility("default")))
#else
#define CTRL_LUMO_C_API
#endif

/* Opaque handle of one link to one module. */
typedef struct ctrl_lumo_link ctrl_lumo_link;

/* Result codes of every call that returns int. */
enum ctrl_lumo_code {
    CTRL_LUMO_OK = 0,
    CTRL_LUMO_ERR_ARGUMENT = 1,   /* a bad argument: NULL, length, range, unknown handle, not UTF-8 */
    CTRL_LUMO_ERR_BUSY = 2,       /* another thread is in a call on this link */
    CTRL_LUMO_ERR_NOT_OPEN = 3,   /* the call needs an open link */
    CTRL_LUMO_ERR_WRONG_LINK = 4, /* the call does not apply to the kind of link that is open */
    CTRL_LUMO_ERR_CONNECT = 5,    /* the link did not open; the last error says why */
    CTRL_LUMO_ERR_LINK_LOST = 6,  /* the module closed or reset the TCP link; close it */
    CTRL_LUMO_ERR_TIMEOUT = 7,    /* no answer within the wait */
    CTRL_LUMO_ERR_NOT_ACKED = 8,  /* an answer came, but not a positive acknowledgement */
    CTRL_LUMO_ERR_SYSTEM = 9      /* the system refused (memory, a socket, a port in use) */
};

/* What ctrl_lumo_send_command made of the module's answer. */
enum ctrl_lumo_outcome {
    CTRL_LUMO_OUTCOME_NONE = 0,           /* nothing was sent */
    CTRL_LUMO_OUTCOME_ANSWERED = 1,       /* an acknowledgement line and/or query data came */
    CTRL_LUMO_OUTCOME_ACKED_SILENTLY = 2, /* a normal command answered by 00 FF 5A A5 01 alone */
    CTRL_LUMO_OUTCOME_TIMED_OUT = 3,      /* no usable answer: status holds the time-out message */
    CTRL_LUMO_OUTCOME_NOT_READ = 4, /* sent; this link reads no answer (X frames, styles other than 17) */
    CTRL_LUMO_OUTCOME_REFUSED_TOO_LONG = 5 /* longer than the link carries: nothing sent */
};

/* Kinds of link (ctrl_lumo_info.kind). */
enum ctrl_lumo_link_kind {
    CTRL_LUMO_LINK_NONE = 0,
    CTRL_LUMO_LINK_SERIAL = 1,
    CTRL_LUMO_LINK_TCP = 2,
    CTRL_LUMO_LINK_UDP = 3
};

/* One command and its answer. Strings are never NULL ("" when absent). */
typedef struct ctrl_lumo_result {
    int outcome;         /* enum ctrl_lumo_outcome */
    int is_query;        /* 1 for a query command (zh, zs, zw 000000, ...) */
    int has_status;      /* 1 when the reading wrote the status line */
    const char* status;  /* the status line, e.g. "Ack : OK: ...", or the time-out message */
    int has_data;        /* 1 when the module returned query data */
    const char* data;    /* the query data (the console's answer box) */
    const char* caption; /* the data's caption: "Device Information", "Signal Type", "Source position" */
    const unsigned char* answer; /* the answer bytes the reading took */
    size_t answer_len;
    const unsigned char* sent; /* the bytes that went out (line, datagram or frame) */
    size_t sent_len;
    int round_trip_ms; /* from the send to the answer taken; -1 when no answer was read */
    int warned_long;   /* 1 when the console would have warned of a command above 100 characters */
} ctrl_lumo_result;

/* What the open link is and what the module said when it opened. */
typedef struct ctrl_lumo_info {
    int kind;         /* enum ctrl_lumo_link_kind */
    int x_mode;       /* TCP: 1 when commands travel as X frames */
    int module_id;    /* TCP and UDP: from the greeting; -1 when unknown */
    int style;        /* the module's style; -1 when unknown */
    int mode_char;    /* style 17: its reply-mode character ('z', ...); 0 when none */
    int prompt_seen;  /* serial: 1 when the module's prompt came */
    const char* name; /* "TCP 10.0.0.5:20036", "UDP 10.0.0.5:20037", "COM3" or the device path */
} ctrl_lumo_info;

/* Limits checked by the calls. */
#define CTRL_LUMO_MAX_COMMAND_BYTES 8192 /* a command's UTF-8 text, without its NUL */
#define CTRL_LUMO_MAX_FRAME_BYTES 30725  /* a raw frame */
#define CTRL_LUMO_MAX_WAIT_MS 60000      /* check_ack's limit */

/* A new link with nothing open; NULL when memory is short. Any thread. */
CTRL_LUMO_C_API ctrl_lumo_link* ctrl_lumo_create(void);

/* Closes an open link (as the console does when it closes) and frees the
 * handle. NULL does nothing. Blocks while a call of another thread on the
 * link finishes. What the device link reports while it closes goes to
 * standard error, since no call is left to return it. */
CTRL_LUMO_C_API void ctrl_lumo_destroy(ctrl_lumo_link* link);

/* TCP link to the module at address (dotted IPv4, port 20036); x_mode 1
 * expects the 17-byte X greeting and sends commands as X frames, 0 the
 * normal greeting and Z frames. Closes a link that is open first. Blocks for
 * the connect (up to 20 s, see ctrl_lumo_set_connect_timeout), the greeting
 * (up to 10 s) and, for style 17, the mode query (see ctrl_lumo_set_pauses). */
CTRL_LUMO_C_API int ctrl_lumo_open_tcp(ctrl_lumo_link* link, const char* address, int x_mode);

/* UDP text link to address:20037 (after a TCP connect that makes the module
 * report itself, closed again at once). Closes a link that is open first. */
CTRL_LUMO_C_API int ctrl_lumo_open_udp(ctrl_lumo_link* link, const char* address);

/* Serial link: port is a number ("3" or "COM3": the device that LUMO_COM3
 * names, else /dev/ttyS2) or a device path ("/dev/ttyUSB0"); baud in bits/s.
 * Waits for the module's prompt as the console's connect does: until it
 * comes (with ctrl_lumo_set_pauses 1 about 1.5 s when it does), 8 s when
 * nothing answers. */
CTRL_LUMO_C_API int ctrl_lumo_open_serial(ctrl_lumo_link* link, const char* port, int baud);

/* The console's Send: command goes out in the form the link calls for and
 * the answer is read within the console's bounded waits (up to 10 s over
 * TCP, 7.5 s on the serial port, about 40 s over UDP). result (required) is
 * filled in every case; CTRL_LUMO_OK whenever the command went out, also
 * when the module did not answer (outcome CTRL_LUMO_OUTCOME_TIMED_OUT). */
CTRL_LUMO_C_API int ctrl_lumo_send_command(ctrl_lumo_link* link, const char* command,
                                           ctrl_lumo_result* result);

/* Sends count raw bytes as they are (1 to CTRL_LUMO_MAX_FRAME_BYTES) on a
 * TCP or serial link; over TCP the receive side is set to expect a five-byte
 * acknowledgement. Does not wait for an answer. */
CTRL_LUMO_C_API int ctrl_lumo_send_frame(ctrl_lumo_link* link, const unsigned char* bytes, size_t count);

/* Waits up to limit_ms (1 to CTRL_LUMO_MAX_WAIT_MS) for the module's
 * acknowledgement 00 FF 5A A5 S of a frame sent with ctrl_lumo_send_frame,
 * on a TCP or serial link. *status (may be NULL) gets the result of the
 * device link's acknowledgement check: S, or 0. CTRL_LUMO_OK when S is
 * nonzero, CTRL_LUMO_ERR_TIMEOUT when nothing came, CTRL_LUMO_ERR_NOT_ACKED
 * for status 0 or a malformed answer. On a serial link the check waits for a
 * well-formed acknowledgement and reports 1 whatever its status byte. */
CTRL_LUMO_C_API int ctrl_lumo_check_ack(ctrl_lumo_link* link, int limit_ms, int* status);

/* Device query (frame 55 AA FF 00 01 FE 19 00): out[0] and out[1] get the
 * two data bytes of the module's answer. kind 2 lets a serial answer take up
 * to 1.3 s, any other kind 160 ms (with the device link's retries); over TCP
 * the answer is awaited up to 10 s. Not on UDP links. */
CTRL_LUMO_C_API int ctrl_lumo_device_query(ctrl_lumo_link* link, int kind, unsigned char out[2]);

/* Asks the module at address (dotted IPv4) to clear its socket: three
 * datagrams broadcast from local port 60102 to a.b.255.255:60528. Needs no
 * open link; calls of different links take turns for the fixed port. */
CTRL_LUMO_C_API int ctrl_lumo_clear_socket(ctrl_lumo_link* link, const char* address);

/* Copies what the open link is into *info (CTRL_LUMO_ERR_NOT_OPEN without one). */
CTRL_LUMO_C_API int ctrl_lumo_get_info(ctrl_lumo_link* link, ctrl_lumo_info* info);

/* How the link's connect and close sequences wait (from the next open or
 * close on). By default (0) a link puts the same bytes on the wire as the
 * console but ends each wait as soon as its condition holds, within the
 * console's bounds: the mode query when its reply is in, the close when the
 * disconnect handshake has been acknowledged and the receive thread has
 * ended, the serial prompt when it arrives. pauses 1 keeps the console's
 * fixed pauses (500-ms passes of the mode query, 1.2 s to close a TCP link,
 * about 1.5 s for a serial prompt) for a module that needs them. */
CTRL_LUMO_C_API int ctrl_lumo_set_pauses(ctrl_lumo_link* link, int pauses);

/* Bounds each later TCP connect of the link (also UDP's probe) to timeout_ms
 * (1 to CTRL_LUMO_MAX_WAIT_MS): a connect not taken by then fails with
 * CTRL_LUMO_ERR_CONNECT, "timed out". 0 restores the default, 20 s. */
CTRL_LUMO_C_API int ctrl_lumo_set_connect_timeout(ctrl_lumo_link* link, int timeout_ms);

/* Closes the open link as the console's Disconnect does (the serial port
 * gets "ze 0000 1", "*0" and "exit" first). CTRL_LUMO_OK when none is open. */
CTRL_LUMO_C_API int ctrl_lumo_close(ctrl_lumo_link* link);

/* What went wrong in the last call on link, or what the device link
 * reported during it; "" when the last call went without either. For NULL,
 * an unknown handle, or a link that another thread is using: the calling
 * thread's own last refusal of that kind. Never NULL. */
CTRL_LUMO_C_API const char* ctrl_lumo_last_error(const ctrl_lumo_link* link);

/* ---- Many modules at once ------------------------------------------------
 * A fleet is a list of targets worked on together on a bounded pool of
 * threads, each target on a link of its own (never one thread per target):
 * ctrl_lumo_fleet_scan finds the modules among them, ctrl_lumo_fleet_run
 * sends commands to every one. Nothing one module sends reaches another's
 * link, and one module's trouble costs only its own waits. One thread uses
 * a fleet at a time (another gets CTRL_LUMO_ERR_BUSY). */
typedef struct ctrl_lumo_fleet ctrl_lumo_fleet;

/* Zero for every default. */
typedef struct ctrl_lumo_fleet_options {
    int jobs;               /* links at once, 1 to 4096; 0: 256 for a scan, 64 for a run */
    int udp;                /* run: 1 for UDP text links, 0 for TCP module links */
    int x_mode;             /* TCP: the 17-byte X greeting, commands as X frames */
    int connect_timeout_ms; /* each TCP connect, 1 to 60000; 0: 500 for a scan, 20000 for a run */
    int info;               /* scan: also ask each module "zh" and keep its data line */
    int pauses;             /* 1: the console's pauses (see ctrl_lumo_set_pauses) */
} ctrl_lumo_fleet_options;

/* One target of the last scan or run. Strings are never NULL. */
typedef struct ctrl_lumo_target {
    const char* address; /* dotted IPv4 */
    int reached;         /* scan: a module greeted; run: the link opened */
    int module_id;       /* from the greeting; -1 when none came */
    int style;           /* -1 when unknown */
    int mode_char;       /* style 17: the reply-mode character; 0 when none */
    const char* info;    /* scan with info: the device-information line, else "" */
    int connect_us;      /* the TCP connect in microseconds (scan); -1 when it did not connect */
    const char*
        error;      /* why the target failed, e.g. "TCP 10.0.0.5:20036: refused (...)"; "" when it did not */
    size_t results; /* run: the commands sent on its link (see ctrl_lumo_fleet_result) */
} ctrl_lumo_target;

/* A fleet over count target texts, each an address ("10.0.0.5"), a range
 * ("10.0.0.20-29", "10.0.0.20-10.0.1.9"), a block ("10.0.0.0/24"), a host
 * name or "@FILE" (one target a line, '#' comments); an address given twice
 * counts once. options may be NULL. NULL when a text is none of these, a name
 * does not resolve, a file cannot be read, an option is out of range or
 * memory is short: ctrl_lumo_last_error(NULL) then says why. Looks names up
 * and reads files on the calling thread. */
CTRL_LUMO_C_API ctrl_lumo_fleet* ctrl_lumo_fleet_create(const char* const* targets, size_t count,
                                                        const ctrl_lumo_fleet_options* options);

/* Frees the fleet once a call of another thread on it has returned. NULL does nothing. */
CTRL_LUMO_C_API void ctrl_lumo_fleet_destroy(ctrl_lumo_fleet* fleet);

/* The number of addresses of the fleet (the targets of ctrl_lumo_fleet_target). 0 for a bad handle. */
CTRL_LUMO_C_API size_t ctrl_lumo_fleet_size(const ctrl_lumo_fleet* fleet);

/* Gives every address the console's TCP connect (bounded as the options
 * say, 500 ms by default), the greeting, the mode query of a style-17
 * module, "zh" with info, and the console's disconnect. CTRL_LUMO_OK when a
 * module answered, CTRL_LUMO_ERR_CONNECT when none did. Blocks until done. */
CTRL_LUMO_C_API int ctrl_lumo_fleet_scan(ctrl_lumo_fleet* fleet);

/* Opens a link to every address, sends the count commands (UTF-8, each up to
 * CTRL_LUMO_MAX_COMMAND_BYTES) in turn as ctrl_lumo_send_command does and
 * closes the link again. CTRL_LUMO_OK when every link opened (a command
 * that timed out is told in its result), CTRL_LUMO_ERR_CONNECT when a link
 * did not (its target's error says why). Blocks until done. */
CTRL_LUMO_C_API int ctrl_lumo_fleet_run(ctrl_lumo_fleet* fleet, const char* const* commands, size_t count);

/* What became of target index (0 to size - 1, in the order of the targets)
 * in the last scan or run. */
CTRL_LUMO_C_API int ctrl_lumo_fleet_target(ctrl_lumo_fleet* fleet, size_t index, ctrl_lumo_target* target);

/* The result of command `command` of the last run on target index. */
CTRL_LUMO_C_API int ctrl_lumo_fleet_result(ctrl_lumo_fleet* fleet, size_t index, size_t command,
                                           ctrl_lumo_result* result);

/* Asks a scan or run in progress (any thread) to start no further target and
 * to cut the waits of those in progress short; the fleet does no more work. */
CTRL_LUMO_C_API void ctrl_lumo_fleet_stop(ctrl_lumo_fleet* fleet);

/* What went wrong in the last call on the fleet; "" when nothing did. */
CTRL_LUMO_C_API const char* ctrl_lumo_fleet_last_error(const ctrl_lumo_fleet* fleet);

/* The library's version, "major.minor.patch". */
CTRL_LUMO_C_API const char* ctrl_lumo_version(void);

#ifdef __cplusplus
}
#endif

#endif /* CTRL_LUMO_C_H */
