/* Host executive: what exists only on a development host, for tests, the simulator and the
 * tools: the executive operations that the module never calls, and the host's controls. The
 * module never includes this header. */
#ifndef RTX_RTX_HOST_H
#define RTX_RTX_HOST_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "rtx/rtx.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Status of rtx_sendsema when the semaphore already holds its maximum (the count stays). */
#define RTX_HOST_E_SEMA_FULL 0x00F0
/* Default status of an injected fault (rtx_host_fail). */
#define RTX_E_INJECTED 0x00FA

/* ---- Executive operations that only the host's programs call --------------------------- */

/* Creates a mailbox (FIFO of segments). */
void rtx_creatembx(uint16_t* out_mbx, uint16_t option, rtx_status* status);
/* Enters id under the counted name; RTX_E_EXISTS when the name is taken. */
void rtx_catalog(uint16_t id, const char* counted_name, uint16_t option, rtx_status* status);
/* Maps an executive path to a host path into buffer (size bytes). Returns 0 on success, -1
 * when it does not fit. The one place where executive paths become host paths. */
int rtx_map_path(const char* exec_path, char* buffer, size_t size);
/* Formats like vsprintf: no bound. Callers that cannot bound the result use vsnprintf. */
int VSPRINTF(char* buffer, const char* format, va_list args);

/* ---- Set-up ---------------------------------------------------------------------------- */

/* The host folder that holds the executive's files (default "."); any name works, relative
 * ones such as "./errsim-root" and ones with dots or blanks. rtx_get_root_path does not give
 * it: it gives the executive's root path, "D:" as on the instrument, and the host folder stands
 * for that drive. Executive paths are mapped below the folder by rtx_map_path and the file
 * calls: backslashes become '/', repeated separators one; a drive prefix ("D:") is dropped;
 * "D:\LOG\SYSERR.LOG", "\LOG\SYSERR.LOG" and "LOG\SYSERR.LOG" -> "<folder>/LOG/SYSERR.LOG";
 * a path with a ".." step maps to nothing. */
void rtx_host_set_root(const char* host_folder);
const char* rtx_host_root(void);
/* The root path that rtx_get_root_path gives (cut to 259 characters; null: back to "D:"), for
 * tests of root paths that the instrument may have. It does not move the host folder. */
void rtx_host_set_root_path(const char* exec_root);
/* Folder in which ini_file_read looks files up (default: the root). */
void rtx_host_set_ini_dir(const char* host_folder);

/* Most segments alive at once (default 4096). An allocation beyond it first gives way: it
 * sleeps until half the pool is free again, for at most 1 ms, and tries once more; then it
 * fails with RTX_E_NOMEM. (On the instrument the tasks that free segments outrank those that
 * report; this keeps reporting threads from taking the processors from them on the host.) */
void rtx_host_set_segment_limit(uint32_t limit);

/* Calls every function registered with register_init_function, in registration order, once
 * (a later call runs only the functions registered since). */
void rtx_host_system_start(void);

/* Orderly end: every task blocked in the executive (receive, semaphore, suspension) or that
 * enters such a wait afterwards ends its thread (pthread_exit); waits for all task threads.
 * A thread that is not a task gets RTX_E_SHUTDOWN instead of waiting (queued messages are
 * still handed out). No task can be created afterwards. Safe to call more than once. After
 * it, rtx_host_reset may prepare a fresh executive. */
void rtx_host_shutdown(void);

/* Back to the state at load (no mailboxes, catalog entries, segments, semaphores, INI handles,
 * faults, captured console, counters, init functions; root ".", root path "D:", INI folder =
 * root, segment limit 4096, console echo on, no sink). Refused, with a note on stderr, while a
 * task thread still runs (call rtx_host_shutdown first). */
void rtx_host_reset(void);

/* Resumes a task suspended with rtx_suspendtask; by counted catalog name. 0 on success; -1
 * when no such task is suspended (a resume is not remembered for a later suspension). */
int rtx_host_resume_task(const char* counted_name);
/* 1 while the named task is suspended. */
int rtx_host_task_suspended(const char* counted_name);

/* Creates a mailbox and enters it under the counted name; returns its id (0 on failure). */
uint16_t rtx_host_create_mailbox(const char* counted_name);
/* Number of segments queued on mailbox. */
uint32_t rtx_host_mailbox_depth(uint16_t mailbox);
/* Number of threads blocked in _rtx_getmessage on mailbox right now. Such a thread has passed
 * the fault check of its call, so a fault armed now hits some later call: a test that arms a
 * receive fault for one task waits until every other receiver is blocked. */
uint32_t rtx_host_mailbox_waiters(uint16_t mailbox);

/* Allocation origin (source file and line given to old_rtx_global_alloc) of a live segment,
 * for leak diagnostics: the text that the allocation named, which the executive does not copy
 * (callers name their source with a text that lives as long as the program). 0 when found. */
