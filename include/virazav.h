/*
 * virazav: client library for networked digital video recorders.
 *
 * Every function returns a 32-bit int: 0 for success, a non-negative value or
 * count as a result, a negative number as a failure code (the VIRAZAV_ERR_*
 * and VIRAZAV_WSA_* constants below; virazav_strerror gives a short text).
 *
 * Recorder commands run on one of 16 connection slots (0..15). The slot table
 * has no lock: an application keeps one caller per slot; different slots may
 * be used from different threads at once.
 *
 * Linux platform contract (read at each use, not once at load):
 *   VIRAZAV_DRIVE_<L>  (L = C, D, E, F) the folder that stands for log drive L;
 *                      unset means the drive does not exist.  Log files go to
 *                      <root>/unit_/log/vexul_<weekday>.log.
 * The library writes its own files relative to the current folder with '/'
 * separators ("img/list%x.txt").  Messages that a desktop build shows in a box
 * go to the message sink (virazav_set_message_handler).
 */
#ifndef VIRAZAV_H_
#define VIRAZAV_H_

#include <stdint.h>

#if defined(_WIN32)
#if defined(VIRAZAV_BUILDING)
#define VIRAZAV_API __declspec(dllexport)
#else
#define VIRAZAV_API __declspec(dllimport)
#endif
#if defined(_M_IX86) || defined(__i386__)
#define VIRAZAV_CALL __stdcall
#else
#define VIRAZAV_CALL
#endif
#else
#define VIRAZAV_API __attribute__((visibility("default")))
#define VIRAZAV_CALL
#endif

