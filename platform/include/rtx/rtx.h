/* The real-time executive, as the ERR module uses it.
 *
 * This is the only door from the module to its platform, and it holds only what the module
 * calls: tasks, the name catalog, global message segments, semaphores, INI files, the root
 * path, the boot console, the executive's path and formatting helpers, and file access for the
 * logs. Operations that only the host's programs use (creating mailboxes, entering names in
 * the catalog, mapping paths, unbounded formatting) are in rtx_host.h. Mailboxes,
 * segments and semaphores are 16-bit ids; catalog names are counted strings (a length byte,
 * then the characters). Every operation that takes a `status` fills it; status 0 is success.
 *
 * On the instrument these come from the executive's library; on a development host they come
 * from rtx_host, a working executive on POSIX threads (see rtx_host.h for its test controls). */
#ifndef RTX_RTX_H
#define RTX_RTX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct rtx_status {
    uint16_t status; /* 0 on success, one of RTX_E_ otherwise */
} rtx_status;

#define RTX_OK 0x0000
#define RTX_E_NOMEM 0x0002     /* segment pool exhausted / allocation refused */
#define RTX_E_NOT_FOUND 0x0003 /* name not in the catalog */
#define RTX_E_BAD_ID 0x0005    /* unknown segment, mailbox, semaphore or task id */
#define RTX_E_TIMEOUT 0x0006   /* a limited wait ran out */
#define RTX_E_EXISTS 0x0007    /* name already in the catalog */
#define RTX_E_SHUTDOWN 0x00E0  /* the executive is shutting down */

#define RTX_WAIT_FOREVER 0xFFFFu

/* ---- Tasks ------------------------------------------------------------------------------ */

/* Task descriptor read by ini_create_task. Exact 16-byte layout on a 32-bit target:
 * 0 type (u8), 1 unused (u8), 2 start address, 6 u16, 8 u32, 12 stack size (u16),
 * 14 u16. On a 64-bit host the start address has native width and the order is kept. */
#if defined(_MSC_VER)
#pragma pack(push, 1)
#define RTX_PACKED
#else
#define RTX_PACKED __attribute__((packed))
#endif
typedef struct RTX_PACKED rtx_task_descriptor {
    uint8_t type;        /* task kind; the error task passes 130 */
    uint8_t unused;      /* not set by the module */
    void (*start)(void); /* the task's body; it never returns */
    uint16_t data_seg;   /* 0 */
    uint32_t stack_base; /* 0: the executive provides the stack */
    uint16_t stack_size; /* bytes of stack wanted (the error task: 10000) */
    uint16_t priority;   /* 1 */
} rtx_task_descriptor;
#if defined(_MSC_VER)
#pragma pack(pop)
#endif

/* Registers fn to be called once at system start, after every function registered before it.
 * text names it in the executive's start-up listing. Returns 0 on success. */
int register_init_function(void (*fn)(void), const char* text);

/* Creates and starts a task from descriptor under the counted catalog name. param is the
 * executive's own (the module passes 1000). Returns non-zero on success. */
uint8_t ini_create_task(const rtx_task_descriptor* descriptor, const char* counted_name,
                        uint16_t param, rtx_status* status);

/* Suspends task (0: the calling task) until another task resumes it. */
void rtx_suspendtask(uint16_t task, rtx_status* status);

/* ---- Catalog ---------------------------------------------------------------------------- */

/* Looks the counted name up; RTX_E_NOT_FOUND when it is not in the catalog. */
void rtx_searchcatalog(uint16_t* out_id, const char* counted_name, uint16_t option,
                       rtx_status* status);

/* ---- Global segments and messages ------------------------------------------------------- */

/* Allocates a segment of size bytes (contents zero on the host) from a bounded pool;
 * src_file and line name the allocation's origin. Fails with RTX_E_NOMEM when the pool is
 * exhausted. */
void old_rtx_global_alloc(uint16_t* out_segment, uint32_t size, uint16_t option1, uint16_t option2,
                          rtx_status* status, const char* src_file, int line);
/* Address of byte offset of segment, or null for an unknown segment or offset past its end. */
void* buildptr(uint16_t segment, uint32_t offset);
/* Size in bytes of segment, 0 for an unknown one. Every read of a received message stays
 * within this size. */