int rtx_host_segment_origin(uint16_t segment, const char** file, int* line);
/* Ids of the live segments, lowest first: fills up to max of them into out and returns how
 * many there are. */
size_t rtx_host_list_segments(uint16_t* out, size_t max);

/* ---- Console --------------------------------------------------------------------------- */

/* Echo of the boot console to stdout (default on). */
void rtx_host_console_echo(int on);
/* Everything printed on the boot console since the last clear; valid until the next call of
 * any console function. */
const char* rtx_host_console_text(void);
void rtx_host_console_clear(void);
/* Called with each piece printed on the boot console (any thread), or none (null). */
typedef void (*rtx_host_console_sink)(const char* text, size_t length, void* context);
void rtx_host_set_console_sink(rtx_host_console_sink sink, void* context);

/* ---- Fault injection ------------------------------------------------------------------- */

typedef enum rtx_host_op {
    RTX_OP_LOOKUP = 0,  /* rtx_searchcatalog */
    RTX_OP_ALLOC,       /* old_rtx_global_alloc */
    RTX_OP_SEND,        /* _rtx_sendmessage */
    RTX_OP_RECEIVE,     /* _rtx_getmessage */
    RTX_OP_SEMA_CREATE, /* rtx_createsema */
    RTX_OP_SEMA_TAKE,   /* rtx_getsema */
    RTX_OP_SEMA_GIVE,   /* rtx_sendsema */
    RTX_OP_INI_READ,    /* ini_file_read */
    RTX_OP_TASK_CREATE, /* ini_create_task */
    RTX_OP_FILE_OPEN,   /* rtx_file_open */
    RTX_OP_FILE_SEEK,   /* rtx_file_seek */
    RTX_OP_FILE_READ,   /* rtx_file_read (transfers nothing) */
    RTX_OP_FILE_WRITE,  /* rtx_file_write (transfers nothing) */
    RTX_OP_FILE_RENAME, /* rtx_file_rename */
    RTX_OP_COUNT
} rtx_host_op;

/* After skip more successful calls of op, the next count calls fail with status (file
 * operations fail as the C library would: null, -1, a short transfer). count 0 clears. */
void rtx_host_fail(rtx_host_op op, uint32_t skip, uint32_t count, uint16_t status);
/* Shorthand: the next count calls fail. */
void rtx_host_fail_next(rtx_host_op op, uint32_t count, uint16_t status);
/* Clears every pending fault. */
void rtx_host_clear_faults(void);

/* ---- Power cut ------------------------------------------------------------------------- */

/* File-changing calls are the calls that can leave a state behind on the disk: an rtx_file_open
 * that creates or truncates (modes "w" and "a"), every rtx_file_write, rtx_file_rename and
 * rtx_file_remove. Opens for reading or updating ("r", "r+") change nothing and are not counted.
 * They are counted from 1 in the order the process makes them, in every thread, from the
 * process's start (rtx_host_reset does not clear the count, the cut or the trace). */

/* Exit status of a process ended by a power cut. */
#define RTX_HOST_POWER_CUT_EXIT 86

/* Arms a cut: the process ends (_exit, RTX_HOST_POWER_CUT_EXIT, no buffers flushed, no
 * destructors) at file-changing call number call. torn_bytes < 0 cuts before the call: it has
 * no effect. torn_bytes >= 0 on a write hands its first torn_bytes bytes (at most all of them)
 * straight to the file and then cuts (a torn write); on other calls it cuts before them. call 0
 * disarms. Nothing that the process does after the cut reaches the files. */
void rtx_host_power_cut(uint64_t call, int64_t torn_bytes);
/* Writes a trace of every later file-changing call to the host file host_path (created anew;
 * null stops the trace). Each call is one line, written (unbuffered) before the call is made,
 * a cut call included:
 *   "<number> <op> <offset> <length> <host path>\n"
 * op is truncate (an open that creates or truncates), create (an open that creates a missing
 * file and keeps an existing one), write, rename or remove; offset is where a write starts (0
 * otherwise), length its byte count (0 otherwise); the path is absolute (a rename gives
 * "<from> -> <to>"). A write's line is followed by its length bytes of data, all that the call
 * was given (also when the cut tears it). 0 on success, -1 when the trace file cannot be
 * created. */
int rtx_host_power_trace(const char* host_path);
/* The number of file-changing calls made so far. */
uint64_t rtx_host_file_changes(void);

/* ---- Counters -------------------------------------------------------------------------- */

typedef struct rtx_host_counters {
    uint64_t calls[RTX_OP_COUNT];  /* calls of each operation */
    uint64_t failed[RTX_OP_COUNT]; /* of which failed (injected or real) */
    uint64_t segments_in_use;      /* segments alive now */
    uint64_t segments_peak;        /* most segments alive at once */
} rtx_host_counters;

void rtx_host_get_counters(rtx_host_counters* out);

#ifdef __cplusplus
}
#endif

#endif