#ifdef __cplusplus
#define VIRAZAV_NOEXCEPT noexcept
extern "C" {
#else
#define VIRAZAV_NOEXCEPT
#endif

/* ---- Failure codes -------------------------------------------------------- */
enum {
  VIRAZAV_OK = 0,
  /* Generic failure: the reply of a command was not received (time-out or
     socket error, for the commands that do not return the receive code); the
     recorder is busy (greeting "Busy"); the login reply has fewer than 10
     tokens; the update file cannot be opened. */
  VIRAZAV_ERR_FAIL = -1,
  VIRAZAV_ERR_EMPTY_FILE = -2,        /* update file empty or unreadable */
  VIRAZAV_ERR_NET_STARTUP = -4,       /* the socket service could not start */
  VIRAZAV_ERR_NO_ADDRESS = -5,        /* address null or empty */
  VIRAZAV_ERR_BAD_ADDRESS = -6,       /* not a dotted IPv4 address, or longer than 19 */
  VIRAZAV_ERR_CONNECT = -7,           /* socket, bind or connect failed; connect
                                         pending or not finished in time */
  VIRAZAV_ERR_PASSWORD_TOO_LONG = -8, /* password longer than 63 characters */
  VIRAZAV_ERR_LINE_TOO_LONG = -9,     /* command line would exceed 2199 characters */
  VIRAZAV_ERR_LIST_TOO_LARGE = -11,   /* announced play list larger than 131072 bytes */
  VIRAZAV_ERR_LIST_FILE = -12,        /* img/list<n>.txt could not be written */
  VIRAZAV_ERR_NO_MEMORY = -13,        /* a large buffer could not be allocated */
  VIRAZAV_ERR_JPEG_RESET = -99,       /* kora_jpeg_swset with item 99 (by design) */
  VIRAZAV_ERR_LINK_NOT_OK = -102,     /* the recorder refused the link ID */
  VIRAZAV_ERR_SLOT_RANGE = -127,      /* slot outside 0..15 */
  VIRAZAV_ERR_LINK_ESTABLISHED = -201,/* command connection already established */
  VIRAZAV_ERR_NONBLOCKING = -234,     /* non-blocking mode could not be set */
  VIRAZAV_ERR_LINK_NO_ANSWER = -235,  /* no answer to the link ID within 10 s */
  VIRAZAV_ERR_NO_GREETING = -254,     /* no greeting within 10 s, or receive failed */
  VIRAZAV_ERR_NO_LOGIN_REPLY = -255,  /* no reply to the password within 10 s */
  VIRAZAV_ERR_PASSWORD_REFUSED = -256,/* the recorder refused the password */
  VIRAZAV_ERR_NOT_CONNECTED = -10200, /* slot not connected */
  VIRAZAV_ERR_ALREADY_CONNECTED = -10201, /* kora_connect on a connected slot */
  VIRAZAV_ERR_FOREIGN_ID = -10500,    /* reply token 0 is not the command ID */
  VIRAZAV_ERR_NOT_OK = -10501,        /* reply token 1 is not "OK" */

  /* Socket errors, returned negated (-10035 ...) where a Part returns the
     receive code. */
  VIRAZAV_WSA_TIMEOUT = -10035,       /* no data within the limit (would block) */
  VIRAZAV_WSA_ABORTED = -10053,
  VIRAZAV_WSA_RESET = -10054,         /* connection reset (or broken pipe) */
  VIRAZAV_WSA_NOT_CONNECTED = -10057,
  VIRAZAV_WSA_TIMED_OUT = -10060,
  VIRAZAV_WSA_REFUSED = -10061,
  VIRAZAV_WSA_UNREACHABLE = -10065,
  VIRAZAV_WSA_CLOSED = -10101,        /* the peer closed the connection */
  VIRAZAV_WSA_OTHER = -10004          /* any other socket failure */
};

/* ---- Library --------------------------------------------------------------- */

/* virazav_strerror: short English text for a result code.
 *   code: any value a function of this library returned.
 * Returns a static text, never NULL ("success" for 0 and "value" for other
 * non-negative results; "unknown code" for codes the library never returns).
 * Does not block; any thread. */
VIRAZAV_API const char* VIRAZAV_CALL virazav_strerror(int code) VIRAZAV_NOEXCEPT;

/* virazav_version: the library version as "major.minor.patch". Any thread. */
VIRAZAV_API const char* VIRAZAV_CALL virazav_version(void) VIRAZAV_NOEXCEPT;

/* virazav_set_message_handler: replaces the message sink.
 *   fn:   called with (text, caption, user) for every message the library
 *         shows; NULL restores the default, which writes one line
 *         "VIRAZAV: <caption>: <text>" to standard error.
 *   user: passed through to fn.
 * fn may be called from any library thread and must not call back into the
 * library. Returns 0. Does not block. */
typedef void (*virazav_message_fn)(const char* text, const char* caption, void* user);
VIRAZAV_API int VIRAZAV_CALL virazav_set_message_handler(virazav_message_fn fn, void* user) VIRAZAV_NOEXCEPT;

/* virazav_set_progress_handler: observer of long transfers (kora_update).
 *   fn:   called with (bytes done, bytes in all, user) on the calling thread of
 *         the transfer as it advances; NULL removes it.
 * Returns 0. */
typedef void (*virazav_progress_fn)(int64_t done, int64_t total, void* user);
VIRAZAV_API int VIRAZAV_CALL virazav_set_progress_handler(virazav_progress_fn fn, void* user) VIRAZAV_NOEXCEPT;

/* ---- Diagnostic log ---------------------------------------------------------- */

/* kora_log_sw: switches the daily diagnostic log on.
 *   drive: 'C'..'F' (67..70) makes that log drive current (its folder comes
 *          from VIRAZAV_DRIVE_<L> at each entry); any other value is ignored
 *          and does not switch logging off.
 * Returns drive. Logging switches itself off when the drive does not exist at
 * an entry. Entries: "/" "* <day>/<hh:mm:ss> *" "/  <name>(<0x%x,>...);".
 * Does not block; any thread. */
VIRAZAV_API int VIRAZAV_CALL kora_log_sw(int drive) VIRAZAV_NOEXCEPT;

/* ---- Connection ------------------------------------------------------------- */

/* kora_connect: logs in to a recorder and opens the slot's command connection.
 *   slot:     0..15; the login goes to port 5001 + 2 * slot.
 *   address:  dotted IPv4 text of at most 19 characters (no name lookup).
 *   password: at most 63 characters; NULL or "" is sent as 32 '0' digits.
 *   info:     caller buffer of at least 128 bytes, or NULL; receives the
 *             recorder's information text (greeting token 4, decoded from
 *             hexadecimal and zero-terminated).
 * Returns 0 when connected, or:
 *   -127 slot out of range; -10201 slot already connected (the connection is
 *   left working); -5 no address; -6 not an address or longer than 19;
 *   -8 password longer than 63; -4 socket service failed; -7 socket, bind or
 *   connect failed, an earlier connect on the slot still pending, the login
 *   connect not done within 200 ms, or the command connection not done within
 *   10 s; -234 non-blocking mode failed; -254 no greeting within 10 s;
 *   -1 greeting "Busy" or fewer than 10 login tokens; -255 no reply to the
 *   password within 10 s; -256 password refused; and the command connection's
 *   own codes: -235 no answer to the link ID, -102 link ID refused.
 * On every failure the slot stays closed and no socket stays open (a connect
 * still under way closes its own socket when it returns).  Greetings and
 * replies keep their first 20 tokens, each cut to 255 characters.
 * Blocks up to about 10 s per receive and 10 s for the command connection.
 * One caller per slot. */
VIRAZAV_API int VIRAZAV_CALL kora_connect(int slot, const char* address, const char* password,
                                          unsigned char* info) VIRAZAV_NOEXCEPT;

/* kora_unconnect: closes the slot's command connection.
 *   slot: 0..15; the other three arguments are not used.
 * Returns 0, -127 slot out of range, -10200 slot not connected.
 * Blocks 50 ms. */
VIRAZAV_API int VIRAZAV_CALL kora_unconnect(int slot, int unused1, int unused2, int unused3) VIRAZAV_NOEXCEPT;

/* ---- Commands: common contract ------------------------------------------------
 * Every command below sends one line "<ID> <Word> <fields>\n" (ID = "ID" and 8
 * upper-case hexadecimal digits of the millisecond clock) on the slot's command
 * connection, waits up to 10 s per receive try for one reply, splits it into at
 * most 20 tokens and checks token 0 (the ID) and token 1 ("OK").  Common
 * failure codes:
 *   -127 slot out of range; -10200 slot not connected; -1 no reply (time-out,
 *   socket error, or the peer closed); -10500 foreign ID; -10501 not "OK";
 *   -9 line too long (only kora_set_time can reach it).
 * A failure never closes the connection.  Values read from a reply token that
 * the reply did not carry are those of the slot's previous reply.  Returned
 * values are the token's hexadecimal value as a 32-bit int. */

/* kora_get_time: reads the recorder clock ("GetTime").
 *   date: out, at least 11 bytes (the token's length + 1 when it is not 8
 *         characters, at most 256); an 8-character date "YY/MM/DD" gets its
 *         century: "20" for years 00..79, "19" for 80..99.
 *   time: out, the time token ("hh:mm:ss"), at most 256 bytes.
 * Returns 0 or a common code; on failure nothing is written. */
VIRAZAV_API int VIRAZAV_CALL kora_get_time(int slot, char* date, char* time) VIRAZAV_NOEXCEPT;

/* kora_set_time: sets the recorder clock ("SetTime <date> <time>"); the texts
 * are sent as they are. Returns 0 or a common code. */
VIRAZAV_API int VIRAZAV_CALL kora_set_time(int slot, const char* date, const char* time) VIRAZAV_NOEXCEPT;

/* kora_cam_swget: camera switch item ("CamSwGet %06X"); 3 receive tries (up to
 * 30 s). Returns token 3 or a common code. */
VIRAZAV_API int VIRAZAV_CALL kora_cam_swget(int slot, int item) VIRAZAV_NOEXCEPT;

/* kora_cam_swset: sets a camera switch ("CamSwSet %02X %02X"); logged as
 * "kora_cam_swset"; 5 receive tries (up to 50 s). Returns token 3, or the
 * receive code itself when no reply came (-10035 time-out, -10101 closed,
 * -e socket error), or a common code. */
VIRAZAV_API int VIRAZAV_CALL kora_cam_swset(int slot, int a, int b) VIRAZAV_NOEXCEPT;

/* kora_hd_swget: disk switch item ("HDSwGet %06X"). Returns token 3. */
VIRAZAV_API int VIRAZAV_CALL kora_hd_swget(int slot, int item) VIRAZAV_NOEXCEPT;

/* kora_hd_swset: sets a disk switch ("HDSwSet %02X %02X"); logged; 5 tries;
 * returns token 3 or the receive code as kora_cam_swset. */
VIRAZAV_API int VIRAZAV_CALL kora_hd_swset(int slot, int a, int b) VIRAZAV_NOEXCEPT;

/* kora_jpeg_swget: JPEG switch item ("JpegSwGet %06X"). Returns token 3. */
VIRAZAV_API int VIRAZAV_CALL kora_jpeg_swget(int slot, int item) VIRAZAV_NOEXCEPT;

/* kora_jpeg_swset: sets a JPEG switch ("JpegSwSet %02X %04X"); logged.
 * Returns token 3.  With a = 99 the line is sent, no reply is read (a late
 * reply stays in the socket), and -99 is returned after 4 s. */
VIRAZAV_API int VIRAZAV_CALL kora_jpeg_swset(int slot, int a, int b) VIRAZAV_NOEXCEPT;

/* kora_combi_set: sets five combined words ("CombiSwSet %04X x5"). Returns
 * token 3. */
VIRAZAV_API int VIRAZAV_CALL kora_combi_set(int slot, int w1, int w2, int w3, int w4, int w5) VIRAZAV_NOEXCEPT;

/* kora_combi_get: reads combined words ("CombiSwGet %02X %04X %04X %04X %04X
 * 0000": *p1, *p2, *p3, *p4, w5, and 0000 in the sixth field).
 *   p1..p4: in/out; on success *p1 = token 5, *p2 = token 2, *p3 = token 3,
 *           *p4 = token 4; on failure untouched. NULL is sent as 0.
 * Returns 0 or a common code. */
VIRAZAV_API int VIRAZAV_CALL kora_combi_get(int slot, uint32_t* p1, uint32_t* p2, uint32_t* p3, uint32_t* p4,
                                            int w5) VIRAZAV_NOEXCEPT;

/* kora_rx_menu_data: reads a menu block ("SendMenu %02X", then "dummy\n", a
 * 1 s pause and one receive of up to 1 MiB within 180 s).
 *   data: out, or NULL; receives at most min(announced size, bytes of the one
 *         receive, 1048576) bytes, so a buffer of the announced size or of
 *         1048576 bytes is always enough.
 * Returns the announced size (token 2) even when the block did not come, or a
 * common code. Blocks at least 1 s, up to about 191 s. */
VIRAZAV_API int VIRAZAV_CALL kora_rx_menu_data(int slot, int menu, unsigned char* data) VIRAZAV_NOEXCEPT;

/* kora_rx_status: status word ("SendStatus %02X"). Returns token 3. */
VIRAZAV_API int VIRAZAV_CALL kora_rx_status(int slot, int item) VIRAZAV_NOEXCEPT;

/* kora_ctrl_play: controls the recorder's playback ("ControlPlay %02X").
 * Returns token 2. */
VIRAZAV_API int VIRAZAV_CALL kora_ctrl_play(int slot, int control) VIRAZAV_NOEXCEPT;

/* kora_play_search: searches the recorder's playback by time ("PlaySearch
 * %04d %02d %02d %02d %02d %02d 00", decimal; the seventh field is 00).
 * Returns token 2. */
VIRAZAV_API int VIRAZAV_CALL kora_play_search(int slot, int year, int f2, int f3, int f4, int f5,
                                              int f6) VIRAZAV_NOEXCEPT;

/* kora_rx_playlist: fetches a play list into img/list<n>.txt (n in lower-case
 * hexadecimal, relative to the current folder; the img folder must exist).
 * "GetPlayList %02X"; a size of 0 returns 0 at once and touches no file;
 * otherwise "JpegSendStart\n" is sent, the file is written "0\n", one receive
 * of up to 30 s takes the list, and the file is rewritten with exactly size
 * bytes (zeros where fewer arrived).
 * Returns the size, a common code, -11 when the announced size exceeds the
 * 131072-byte list buffer (refused before the trigger is sent), -12 when the
 * file could not be written (the list is still read from the connection),
 * -13 out of memory. Blocks up to 40 s. */
VIRAZAV_API int VIRAZAV_CALL kora_rx_playlist(int slot, int list) VIRAZAV_NOEXCEPT;

/* kora_set_playpointer: "SetPlayPointer %08X %08X". Returns token 2. */
VIRAZAV_API int VIRAZAV_CALL kora_set_playpointer(int slot, uint32_t a, uint32_t b) VIRAZAV_NOEXCEPT;

/* kora_rx_hddlist: "ReadHddList %08X %08X". Returns token 2. */
VIRAZAV_API int VIRAZAV_CALL kora_rx_hddlist(int slot, uint32_t a, uint32_t b) VIRAZAV_NOEXCEPT;

/* kora_re_boot: reboots the recorder ("ReBoot " and a newline). Returns token
 * 2. The recorder drops its connections afterwards; call kora_unconnect. */
VIRAZAV_API int VIRAZAV_CALL kora_re_boot(int slot) VIRAZAV_NOEXCEPT;

/* ---- Maintenance --------------------------------------------------------------- */

/* kora_mem_get: "MemGet %06X %06X". Returns token 3. */
VIRAZAV_API int VIRAZAV_CALL kora_mem_get(int slot, uint32_t a, uint32_t b) VIRAZAV_NOEXCEPT;
/* kora_mem_set: "MemSet %02X %04X %04X". Returns token 3. */
VIRAZAV_API int VIRAZAV_CALL kora_mem_set(int slot, uint32_t a, uint32_t b, uint32_t c) VIRAZAV_NOEXCEPT;
/* kora_i2c_get: "I2cGet %06X %04X". Returns token 3. */
VIRAZAV_API int VIRAZAV_CALL kora_i2c_get(int slot, uint32_t a, uint32_t b) VIRAZAV_NOEXCEPT;
/* kora_i2c_set: "I2cSet %04X %04X %04X". Returns token 3. */
VIRAZAV_API int VIRAZAV_CALL kora_i2c_set(int slot, uint32_t a, uint32_t b, uint32_t c) VIRAZAV_NOEXCEPT;
/* kora_nvc_get: "NvcGet %04X %04X %04X". Returns token 3. */
VIRAZAV_API int VIRAZAV_CALL kora_nvc_get(int slot, uint32_t a, uint32_t b, uint32_t c) VIRAZAV_NOEXCEPT;
/* kora_nvc_set: "NvcSet %04X %04X %04X %04X". Returns token 3. */
VIRAZAV_API int VIRAZAV_CALL kora_nvc_set(int slot, uint32_t a, uint32_t b, uint32_t c, uint32_t d) VIRAZAV_NOEXCEPT;

/* kora_update: uploads update data.
 *   file_name: the file; its first 8388608 bytes are sent (longer files are
 *              cut without notice).
 *   kind:      passed to the recorder.
 * Sends "SendUpdate %02X %08X" (kind, n + 1), awaits the reply, then sends the
 * n file bytes and one zero byte, waiting for the socket to take them (up to
 * 10 s per stall); the recorder's answer to the data is not read.  Reports
 * progress to the progress handler.
 * Returns n, or: -127 / -10200 (not passed to the error hook), -1 file cannot
 * be opened or no reply, -2 file empty or unreadable, -13 out of memory,
 * -10500 / -10501, and during the upload -10035 (a stall of 10 s), -10101
 * (peer closed) or another negated socket error.
 * Blocks for the file read and the whole upload. */
VIRAZAV_API int VIRAZAV_CALL kora_update(int slot, const char* file_name, int kind) VIRAZAV_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* VIRAZAV_H_ */