uint32_t rtx_segment_size(uint16_t segment);
/* Frees segment; RTX_E_BAD_ID for an unknown one. */
void rtx_global_free(uint16_t segment, rtx_status* status);

/* Queues segment on mailbox (FIFO). On success the receiver owns the segment; on failure the
 * sender still does. Returns the status word (0 when queued). */
int _rtx_sendmessage(uint16_t mailbox, uint16_t segment, uint16_t option, rtx_status* status);
/* Takes the oldest segment of mailbox, waiting up to timeout milliseconds (RTX_WAIT_FOREVER:
 * no limit; 0: do not wait). RTX_E_TIMEOUT when the wait runs out. */
void _rtx_getmessage(uint16_t* out_segment, uint16_t mailbox, uint16_t timeout, uint16_t option,
                     rtx_status* status);

/* Answers the received message that starts at request: when the request's reply_mode is 2,
 * answer_segment is sent to the request's reply_mbx and the request is marked answered;
 * otherwise the answer segment is freed. Either way the executive takes the answer segment
 * over: the caller never frees it afterwards. */
void send_response(const void* request, uint16_t answer_segment, rtx_status* status);
/* The default answer: when the request's reply_mode is 2 and it was not answered with
 * send_response, a header-only message (sender_id = sender_id, reply_mode 0, reply_mbx 0,
 * replied_sender/replied_tag = the request's sender_id/replied_tag, block_count 0) is sent to
 * reply_mbx. Otherwise nothing is sent. */
void send_default_response(const void* request, uint16_t sender_id, rtx_status* status);

/* ---- Semaphores ------------------------------------------------------------------------- */

void rtx_createsema(uint16_t* out_sema, uint16_t initial, uint16_t maximum, uint16_t option,
                    rtx_status* status);
/* Takes one unit; timeout in milliseconds, -1 waits without limit. */
void rtx_getsema(uint16_t sema, int32_t timeout, rtx_status* status);
void rtx_sendsema(uint16_t sema, rtx_status* status);

/* ---- Configuration and console ---------------------------------------------------------- */

/* Loads an INI file by name (looked up in the executive's configuration folder). Returns 0
 * and a handle when loaded. */
int ini_file_read(uint16_t* out_handle, const char* file_name);
/* Value of key in section (names compare without regard to case). Returns 0 when found; the
 * text stays valid until ini_file_free(handle). */
int ini_file_get(uint16_t handle, const char* section, const char* key, char** out_text);
void ini_file_free(uint16_t handle);

/* Copies the executive's root path (zero-terminated, at most 259 characters) into buffer of
 * 260 bytes: an executive path such as "D:", to which "\LOG\SYSERR.LOG" is appended. which
 * selects the path kind; the module passes 2. */
void rtx_get_root_path(int which, char* buffer);

/* Boot console. */
int boot_printf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
int rtx_boot_printf(int level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

/* Moves *path past its directory part (after the last '\' , '/' or ':'). */
void EVcut_path(const char** path);

/* ---- Files ------------------------------------------------------------------------------ */
/* Log and archive files. Paths are executive paths (backslashes, root-relative or absolute)
 * and are mapped to host paths in one place. Streams are binary (no newline translation).
 * The calls work on files only: a directory is refused by every one of them. */

typedef struct rtx_file rtx_file;

/* 1 when the two paths name one file, whether it exists or not (different spellings of one
 * path included); 0 otherwise. */
int rtx_file_same(const char* path_a, const char* path_b);

/* mode as for fopen ("rb", "r+b", "wb"). Null on failure. */
rtx_file* rtx_file_open(const char* path, const char* mode);
/* whence as for fseek. 0 on success. */
int rtx_file_seek(rtx_file* file, long offset, int whence);
long rtx_file_tell(rtx_file* file);
/* Bytes transferred; fewer than size on failure. A write is flushed before it is judged. */
size_t rtx_file_read(rtx_file* file, void* buffer, size_t size);
size_t rtx_file_write(rtx_file* file, const void* buffer, size_t size);
/* 0 on success. */
int rtx_file_close(rtx_file* file);
int rtx_file_remove(const char* path);
int rtx_file_rename(const char* from, const char* to);

#ifdef __cplusplus
}
#endif

#endif
