/* The mailbox protocol of the error task: message layout, command codes and catalog names.
 *
 * Every message segment starts with a 12-byte header, followed by block_count command blocks.
 * Each block has an 8-byte head and its data from block byte 8; the next block starts
 * block_length bytes after the start of this one. All words are unsigned 16-bit
 * little-endian. These are byte offsets, not structs: read them with a bounds check. */
#ifndef ERR_PROTOCOL_H
#define ERR_PROTOCOL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Message header. */
#define MSG_SENDER_ID 0
#define MSG_REPLY_MODE 2
#define MSG_REPLY_MBX 4
#define MSG_REPLIED_SENDER 6
#define MSG_REPLIED_TAG 8
#define MSG_BLOCK_COUNT 10
#define MSG_HEADER_SIZE 12

/* Command block, offsets from the start of the block. */
#define BLK_COMMAND 0
#define BLK_LENGTH 2
#define BLK_TAG1 4
#define BLK_TAG2 6
#define BLK_DATA 8
#define BLK_HEAD_SIZE 8

#define REPLY_MODE_NONE 0
#define REPLY_MODE_TO_MBX 2 /* the answer goes to the mailbox in reply_mbx */

#define ERR_SENDER_ID 5505 /* every message the module builds */
#define GUI_SENDER_ID 5100 /* button answers of the user-interface task */

/* Report (command 601): 232-byte segment, block_length 220, ErrorReport from block byte 8. */
#define REPORT_SEGMENT_SIZE 232
#define REPORT_BLOCK_LENGTH 220
#define REPORT_ERROR_NR 8  /* u16 */
#define REPORT_RESERVED 10 /* u16, 0 */
#define REPORT_LINE 12     /* i32 */
#define REPORT_FILE 16     /* char[80], not always terminated */
#define REPORT_FILE_SIZE 80
#define REPORT_INFO 96 /* char[120], not always terminated */
#define REPORT_INFO_SIZE 120

/* Commands on ERROR_MBX. */
#define CMD_RESPONSE 4
#define CMD_RESET_SWITCHES 600
#define CMD_REPORT_ERROR 601
#define CMD_BOX_ANSWER 602 /* on ERROR_QMBX only */
#define CMD_SET_ERROR_STATE 603
#define CMD_BOXES_ON 604
#define CMD_BOXES_OFF 605
#define CMD_UI_READY 606
#define CMD_UI_NOT_READY 607
#define CMD_VARIANT_A 608
#define CMD_VARIANT_B 609
#define CMD_EXPORT_USER_LOG 610
#define CMD_EXPORT_SYSTEM_LOG 611
#define CMD_SYSTEM_ERR_ON 612
#define CMD_SYSTEM_ERR_OFF 613
#define CMD_ERASE_ALL_USER 614
#define CMD_ERASE_ALL_SYSTEM 615
#define CMD_ERASE_SELECTED_USER 616
#define CMD_ERASE_SELECTED_SYSTEM 617
#define CMD_ASYNC_BOX_ANSWER 618
#define CMD_ARCHIVE_ALL 619

/* Data offsets in command blocks. */
#define SET_STATE_ERROR_NR 8
#define SET_STATE_AND_MASK 10
#define SET_STATE_OR_MASK 12
#define EXPORT_FILE_NAME 10
#define ERASE_COUNT 8
#define ERASE_NUMBERS 10
#define ASYNC_ANSWER_CODE 8
#define ARCHIVE_ALL_VALUE 8
#define RESPONSE_RESULT 8 /* report answer: u16 result; block_length 10 */
#define RESPONSE_BLOCK_LENGTH 10
#define RESPONSE_SIZE 22     /* header and the one block of a report answer */
#define REPLIED_NONE 0xFFFFu /* replied_sender / replied_tag of requests the task starts */

/* Commands the error task sends. */
#define CMD_SHOW_BOX 819     /* to GUI_MBX */
#define CMD_STATUS_TEXT 1200 /* to IECSTATE_MBX */
#define CMD_API_NOTIFY 201   /* to API_MBX */

/* Message-box request (command 819), offsets from the start of the block. */
#define BOX_TYPE 8 /* 155 */
#define BOX_BUTTON_COUNT 10
#define BOX_FIRST_MARKED 12
#define BOX_SECOND_MARKED 14
#define BOX_FLAGS 16
#define BOX_TITLE_OFFSET 18
#define BOX_TEXT_OFFSET 20
/* 5 descriptors of 4 words: label offset, answer length, answer offset, 0 */
#define BOX_BUTTONS 22
#define BOX_BUTTON_DESC_SIZE 8
#define BOX_MAX_BUTTONS 5
#define BOX_RESERVED 62 /* u16, 0 */
#define BOX_VARIABLE_AREA 64
#define BOX_TYPE_VALUE 155
#define BOX_ANSWER_SIZE 22 /* embedded answer message of a button */
#define BOX_ANSWER_BLOCK_LENGTH 10
#define BOX_ANSWER_CODE 20 /* offset of the answer code in the embedded answer message */
#define BOX_FLAG_NO_BUTTONS 0x01
#define BOX_FLAG_PASS_THROUGH 0x02
#define BOX_FLAG_NOT_MODAL 0x04
#define BOX_FLAG_ALWAYS 0x08

/* Status text (command 1200): 53-byte segment, block_length 41. */
#define STATUS_SEGMENT_SIZE 53
#define STATUS_BLOCK_LENGTH 41
#define STATUS_WORD 8 /* 61 */
#define STATUS_WORD_VALUE 61
#define STATUS_TEXT 10
#define STATUS_TEXT_MAX 30

/* API notification (command 201): 36-byte segment, block_length 24. */
#define API_SEGMENT_SIZE 36
#define API_BLOCK_LENGTH 24
#define API_ERROR_TWO_PARAMS 25018
#define API_ERROR_ONE_PARAM 1378
#define API_WORD0 8     /* block offsets: data word 0 */
#define API_PARAM2 18   /* data word 5 */
#define API_PARAM1 20   /* data word 6 */
#define API_ERROR_NR 22 /* data word 7 */

/* Catalog names: counted strings, a length byte and then the characters. */
#define CATALOG_ERROR_MBX \
    "\x09"                \
    "ERROR_MBX"
#define CATALOG_ERROR_QMBX \
    "\x0a"                 \
    "ERROR_QMBX"
#define CATALOG_GUI_MBX \
    "\x07"              \
    "GUI_MBX"
#define CATALOG_IECSTATE_MBX \
    "\x0c"                   \
    "IECSTATE_MBX"
#define CATALOG_API_MBX \
    "\x07"              \
    "API_MBX"
#define CATALOG_ERROR_TASK \
    "\x0a"                 \
    "ERROR_TASK"

#ifdef __cplusplus
}
#endif

#endif
