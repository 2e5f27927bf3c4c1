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
 *   VIRAZAV_AUDIO      the audio output device: "none"; "null" (plays 16,000
 *                      bytes a second into nothing); "wav:<path>" (as null,
 *                      and appends what it plays to a PCM WAV file, 8000 Hz
 *                      mono 16-bit); "alsa" or "alsa:<pcm>" (ALSA's "default"
 *                      or the PCM named).  Unset or empty: ALSA's "default"
 *                      when it opens, else none; any other value: none.
 * The library writes its own files relative to the current folder with '/'
 * separators ("img/list%x.txt").  Messages that a desktop build shows in a box
 * go to the message sink (virazav_set_message_handler), trace lines to the
 * trace sink (virazav_set_trace_handler).
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
  VIRAZAV_WSA_OTHER = -10004,         /* any other socket failure */
  /* Download (kora_copy_fast, kora_copy_next): -5 there means a block could not
     be received or was refused (the same value as VIRAZAV_ERR_NO_ADDRESS of
     kora_connect; each function's doc block states which). */
  VIRAZAV_ERR_DOWNLOAD_BLOCK = -5,
  VIRAZAV_ERR_STREAM_FILE = -20,      /* the download's stream file could not be
                                         created, appended or written */
  VIRAZAV_ERR_NOT_SET_UP = -10,      /* I2BMP: decode_init has not run */
  /* Codes of later families are added above this line, each with its cause;
     a code never changes meaning (the disk side reuses -1..-7 per function,
     as each function's doc block states). */
};

/* ---- Library --------------------------------------------------------------- */

/* virazav_strerror: short English text for a result code.
 *   code: any value a function of this library returned.
 * Returns a static text, never NULL ("success" for 0 and "value" for other
 * non-negative results; "unknown code" for codes the library never returns).
 * Does not block; any thread. */
VIRAZAV_API const char* VIRAZAV_CALL virazav_strerror(int code) VIRAZAV_NOEXCEPT;

/* The families of the disk side's results (-1..-7), for virazav_disk_strerror:
 * the same number means different things in different families. */
enum {
  VIRAZAV_DISK_DRIVE = 1,       /* hdd_get, hdd_open, hdd_read, hdd_read_hdsw,
                                   read_start_end_sec */
  VIRAZAV_DISK_FEEDER = 2,      /* hdd_read_start, hdd_read_stop, file_read_stop */
  VIRAZAV_DISK_FILE_OPEN = 3,   /* playfile */
  VIRAZAV_DISK_FILE_SEARCH = 4, /* file_search */
  VIRAZAV_DISK_STILL = 5,       /* hdd_read_jpeg */
  VIRAZAV_DISK_STILL_FILE = 6,  /* hdd_write_jpeg_file */
  VIRAZAV_DISK_COPY = 7         /* hdd_copy_usb */
};

/* virazav_disk_strerror: short English text for a result of the disk side.
 *   family: one of VIRAZAV_DISK_*, the family of the function that returned
 *           the code.
 *   code:   that function's result.
 * Returns a static text, never NULL: "success" for 0, "value" for other
 * non-negative results, the text of the code in that family, the text of
 * virazav_strerror for -13 (out of memory), "unknown code" for a code the
 * family never returns and "unknown disk family" for a family outside 1..7.
 * Does not block; any thread. */
VIRAZAV_API const char* VIRAZAV_CALL virazav_disk_strerror(int family,
                                                           int code) VIRAZAV_NOEXCEPT;

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

/* virazav_set_trace_handler: replaces the trace sink.
 *   fn:   called with (line, user) for every complete trace line the library
 *         writes ("width=%d height=%d", "Cylinders = %d", "usb_rest_kbyte ...",
 *         the search and skip traces, decoder log lines when
 *         VIRAZAV_DECODER_LOG is set); line is zero-terminated and ends with
 *         its "\n", and is valid only during the call. A line the library
 *         traces in pieces arrives whole, once its "\n" is traced. NULL
 *         restores the default, which writes every line to standard output
 *         and flushes it.
 *   user: passed through to fn.
 * fn may be called from any library thread, from several at once, and must
 * not call back into the library. A line goes to the sink that is set when its
 * "\n" is traced. Returns 0. Does not block; any thread. */
typedef void (*virazav_trace_fn)(const char* line, void* user);
VIRAZAV_API int VIRAZAV_CALL virazav_set_trace_handler(virazav_trace_fn fn, void* user) VIRAZAV_NOEXCEPT;

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

/* ---- Live stream ------------------------------------------------------------------ */

/* A recorder sends its live stream as UDP datagrams (an 8-byte fragment header
 * and a payload each; docs/formats/live-stream.md) carrying blocks of four
 * types: MPEG-4 video of video set 0 and of video set 1, and IMA ADPCM sound of
 * live ring 0 and live ring 1.  A session has two receive threads: thread 0 on
 * the port base, thread 1 on the port base + 1 (both on port 50000 when the
 * base is 0 or less).  They reassemble the blocks and file each complete video
 * block in the slot of its set and channel, and each audio block in its ring,
 * where the selected channel's sound is decoded and queued for the output
 * device.  Typical use: decode_init, kora_connect, kora_udp_connect,
 * kora_udp_count (start), kora_udp_rx_start, then kora_udp_rx for pictures,
 * wave_play_ctrl for sound and kora_udp_rxstatus for status, then
 * kora_udp_count (stop) and kora_udp_close.  Channels are 0..15, sets 0 and 1.
 *
 * Guards beyond the recorder's layout: a fragment whose payload would not fit
 * at index x stride in its buffer (1 MiB staging, 512 KiB video slot, 256 KiB
 * audio slot), or a fragment 0 too short to hold the block type, is dropped
 * without being counted towards its block; a staged video block longer than
 * its slot (length field + 28 bytes), or a staged audio block longer than its
 * slot, is dropped whole; a display-channel block whose records (length field
 * + 72 bytes from offset 128) do not fit the display buffer is filed without a
 * group; the group walk stops before a record that lies outside the copy; the
 * audio walk stops at a sub-block beyond the slot.  A staged audio block is
 * copied as far as its fragments reached (its length field describes only its
 * first sub-block).  Nothing is read or written outside a buffer.
 *
 * Environment: VIRAZAV_LIVE_RCVBUF (read at each receive thread start) is the
 * receive buffer each socket asks for, in bytes (default 4194304).  The kernel
 * caps it at net.core.rmem_max unless the process may lift the cap; the size
 * granted is written to the thread's log. */

/* kora_udp_connect: opens the live session.
 *   address:  the multicast group to join, as dotted text (at most 15
 *             characters are kept; NULL or a unicast address joins nothing,
 *             and datagrams sent to the ports arrive anyway).
 *   port:     the port base.
 *   reserved: not used.
 * Allocates the slot, ring and display buffers (a failed allocation leaves that
 * buffer absent, and blocks for it are dropped) and starts the two receive
 * threads: thread 0 idles until kora_udp_rx_start, thread 1 receives at once.
 * Each thread writes its log to "img/log<t>.txt" when the folder "img" exists:
 * "thread_flg t t", "MULTI JOIN <address> <base + t>", "RCVBUF asked <n>
 * granted <m>", and "thread out t" at its end.  A second kora_udp_connect while
 * a session is open closes it first (as kora_udp_close does).
 * Returns 0. Blocks until both threads run. One caller at a time. */
VIRAZAV_API int VIRAZAV_CALL kora_udp_connect(const char* address, int port, int reserved) VIRAZAV_NOEXCEPT;

/* kora_udp_close: ends the live session.
 * Stops both receive threads (each within milliseconds of the request), waits
 * until the audio rings are empty (at most 10 s; a ring that does not empty is
 * given up, its playing buffers stopped), and frees every buffer of the
 * session.  The expected sender and the display channel survive it; the audio
 * output thread keeps running (wave_play_ctrl(0) stops it).
 * Returns 0. Blocks as described. One caller at a time. */
VIRAZAV_API int VIRAZAV_CALL kora_udp_close(void) VIRAZAV_NOEXCEPT;

/* kora_udp_rx_start: accepts datagrams from the recorder at a.b.c.d.
 *   a, b, c, d: the sender's address bytes, 0..255 each (a value outside makes
 *               an address no sender has, so nothing is accepted).
 * Sets the expected sender of both threads and lets thread 0 receive.  Before
 * the first call no datagram is accepted.  Called before kora_udp_connect it
 * only records the values (the connect idles thread 0 again).
 * Returns 0. Does not block. */
VIRAZAV_API int VIRAZAV_CALL kora_udp_rx_start(int a, int b, int c, int d) VIRAZAV_NOEXCEPT;

/* kora_udp_rx_stop: thread 0 stops reading (its socket keeps what arrives, up
 * to the receive buffer, for the next start); thread 1 goes on.
 * Returns 0. Does not block. */
VIRAZAV_API int VIRAZAV_CALL kora_udp_rx_stop(void) VIRAZAV_NOEXCEPT;

/* kora_udp_count: asks the recorder to start or stop sending.
 *   slot:  a connected slot (0..15).
 *   down:  0 sends "UDPup %02d %02d" (value, audio), otherwise "UDPdown ...".
 *   value, audio: passed to the recorder (two decimal digits at least).
 * On success the audio switch becomes `audio`: sound blocks are decoded and
 * queued only while it is not 0.
 * Returns the reply's third token read as hexadecimal, or -127, -10200, the
 * negative receive code (-10035 no reply within 10 s, -10101 the recorder
 * closed the connection), -10500, -10501.  Blocks up to 10 s. */
VIRAZAV_API int VIRAZAV_CALL kora_udp_count(int slot, int down, int value, int audio) VIRAZAV_NOEXCEPT;

/* kora_udp_dispmode: chooses the display channel ("UDPdispmode %02X %02X 00").
 *   slot:    a connected slot.
 *   display: 0 for none, else channel + 1: the channel whose video blocks of
 *            either set are also unpacked into a group of up to 20 pictures
 *            that kora_udp_rx plays at their own pace.
 *   mode:    passed to the recorder.
 * The display channel changes before anything is sent, so it changes even when
 * the command fails.  Returns as kora_udp_count. Blocks up to 10 s. */
VIRAZAV_API int VIRAZAV_CALL kora_udp_dispmode(int slot, int display, int mode) VIRAZAV_NOEXCEPT;

/* kora_udp_rx: the newest picture of a channel as a bitmap file.
 *   channel: 0..15 (anything else returns 0).
 *   set:     0, or any other value for set 1.
 * When the channel's slot holds a new block, decodes its first picture (which
 * must carry its sequence headers) and writes it to "img/serv<set><ch>.jpg"
 * (the set as passed, the channel in two digits; a 24-bit bitmap despite the
 * name, the bottom 8 rows left out), and returns 1 whether or not a picture
 * came out.  Otherwise, for the display channel, decodes in order every
 * picture of its group that is due (due times from the pictures' time stamps,
 * counted from when the group's first picture was shown), writes the last
 * one, and returns 1 when one was shown.  Returns 0 when nothing was new.
 * Needs decode_init for pictures (without it, blocks are consumed and no file
 * is written).  Call it often enough for the pace wanted; it has no timer.
 * Any thread; calls on several threads are serialised.  Blocks for a decode. */
VIRAZAV_API int VIRAZAV_CALL kora_udp_rx(int channel, int set) VIRAZAV_NOEXCEPT;

/* kora_udp_rxtime: the time of a set's last completed block.
 *   set: 0, or any other value for set 1.
 *   out: out, 6 bytes: the 32-bit time value, then the 16-bit time word, both
 *        little-endian as in the block header; NULL writes nothing.
 * Does not block. */
VIRAZAV_API void VIRAZAV_CALL kora_udp_rxtime(int set, unsigned char* out) VIRAZAV_NOEXCEPT;

/* kora_udp_rxstatus: the status of the last blocks.
 *   set = -1: clears both no-audio marks and writes nothing.
 *   set = 0:  *channel = the last video channel, *status and *statusWord those
 *             of set 0's last block, *ptz1..3 the last video channel's PTZ
 *             values.
 *   other:    *channel, and *status and *statusWord of set 1 (the PTZ outputs
 *             are not written).
 *   Then *status gets bit 0x10 while ring 0's no-audio mark is set, 0x20 for
 *   ring 1's.  Any output pointer may be NULL (nothing written there).
 * Values are read without a lock: two of them may come from different blocks.
 * Does not block. */
VIRAZAV_API void VIRAZAV_CALL kora_udp_rxstatus(int set, unsigned char* status, unsigned char* channel,
                                                uint16_t* statusWord, uint16_t* ptz1, uint16_t* ptz2,
                                                uint16_t* ptz3) VIRAZAV_NOEXCEPT;

/* kora_udp_ptzstatus: a channel's three PTZ values (from its last set-0 block),
 * then sets its third value to 0.
 *   channel: 0..15 (anything else writes nothing).  Outputs may be NULL.
 * Does not block. */
VIRAZAV_API void VIRAZAV_CALL kora_udp_ptzstatus(int channel, uint16_t* ptz1, uint16_t* ptz2,
                                                 uint16_t* ptz3) VIRAZAV_NOEXCEPT;

/* ---- Audio output ------------------------------------------------------------------- */

/* One audio output thread plays 8000 Hz mono 16-bit sound through the output
 * device that VIRAZAV_AUDIO names (read when the thread looks for a device):
 * "none", "null" (consumes 16,000 bytes a second), "wav:<path>" (as null, and
 * appends what it plays to that WAV file), "alsa" or "alsa:<pcm>"; unset: ALSA's
 * default device when it opens, else none.  Once a thread has found no device,
 * later threads do not look again.  The wave mode chooses what it plays: 1
 * live ring 0, 2 live ring 1, 3 the downloaded-data player's playback ring.  On
 * every change to 1 or 2 it first waits until three blocks are queued ahead
 * (at most 10 s, not at all while the audio switch is 0). */

/* wave_play_ctrl: sets the wave mode.
 *   mode: 0 stops the output thread; 1, 2, 3 as above; other values idle it.
 * From 0 to another mode: starts the thread and waits until it has its device
 * (at most 5 s; at once when there is none).  To 0: waits until the thread has
 * drained (at most 30 ms), stopped and closed the device, and set every ring
 * index to 0 (at most 5 s).  Between non-zero modes only the mode changes.
 * Returns mode. One caller at a time. */
VIRAZAV_API int VIRAZAV_CALL wave_play_ctrl(int mode) VIRAZAV_NOEXCEPT;

/* wave_play_ch: selects the audio channel of both live rings (ring 1's is
 * also the downloaded-data player's).
 *   kind: 0 or 1 (it does not choose a ring); channel: 0..3.  Other values
 *         change nothing.
 * Does not block. */
VIRAZAV_API void VIRAZAV_CALL wave_play_ch(int kind, int channel) VIRAZAV_NOEXCEPT;

/* kora_udp_wave: saves the newest sound block of a live ring to a file.
 *   reserved: not used.  set: 0 for ring 0, any other value for ring 1.
 *   path:     the file to create (truncated when it exists).
 * The block is the newest one still waiting to be heard (queued or playing),
 * searching back from the ring's write index; it qualifies when its 6 time
 * bytes (header bytes 8..13, compared byte by byte in stored order) are later
 * than those of the block last saved from ring 0, or differ from them for ring
 * 1.  Writes its length field's count of bytes from block offset 28 (at most
 * to the end of the slot) and remembers its time.  The block is read, not
 * taken: it plays as ever.
 * Returns the number of bytes written, or 0 (nothing qualifies, or the file
 * cannot be written; the time is remembered even then).  Blocks for the write. */
VIRAZAV_API int VIRAZAV_CALL kora_udp_wave(int reserved, int set, const char* path) VIRAZAV_NOEXCEPT;

/* virazav_live_statistics: counters of live reception since the process
 * started, for programs that show how reception goes.
 *   out: out; NULL returns -1.
 * Returns 0. Does not block; any thread. */
typedef struct virazav_live_stats {
  uint64_t datagrams;         /* datagrams read from the sockets */
  uint64_t bytes;             /* their bytes */
  uint64_t ignored;           /* 8 bytes or fewer, another sender, stream number above 1 */
  uint64_t late_fragments;    /* fragments of a block already abandoned */
  uint64_t dropped_fragments; /* fragments that would not fit their buffer */
  uint64_t blocks_completed;  /* blocks complete and filed */
  uint64_t video_blocks;      /* of them, video blocks */
  uint64_t audio_blocks;      /* of them, audio blocks */
  uint64_t blocks_abandoned;  /* blocks left unfinished when the next one began */
  uint64_t fragments_missing; /* fragments those blocks lacked */
  uint64_t blocks_dropped;    /* complete blocks with nowhere to go */
  uint64_t pictures;          /* kora_udp_rx calls that returned 1 */
} virazav_live_stats;
VIRAZAV_API int VIRAZAV_CALL virazav_live_statistics(virazav_live_stats* out) VIRAZAV_NOEXCEPT;

/* ---- Recorded data download ----------------------------------------------------- */
/* (section: download) */

/* Downloading recorded data: one kora_copy_fast, then kora_copy_next until it
 * returns 0 or a negative code.  The download writes an MPEG-2 program stream
 * (a 292-byte pack header and stream map, then the recorder's video and audio
 * packets chained by their prev_size fields) and, at the end, the frame index
 * "<indexDir>/.index" with one 12-byte entry per stored video block (its key
 * frame) and per stored audio block.  The download state (write offset,
 * prev_size chain, frame index) is process-wide: one download at a time, and
 * not while a downloaded data set is open.  Each step sends a command line,
 * waits up to 10 s for the reply, then receives the step's video block and
 * audio block after the line "JpegSendStart" (each receive waits up to 10 s
 * for data).  One caller per slot; the connection must not carry another
 * command while a step runs.
 *
 * Blocks are received whole into a 1 MiB block buffer.  A block the recorder
 * announces larger than 1048576 bytes, and a video block whose records run past
 * the bytes received (also when the recorder closed the connection within the
 * block), are outside the recorder's protocol: the step's remaining bytes are
 * taken off the connection unread, so that the slot stays usable, and the step
 * is refused with -5; nothing of a refused block is written.  An audio block
 * that arrives shorter than announced is refused with -5 in the same way.  When
 * the stream file cannot be created, appended or written the step's remaining
 * bytes are drained as well and -20 is returned, instead of losing the block
 * without notice. */

/* kora_copy_fast: starts a download and stores its first blocks.
 *   slot:     0..15, connected.
 *   path:     the stream file to create (truncated when it exists); not NULL
 *             or empty (-20 without sending anything).
 *   reserved: not used.
 *   value1..value12: passed to the recorder unchanged, each as at least two
 *             decimal digits ("SendDataF %02d ... %02d").  The simulated
 *             recorder reads them as: channel mask (0: all), start year, month,
 *             day, hour, minute, second, length in seconds, audio (1) or not
 *             (0), and three unused values.
 * Logs "kora_copy_fast" (slot, value1, value7, path), "kora_hd_save_1" (token
 * count, token 1) and "kora_hd_save_r" (audio bytes).  The reply carries the
 * video and audio block sizes (tokens 2 and 3) and the recording's start time
 * (token 4, the pack header's SCR).
 * Returns 1 when the first blocks were stored; 0 when the recorder announces
 * an empty video block (nothing to download: no file is created, no trigger is
 * sent); or -127 slot out of range, -10200 not connected, -1 no reply,
 * -10500 foreign reply ID, -10501 reply not "OK" (these before anything is
 * written); -5 a block could not be received or was refused (see above); -20
 * stream file not created or written; -13 out of memory.  A video block of 100
 * bytes or less stores nothing (the file then holds its 292 header bytes); an
 * audio block of 6 bytes or less stores nothing.
 * Blocks up to 10 s for the reply and up to 10 s per stalled receive. */
VIRAZAV_API int VIRAZAV_CALL kora_copy_fast(int slot, const char* path, int reserved, int value1,
                                            int value2, int value3, int value4, int value5,
                                            int value6, int value7, int value8, int value9,
                                            int value10, int value11, int value12) VIRAZAV_NOEXCEPT;

/* kora_copy_next: stores the next blocks of the download ("SendDataN").
 *   slot:     0..15, connected.
 *   path:     the stream file of kora_copy_fast (appended); not NULL or empty.
 *   count4:   out, 4 bytes, or NULL: the step's byte count (the video block's
 *             received bytes when more than 100, plus the audio block's),
 *             most significant byte first; untouched on failure.
 *   indexDir: the folder of the frame index "<indexDir>/.index", read when the
 *             recorder has no more; NULL or a folder where it cannot be created
 *             leaves the download without an index file (the player builds one).
 * Logs "kora_copy_next" (slot, path), "kora_hd_save_1" and "kora_copy_next_r"
 * (the step's byte count).
 * Returns 0 when the recorder has no more (both sizes 0) and the index file of
 * count x 12 bytes was written (or could not be); otherwise n >= 1: the whole
 * seconds from the download's first time stamp (that of its first stored video
 * block) to this step's video block, 1 when less than a second or when the
 * step stored no video block; or the failure codes of kora_copy_fast (-127,
 * -10200, -1, -10500, -10501, -5, -20, -13).  A refused step leaves the stream
 * file as it was before the refused block.
 * Blocks up to 10 s for the reply and up to 10 s per stalled receive. */
VIRAZAV_API int VIRAZAV_CALL kora_copy_next(int slot, const char* path, unsigned char* count4,
                                            const char* indexDir) VIRAZAV_NOEXCEPT;

/* ---- Decoder ----------------------------------------------------------------------- */
/* (section: decoder) */

/* decode_init: sets up the decoder and the downloaded-data layer; call it
 * before any live, download playback or splitter call.
 * Clears the 16 synced flags, allocates the 1 MiB frame buffer, sets up the
 * ADPCM decoder and (once until decode_deinit) the 16 channel decoder
 * instances at 344 x 344, then runs Mpeg4DLdata_init.
 * Returns 0; 1 when Mpeg4DLdata_init could not allocate its buffers;
 * -1 when the frame buffer could not be allocated (message "error: GlobalAlloc",
 * caption "decode_init error"; nothing else is set up).
 * Does not block. Call from one thread, not while a data set plays. */
VIRAZAV_API int VIRAZAV_CALL decode_init(void) VIRAZAV_NOEXCEPT;

/* decode_deinit: releases what decode_init set up: closes an open data set
 * (Mpeg4DLdata_deinit), frees the frame buffer, the ADPCM buffers, the channel
 * pictures and the decoder instances. A later decode_init starts over.
 * Returns 0. Blocks up to about 10 s for the playback thread to end.
 * Call from one thread. */
VIRAZAV_API int VIRAZAV_CALL decode_deinit(void) VIRAZAV_NOEXCEPT;

/* ---- Downloaded data set and playback -------------------------------------------- */
/* (section: dlplayer) */
/* Downloaded data set: one per process. A stream file (MPEG program stream of
 * MPEG-4 video E0+n and IMA ADPCM audio C0+n packets, docs/formats/
 * stream-file.md) is opened with its frame index "<indexDir>/.index"
 * (docs/formats/frame-index.md). Messages go to the message sink
 * (virazav_set_message_handler). Paths use '/'. */

/* Mpeg4DLdata_init: sets up the data-set layer (decode_init calls it).
 * Returns 0 (also when already set up), or 1 when its three 8192-byte audio
 * buffers could not be allocated (the layer stays uninitialised).
 * Does not block. */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_init(void) VIRAZAV_NOEXCEPT;

/* Mpeg4DLdata_deinit: closes an open stream file as Mpeg4DLdata_fileclose does
 * and releases the layer (decode_deinit calls it). Returns 0. Blocks up to
 * about 10 s for the playback thread to end. */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_deinit(void) VIRAZAV_NOEXCEPT;

/* Mpeg4DLdata_fileopen: opens a stream file and starts its playback thread.
 *   path:      in, the stream file; NULL refused.
 *   bitmapDir: in, folder of the "<ch>.bmp" pictures of Mpeg4DLdata_filelock
 *              (first 199 characters kept); NULL means the current folder.
 *   indexDir:  in, folder of ".index": an index file there is loaded (a
 *              download's count x 12 bytes or a full 6,912,000-byte file; entries
 *              are taken up to the first whose offset is 0, lies before the first
 *              packet or at or beyond the end of the stream file, or whose kind or
 *              channel is out of range); otherwise the first slice of the index is
 *              built from the stream file. NULL means the current folder.
 *   parts:     slices of the index build (below 1 counts as 1).
 * The base time is the pack header's SCR (0 without a pack header); the end
 * stamp is found through the index or the last 512 KiB of the file.
 * Returns the file size in bytes (low 32 bits), or 0 when: the layer is not
 * initialised (decode_init not run); a file is already open (it keeps
 * playing); the file cannot be opened, holds no packet, or its first packet's
 * size is below 27 bytes or above 1 MiB (message "error: file open error "
 * with the path as caption); or no thread could be started.
 * Blocks for the first index slice and until the thread runs (up to 10 s).
 * Packets whose size is below 27 bytes are not indexed (the search goes on
 * after their start code); a packet running past the end of the file ends the
 * build. One caller at a time. */
VIRAZAV_API unsigned VIRAZAV_CALL Mpeg4DLdata_fileopen(const char* path, const char* bitmapDir,
                                                       const char* indexDir, int parts) VIRAZAV_NOEXCEPT;

/* Mpeg4DLdata_fileclose: ends the playback thread (mode 8, then waits for mode
 * 9, at most about 10 s) and closes the stream file. The index and the masks
 * stay. Returns 0; does nothing when no file is open. */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_fileclose(void) VIRAZAV_NOEXCEPT;

/* Mpeg4DLdata_filelock: writes a channel's newest picture.
 *   channel: 0..15 (others return 0).
 * Returns 0 when the channel has no picture ready; otherwise writes
 * "<bitmapDir>/<channel>.bmp" (24-bit, 8 rows fewer than the picture; a file
 * that cannot be created is skipped) under the channel's lock and returns 1.
 * The ready flag stays set. Any thread. */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_filelock(int channel) VIRAZAV_NOEXCEPT;

/* Mpeg4DLdata_fileunlock: clears a channel's picture-ready flag (the picture
 * was taken). Returns the previous flag (0 for a channel outside 0..15). */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_fileunlock(int channel) VIRAZAV_NOEXCEPT;

/* Mpeg4DLdata_frame_index: builds the next slice of the frame index.
 *   indexDir: in, folder of ".index" (written when the build completes).
 *   parts:    0 returns the index-ready flag (0 or 1) and builds nothing.
 * Returns parts when the index is (or becomes) complete, else the progress
 * (bytes indexed / (file size / parts)), below parts; 0 when no file is open
 * and the index is not complete. Blocks for one slice. */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_frame_index(const char* indexDir, int parts) VIRAZAV_NOEXCEPT;

/* Mpeg4DLdata_get_enable_ch: the channels of the data set.
 *   videoMask: out, bit n set when a key frame of video channel n is indexed.
 *   audioMask: out, bit n set when an audio packet of channel n was indexed
 *              while the audio output device was open (0 otherwise).
 *   Either may be NULL.
 * When the index is not complete it first shows "frame index is none." (a
 * caption of 50 blanks) and builds the whole index (blocking for it).
 * Returns 0 (the result carries no meaning). */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_get_enable_ch(unsigned* videoMask, unsigned* audioMask,
                                                       const char* indexDir, int parts) VIRAZAV_NOEXCEPT;

/* Mpeg4DLdata_set_disptype: selects the display channel (0..15; any other
 * value shows all channels). Play goes on between two cycles of the playback
 * thread; from a single channel it goes on with the new display channel's key
 * frame at or after the position. Returns 0. Takes the player lock (waiting as
 * Mpeg4DLdata_set_m_nPlayMode does). */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_set_disptype(int channel) VIRAZAV_NOEXCEPT;

/* Mpeg4DLdata_search: positions playback at a wall-clock time.
 *   packedTime: seconds since 2000-01-01 00:00:00 counting every month as 31
 *               days, taken as local time.
 *   parts:      > 0 asks for the position as a fraction of parts; <= 0 for the
 *               byte offset.
 * Before the recording: 0 (parts > 0) or the first packet's offset. After its
 * end: parts, or the last key frame's offset. Otherwise the position becomes
 * the key frame (of the display channel) found from a constant-byte-rate
 * estimate, and the result is its offset or its fraction (0..parts); when no
 * key frame can be read there, 0 or the first packet's offset.
 * Returns 0 when no file is open. Takes the player lock. */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_search(int packedTime, int parts) VIRAZAV_NOEXCEPT;

/* ---- Playback of the open data set --------------------------------------------------- */
/* The playback thread that Mpeg4DLdata_fileopen starts plays the stream file by
 * the play mode:
 *   0  normal play forward: every picture of the display channel, each at its
 *      time stamp's distance from the last key frame shown; in the all-channels
 *      view (Mpeg4DLdata_set_disptype outside 0..15) the key frames of every
 *      channel, paced by the master channel's;
 *   1  stopped;   2  idle (set by the thread when it starts);
 *   3  backward on key frames, at their time stamps' pace;
 *   4  fast backward (twice the pace);
 *   5  one key frame backward, then 1;   6  one key frame forward, then 1;
 *   7  fast forward on key frames (twice the pace);
 *   8  asks the thread to end;   9  no thread runs.
 * Pictures are decoded into the channels' pictures and marked ready
 * (Mpeg4DLdata_filelock writes them out). Forward play that reaches the end of
 * the file, and backward play that reaches its start, shows the last (first)
 * key frame and falls back to 1; normal play first shows the pictures after
 * the last key frame at their times. A change of direction goes on from the
 * key frame next to the last one shown, so that mode 5 after steps of mode 6
 * shows the key frame before the last one shown; mode 0 after backward play
 * goes on from the last key frame shown.  Play that falls behind the
 * clock skips through the frame index to the key frame due by now (in the
 * all-channels view every channel passed over is shown once first); a key
 * frame more than one second late is not decoded.
 * Sound: with the output device open and playing the playback ring
 * (wave_play_ctrl(3)) before the file is opened (so that the index marks the
 * audio channels), normal play decodes the packets of the selected audio
 * channel (wave_play_ch) into the ring, and that sound sets the pace of the
 * pictures; a buffer the device does not free within 5 s is dropped. */

/* Mpeg4DLdata_set_m_nPlayMode: sets the play mode, and the direction it implies
 * (backward for 3, 4, 5; forward for 0, 6, 7), between two cycles of the
 * playback thread, which it wakes.
 *   mode: 0..8 as above.
 * Returns 0 when the mode is set or was the mode already; -1 when the layer is
 * not initialised, the mode lies outside 0..8, or no playback thread runs or it
 * is ending (the mode is 9 or 8); nothing changes then.
 * Takes the player lock: the thread lets the call in at the end of its cycle
 * and cuts a wait for a picture's time or a sound buffer short, so the call
 * waits for one picture's decoding at the most. Any thread. */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_set_m_nPlayMode(int mode) VIRAZAV_NOEXCEPT;

/* Mpeg4DLdata_get_m_nPlayMode: the current play mode, 0..9 (9 when no file is
 * open, before decode_init too). Does not block; any thread. */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_get_m_nPlayMode(void) VIRAZAV_NOEXCEPT;

/* Mpeg4DLdata_get_PlayPos: the play position.
 *   parts: 0 for the index cursor: the number of the frame index entry play
 *          stands at (the entry of the last indexed packet read).
 *          Above 0: the position as a fraction of the file in parts: 0 at the
 *          first packet, 1 just after it, parts at the end of the file or on
 *          the index's last entry, else (offset - first packet's offset) /
 *          (file size / parts), at most parts.  When parts exceeds the file
 *          size a slice is one byte: the result counts bytes from the first
 *          packet (at most parts).
 * Returns the position; -1 when the layer is not initialised, parts is
 * negative, or (parts above 0) no file has been opened since decode_init or
 * the position lies before the first packet.
 * Does not block (it reads the position without the player lock); any thread. */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_get_PlayPos(int parts) VIRAZAV_NOEXCEPT;

/* Mpeg4DLdata_set_PlayPos: moves the play position.
 *   parts:    0: position is a frame index entry number; the cursor becomes
 *             it and the position that entry's offset (an entry number outside
 *             0..576,000 counts as offset 0).
 *             Above 0: position is a fraction of the file in parts: position
 *             >= parts is the end of the file, position <= 0 the first packet,
 *             else (file size / parts) x position bytes (not before the first
 *             packet).  When parts exceeds the file size a slice is one byte:
 *             position counts bytes.
 * Play then goes to the key frame of the display channel (of any channel in
 * the all-channels view) at or after that place, through the index.  The 16
 * channels must see a key frame again before their other pictures are shown,
 * the next picture is shown without waiting, and a packet the thread held
 * back is given up.  The play mode stays as it was.
 * Returns the channel (0..15) of the packet reached (at the end of the file:
 * of the index's last entry, which may be an audio packet); -1 when the layer
 * is not initialised, parts is negative, (parts above 0) no file is open or the
 * position lies before the first packet, or no packet could be read where the
 * index led (no file open, an empty index).
 * Takes the player lock as Mpeg4DLdata_set_m_nPlayMode does. Any thread. */
VIRAZAV_API int VIRAZAV_CALL Mpeg4DLdata_set_PlayPos(int parts, int position) VIRAZAV_NOEXCEPT;

/* ---- Single-file play, frame bitmaps and times ----------------------------------- */
/* (section: splitters) */
/* Not while a data set is open: they share its frame buffer and packet state.
 * Paths use '/'; folder arguments may end in '/' or not. */

/* Mpeg4Play: splits a stream file from its start.
 *   source:    in, the stream file.
 *   directory: in, output folder: "<dir>/<ch>_<tick>.dat" holds each video
 *              packet that carries a sequence header (tick = 1/30 s since the
 *              first packet), "<dir>/wav<ch>.wav" the decoded audio of channels
 *              0..3 (8000 Hz mono 16-bit PCM). Files that cannot be created are
 *              skipped.
 *   limit:     > 0 stops after the first packet beyond this tick.
 * Returns 0 when it stopped at the limit; otherwise the last tick reached,
 * lowered to a smaller non-zero last audio tick of any channel; -1 when
 * decode_init has not run (message "error: not initialized ") or the source
 * cannot be opened (message "error: file open error "), both with the source
 * as caption. A packet whose size is below 27 bytes or above 1 MiB ends the
 * split there. Blocks for the whole split. */
VIRAZAV_API int VIRAZAV_CALL Mpeg4Play(const char* source, const char* directory, int limit) VIRAZAV_NOEXCEPT;

/* Mpeg4Play2: continues the split where the last Mpeg4Play or Mpeg4Play2
 * stopped; ticks keep counting from Mpeg4Play's first packet, the limit counts
 * from this call's first packet. WAV files are continued (a channel without
 * one gets no audio). Results as Mpeg4Play. */
VIRAZAV_API int VIRAZAV_CALL Mpeg4Play2(const char* source, const char* directory, int limit) VIRAZAV_NOEXCEPT;

/* I2BMP: decodes one picture into a bitmap.
 *   source:     in, opened itself when tick == endTick.
 *   bitmapPath: in, the bitmap written (8 rows fewer than the picture).
 *   directory:  in, folder of the data files "<ch>_<tick>.dat".
 *   channel:    the channel of the data files looked for.
 *   tick, endTick: the data files tried are tick, tick +/- 1, ... up to but not
 *              including endTick; the first one that exists is used.
 * Returns tick when a picture was decoded and written; -10
 * (VIRAZAV_ERR_NOT_SET_UP) when decode_init has not run (message "error: not
 * initialized ", directory as caption); -1 when no file was found; otherwise
 * the header bits found in the first packet (1 time stamp, 2 sequence header,
 * 4 group header, 8 picture header) or 0 when it has no packet. */
VIRAZAV_API int VIRAZAV_CALL I2BMP(const char* source, const char* bitmapPath, const char* directory,
                                   int channel, int tick, int endTick) VIRAZAV_NOEXCEPT;

/* get_bmpsize: reads a bitmap file's width and height.
 *   width, height: out.
 * Returns 0; -1 when an argument is NULL, the file cannot be opened or is
 * shorter than its two headers (54 bytes). */
VIRAZAV_API int VIRAZAV_CALL get_bmpsize(const char* path, unsigned* width, unsigned* height) VIRAZAV_NOEXCEPT;

/* make_base_tm: makes a packed recorder time (as Mpeg4DLdata_search takes it)
 * the data set's base time. Returns it in seconds of local time (mktime scale,
 * daylight-saving flag 0). */
VIRAZAV_API int VIRAZAV_CALL make_base_tm(int packedTime) VIRAZAV_NOEXCEPT;

/* calc_time: the current play time as calendar fields.
 *   reserved: not used.
 *   record:   out, bytes 8..13 receive year - 2000, month, day, hours,
 *             minutes, seconds (local time); bytes 0..7 are not touched. NULL
 *             is ignored.
 * Returns 0. */
VIRAZAV_API int VIRAZAV_CALL calc_time(int reserved, unsigned char* record) VIRAZAV_NOEXCEPT;

/* ---- Recorder disk access, record index and walks --------------------------------- */
/* (section: recdisk) */
/* A recorder disk attached to this computer is read as a raw drive (Linux: the
 * path in VIRAZAV_PHYSICALDRIVE<N>, N = 0..9, read at each open or probe, else
 * /dev/sd + ('a' + N); a regular file is a disk image of 512-byte sectors, 255
 * heads, 63 sectors a track).  The library holds one open drive and one record
 * index with one play position; none of it is locked: one caller at a time, and
 * not while a feeder or a copy uses the disk.  Disk results are small negative
 * numbers whose meaning each function states; they are not VIRAZAV_ERR_* codes.
 * Sequence: hdd_get (optional probe), hdd_open, first_section_play (required
 * once after hdd_open), search_play or read_data ..., hdd_close.
 * docs/formats/record-index.md describes the disk layout and every guard. */

/* hdd_get: probes drive `drive` (0..9) with a handle of its own, closed again;
 * an open drive stays open and usable.
 * Returns the cylinder count (positive) of a fixed disk in the recorder's
 * geometry, or: -1 the drive cannot be opened (absent, number outside 0..9, or
 * held by an open of its own, including this library's hdd_open); -2 the
 * geometry cannot be read; -3 removable media or not a fixed disk; -4 not 512
 * bytes x 255 heads x 63 sectors.  Writes "Cylinders = %d\n" to standard
 * output on success.  Blocks for one open and one geometry request. */
VIRAZAV_API int VIRAZAV_CALL hdd_get(int drive) VIRAZAV_NOEXCEPT;

/* hdd_open: opens drive `drive` (0..9) read-only and exclusively as the open
 * drive.  Returns 0, or -1 when it cannot be opened (the drive stays closed).
 * Close an open drive first; an earlier handle is released and replaced. */
VIRAZAV_API int VIRAZAV_CALL hdd_open(int drive) VIRAZAV_NOEXCEPT;

/* hdd_close: closes the open drive; later reads fail with -1. Returns 0. */
VIRAZAV_API int VIRAZAV_CALL hdd_close(void) VIRAZAV_NOEXCEPT;

/* hdd_read: reads `count` sectors from `sector` in one request.
 *   buffer: out, count x 512 bytes (the byte count is computed in 32 bits).
 * Returns 0; -1 no drive open or a negative sector; -2 the read failed, the
 * disk ends before the last sector, or buffer is NULL.  After -2 the buffer may
 * hold part of the data. */
VIRAZAV_API int VIRAZAV_CALL hdd_read(int sector, uint32_t count, void* buffer) VIRAZAV_NOEXCEPT;

/* hdd_read_hdsw: sector 0 as 128 32-bit values, each made of two
 * little-endian 16-bit words, high half first.
 *   values: out, 128 values (512 bytes); NULL gives -2.
 * Returns 0, -1 (no drive open), -2 (read failed); values untouched on failure. */
VIRAZAV_API int VIRAZAV_CALL hdd_read_hdsw(uint32_t* values) VIRAZAV_NOEXCEPT;

/* get_start_time: copies sector 0 unconverted.
 *   words: out, 512 bytes (128 32-bit words); NULL is ignored.
 * Returns 0 always; a sector that cannot be read is delivered as zeros. */
VIRAZAV_API int VIRAZAV_CALL get_start_time(uint32_t* words) VIRAZAV_NOEXCEPT;

/* first_section_play: lays out the index copies, loads the record index from
 * the newest consistent copy and places the position at the oldest recorded
 * segment, read cursor 0.  Required once after hdd_open.  Returns 0 (a drive
 * that cannot be read leaves an empty index).  Reads about 540 KB. */
VIRAZAV_API int VIRAZAV_CALL first_section_play(void) VIRAZAV_NOEXCEPT;

/* read_data: delivers the packets of the next chunk of the current segment and
 * moves the read cursor on, walking to the next playable segment when the
 * segment is used up.
 *   buffer: out, 0x200000 bytes (2 MiB); length: out, the bytes delivered
 *           (0 unless the result is 0 or 1).  Neither may be NULL (-1).
 * Returns 0 packets delivered; 1 the chunk ends the recorded data (the packets
 * before its end marker are delivered); 100 no further segment (position
 * unchanged); -1 chunk not delivered: larger than 0x200000, unreadable, a
 * packet with an unknown marker, or a packet running past the chunk (the
 * packets before it are delivered), or a segment that lists no chunks.
 * Blocks for one chunk read (at most 2 MiB) and, at a segment end, the walk's
 * table reads. */
VIRAZAV_API int VIRAZAV_CALL read_data(uint8_t* buffer, uint32_t* length) VIRAZAV_NOEXCEPT;

/* ---- Disk player: index-only exports ----------------------------------------------- */
/* (section: player) */
/* These read the record index that first_section_play loaded; same thread rule
 * as the disk functions above.  Time numbers are second + 60 x (minute + 60 x
 * (hour + 24 x (day + 31 x (month + 12 x year) - 32))), year since 2000. */

/* search_play: places playback at time number t.
 * Returns 1 when t was found (position at its chunk) or t lies before every
 * recording under the newest clock setting (position at that setting's start);
 * 2 otherwise, the position at the last chunk of the newest segment.  The read
 * cursor follows the position.  Writes the search's trace lines ("time
 * attribute=%d\n", ...) to standard output.  Blocks for up to 100 index loads. */
VIRAZAV_API int VIRAZAV_CALL search_play(int t) VIRAZAV_NOEXCEPT;

/* read_start_end_sec: the recorded range.
 *   start, end: out (NULL skipped), the time numbers of the oldest block's first
 *   segment and the newest block's last segment.
 * Reloads the index keeping the position.  Returns 0, or -1 when no drive is
 * open or the index cannot be loaded (outputs untouched). */
VIRAZAV_API int VIRAZAV_CALL read_start_end_sec(uint32_t* start, uint32_t* end) VIRAZAV_NOEXCEPT;

/* get_rec_list: count and oldest index of the recording list (16-bit each;
 * NULL skipped).  A count above 1000 on the disk reads as 1000, an oldest index
 * is taken modulo 1000.  Entries are (oldest + k) % 1000 for k < count.
 * Returns 0. */
VIRAZAV_API int VIRAZAV_CALL get_rec_list(uint16_t* count, uint16_t* oldest) VIRAZAV_NOEXCEPT;

/* get_list_start_end_sec: start and end time numbers and kind of recording
 * `index` (0..999); NULL outputs skipped.  Returns 0, or -1 for an index
 * outside 0..999 (outputs untouched). */
VIRAZAV_API int VIRAZAV_CALL get_list_start_end_sec(int index, uint32_t* start, uint32_t* end,
                                                    uint32_t* kind) VIRAZAV_NOEXCEPT;

/* get_alarm_list: count and oldest index of the alarm list (8-bit each; NULL
 * skipped; a count above 50 reads as 50, the index modulo 50).  Returns 0. */
VIRAZAV_API int VIRAZAV_CALL get_alarm_list(uint8_t* count, uint8_t* oldest) VIRAZAV_NOEXCEPT;

/* get_alarm_info: start and end time numbers of alarm `index` (0..49); NULL
 * outputs skipped.  Returns 0, or -1 for an index outside 0..49. */
VIRAZAV_API int VIRAZAV_CALL get_alarm_info(int index, uint32_t* start, uint32_t* end) VIRAZAV_NOEXCEPT;

/* skip_foward: moves the position to the start of the next recording (and once
 * or twice more over recordings the recorder flagged to be skipped again);
 * stays at the newest one's start when there is none.  Returns 0.  Writes the
 * skip's trace lines to standard output. */
VIRAZAV_API int VIRAZAV_CALL skip_foward(void) VIRAZAV_NOEXCEPT;

/* skip_back: moves the position to the start of the current recording, or from
 * its start to the start of the previous one.  Returns 0. */
VIRAZAV_API int VIRAZAV_CALL skip_back(void) VIRAZAV_NOEXCEPT;

/* ---- Disk and file player: feeders, play controls, single-file view ------------------ */
/* (section: player) */
/* The player decodes and shows what the feeders hand it.  Two feeder threads
 * read recorded blocks and offer them to the player, one from the recorder disk
 * (its position is the record index's, placed by search_play and the skips),
 * one from a data file and its index file (the pair a copy writes).  Each
 * feeder has a play mode: 0 stop, 1 play, 2 forward, 3 back, 4 one frame
 * forward, 5 one frame back; the controls below set it, the feeder sets it to 0
 * after a single frame, at the end of the data and when a read fails.  Every
 * write of a mode, of the speed the two feeders share and of a stop request
 * holds the named lock "PLAYMODE" (shared with other processes that load the
 * library) and waits for it without a time limit; the controls return as soon
 * as the word is written.  A block the player refuses is offered again, every
 * 1 ms (disk) or 5 ms (file), before anything new is read.  The controls may
 * be called from any thread; the disk feeder reads the record index without a
 * lock, so do not search, skip or reload while the disk mode is not 0.
 * Sequence: Zel_play_open, hdd_open, first_section_play, search_play,
 * hdd_read_start, the controls and snapshots, hdd_read_stop, play_end. */

/* Zel_play_open: starts the player; again resets it.  a is not passed on (the
 * player is opened with 0); b, c and d are passed on unchanged (the library's
 * own player does not use them).  Returns the player's result (0 started).
 * Call it before any feeding: until then the player takes no block.  After it:
 * four pictures (layout 4) of channels 1..4 showing recorder channels 0..3,
 * sound of channel 1, not muted, decoder status 0.  The player decodes on a
 * thread of its own: in normal play every picture at the time its stamp says,
 * with the sound channel's sound on the audio device (VIRAZAV_AUDIO); in fast,
 * reverse and single-frame play the key pictures of each block at once, with a
 * pause of 500 ms / speed code between blocks (docs/player.md). */
VIRAZAV_API int VIRAZAV_CALL Zel_play_open(int a, int b, int c, int d) VIRAZAV_NOEXCEPT;

/* play_end: stops the player's decoding (drops what it queued, silence); the
 * pictures stay for the snapshots.  The player takes no block until the next
 * Zel_play_open.  Returns 0. */
VIRAZAV_API int VIRAZAV_CALL play_end(void) VIRAZAV_NOEXCEPT;

/* hdd_read_start: starts the disk feeder (mode as set, normally 0) with a
 * 2 MiB block buffer.  In each mode the feeder reads and offers as follows
 * (s: the speed last set; "special" 1 is fast, reverse and single-frame play):
 *   1          every chunk forwards             special 0, speed code 0
 *   2, s < 4   every chunk forwards             special 1, code s
 *   2, s = 4   every second chunk forwards      special 1, code 3
 *   2, s > 4   every fourth chunk forwards      special 1, code s - 2
 *   3          as 2, backwards
 *   4          the next chunk, then mode 0      special 1, code 0
 *   5          the chunk before, then mode 0    special 1, code s
 * It calls the player's sound change whenever the mode differs from the mode of
 * its previous block.  A refused block is offered again with the arguments of
 * the mode set by then, and dropped when the mode goes to 0.  A read that does
 * not deliver a whole chunk (end of the recording, no further segment, a
 * damaged or oversize chunk) offers nothing and sets the mode to 0; the feeder
 * keeps running.  Returns 0; -1 it is running already (or no thread could be
 * started); -13 the buffer cannot be allocated.  Does not block. */
VIRAZAV_API int VIRAZAV_CALL hdd_read_start(void) VIRAZAV_NOEXCEPT;

/* hdd_read_stop: asks the disk feeder to end; it drops a refused block, sets
 * the disk mode to 0 and ends within about 5 ms (or after the block it is
 * reading).  Does not wait.  Returns 0, or -1 when it is not running. */
VIRAZAV_API int VIRAZAV_CALL hdd_read_stop(void) VIRAZAV_NOEXCEPT;

/* hdd_play_start, hdd_play_stop, hdd_one_play, hdd_one_back: set the disk
 * mode to 1, 0, 4 and 5.  hdd_play_forward and hdd_play_back: mode 2 and 3,
 * and the speed (any value; see hdd_read_start for what it selects).  The
 * speed is shared with the file feeder.  Each returns 0. */
VIRAZAV_API int VIRAZAV_CALL hdd_play_start(void) VIRAZAV_NOEXCEPT;
VIRAZAV_API int VIRAZAV_CALL hdd_play_stop(void) VIRAZAV_NOEXCEPT;
VIRAZAV_API int VIRAZAV_CALL hdd_play_forward(int speed) VIRAZAV_NOEXCEPT;
VIRAZAV_API int VIRAZAV_CALL hdd_play_back(int speed) VIRAZAV_NOEXCEPT;
VIRAZAV_API int VIRAZAV_CALL hdd_one_play(void) VIRAZAV_NOEXCEPT;
VIRAZAV_API int VIRAZAV_CALL hdd_one_back(void) VIRAZAV_NOEXCEPT;

/* playfile: plays a data file along its index file (24-byte records: u64 LE
 * offset of the chunk, RecTime at byte 8; chunk k runs to the next record's
 * offset, the last one to the end of the data file).
 *   dataPath, indexPath: the two files, opened read-only; reserved: not used.
 * Ends a running file feeder first, waiting for it at most 5 s; stops disk
 * playback (5 ms); opens both files and starts the file feeder in mode 0 with
 * a 2 MiB block buffer.  The feeder reads records 0 and 1; a short record 0
 * ends it at once; with more than one record it keeps records 0 and the final
 * one as the range (file_read_start_end_sec, read before playfile returns);
 * with a single record the range of the previous file stays.  Modes: 1 offers
 * chunk after chunk (special 0, code 0); 2 the same with special 1 and the
 * speed as code (every chunk, whatever the speed); 3 the chunks before the current one, backwards (special 1, the
 * speed); 4 one chunk forwards and 5 one chunk backwards (special 1, code 0),
 * then mode 0.  After the last chunk the mode goes to 0 and the position stays
 * at the last chunk (play again offers it again); back play that reaches the
 * first chunk offers it, sets mode 0 and goes back to record 0.  A chunk that
 * cannot be offered whole is passed over without an offer: an empty one, one
 * whose record lies before the previous one, one longer than 0x200000 bytes,
 * and one of which no byte can be read (a record pointing past the data); a
 * chunk cut short by the end of the data file is offered with the bytes there
 * are.  A refused block is offered again every 5 ms with the arguments of the
 * last play, forward or back mode (special 1, code 0 when single frame forward
 * came from stop), whatever the mode is by then and without a sound change;
 * once taken the position moves the way the block was read.  After a stop
 * request a refused block is offered for 1 s more, then dropped.
 * Returns 0; -1 a path NULL or a file that cannot be opened (nothing changes
 * but the old feeder's end); -3 the running feeder did not end within 5 s
 * (nothing opened); -13 the buffer cannot be allocated. */
VIRAZAV_API int VIRAZAV_CALL playfile(const char* dataPath, const char* indexPath,
                                      int reserved) VIRAZAV_NOEXCEPT;

/* file_read_stop: asks the file feeder to end (mode 0, files closed).  Does not
 * wait; the feeder ends within about 5 ms, or after a refused block was taken
 * or 1 s passed.  Returns 0, or -1 when it is not running. */
VIRAZAV_API int VIRAZAV_CALL file_read_stop(void) VIRAZAV_NOEXCEPT;

/* file_play_start, file_play_stop, file_play_forward, file_play_back,
 * file_one_play, file_one_back: the file mode and speed, as the hdd_ controls.
 * Each returns 0. */
VIRAZAV_API int VIRAZAV_CALL file_play_start(void) VIRAZAV_NOEXCEPT;
VIRAZAV_API int VIRAZAV_CALL file_play_stop(void) VIRAZAV_NOEXCEPT;
VIRAZAV_API int VIRAZAV_CALL file_play_forward(int speed) VIRAZAV_NOEXCEPT;
VIRAZAV_API int VIRAZAV_CALL file_play_back(int speed) VIRAZAV_NOEXCEPT;
VIRAZAV_API int VIRAZAV_CALL file_one_play(void) VIRAZAV_NOEXCEPT;
VIRAZAV_API int VIRAZAV_CALL file_one_back(void) VIRAZAV_NOEXCEPT;

/* file_search: places the file feeder at time number t.  Stops file play,
 * waits until the feeder is idle (mode 0, no refused block, no block in hand;
 * at most 5 s) and 50 ms more, then takes record k = n x (t - start) / (end -
 * start), truncated, where start and end are the range of file_read_start_end_sec
 * and n is the number of records less one (record 0 when start equals end).
 * The search assumes that time grows evenly through the file.  Play resumes at
 * record k with the next control.  Returns 0; -1 the file feeder is not
 * running; -2 t outside start..end; -3 the feeder did not become idle within 5 s
 * (nothing moved).  Blocks for 60 ms to 5 s. */
VIRAZAV_API int VIRAZAV_CALL file_search(int t) VIRAZAV_NOEXCEPT;

/* file_read_start_end_sec: the range of the file playing.
 *   start, end: out (NULL skipped), the time numbers of the first and the last
 *   record as the file feeder read them when it started (0 before any file).
 * Returns 0. */
VIRAZAV_API int VIRAZAV_CALL file_read_start_end_sec(uint32_t* start,
                                                     uint32_t* end) VIRAZAV_NOEXCEPT;

/* one_farme_view: shows a single file.  Sets the disk and the file mode to 0
 * (5 ms each when they were not), reads the first 262,144 bytes of `path` at
 * most and offers them once, followed by 48 zero bytes, with special 0 and
 * code 0, whatever the player answers.  reserved: not used.  Returns 0; -1 path
 * NULL or the file cannot be opened; -13 no buffer. */
VIRAZAV_API int VIRAZAV_CALL one_farme_view(const char* path, int reserved) VIRAZAV_NOEXCEPT;

/* playtest: a test entry point.  Feeds up to 50 blocks to the player, taking
 * them in turn from a two-slot exchange that only the library's internal test
 * interface fills (so from an application it returns 0 after 1 s); waits at
 * most 1 s for each block to arrive and at most 1 s for the player to take it
 * (offered every 1 ms), and ends at the first block that does not arrive or is
 * not taken.  Returns the number of blocks the player took. */
VIRAZAV_API int VIRAZAV_CALL playtest(void) VIRAZAV_NOEXCEPT;

/* ---- Disk and file player: snapshots and decoder status ------------------------------ */
/* (section: player) */
/* Snapshots read the picture the player shows: a composite of 704 x 480 pixels
 * (bottom-up rows of 2112 bytes, 24-bit) in one of three layouts, which is cut
 * into four channel picture stores and written as bitmap files "bmp<n>.bmp"
 * (n = channel 1..4) in the current folder:
 *   layout 4: rows 240..479 channels 1 | 2, rows 0..239 channels 3 | 4, each
 *             352 x 240; files bmp1..bmp4, 352 x 240.
 *   layout 2: rows 240..479 the first channel, rows 0..239 the second, 704 x
 *             240 each; files of first, then second.  A second channel outside
 *             1..4 copies nothing.
 *   layout 1: one picture of the first channel: rows 240..479 (704 x 240), or
 *             in snapshot mode 1 the first 253,440 bytes (352 x 240).
 * A channel outside 1..4 is neither copied nor written.  The stores keep each
 * channel's last picture; a file is written from its store as it stands.  A
 * bitmap that cannot be created is skipped.  Snapshots from several threads run
 * one after the other. */

/* make_bmp: takes a snapshot while something plays.
 *   layout, first, second: out (NULL skipped): the layout and its channels.
 *   pass: handed to the player unchanged.
 *   status: out (NULL skipped): 0; 1 when both the disk and the file mode are 0,
 *           and then nothing else happens.
 * In layout 1 the file is 352 x 240 in snapshot mode 1, else 704 x 240.
 * Returns 0, or -13 when the composite or the stores cannot be allocated.
 * Blocks for the player's composite and up to four 250 KB file writes. */
VIRAZAV_API int VIRAZAV_CALL make_bmp(int* layout, int* first, int* second, void* pass,
                                      int* status) VIRAZAV_NOEXCEPT;

/* make_bmp_one: make_bmp without the play-mode test and the status; in layout
 * 1 the file is always 704 x 240 (in snapshot mode 1 its first 253,440 bytes
 * are the new picture).  Returns 0 or -13. */
VIRAZAV_API int VIRAZAV_CALL make_bmp_one(int* layout, int* first, int* second,
                                          void* pass) VIRAZAV_NOEXCEPT;

/* marlotest: writes the whole composite as "Bitmap1.bmp", 704 x 480, in the
 * current folder.  Returns 0 or -13. */
VIRAZAV_API int VIRAZAV_CALL marlotest(void) VIRAZAV_NOEXCEPT;

/* set_make_bmp_mode: stores the snapshot mode (only 1 has a meaning: single
 * pictures at 352 x 240).  Returns 0.  get_make_bmp_mode: returns it (0 at load). */
VIRAZAV_API int VIRAZAV_CALL set_make_bmp_mode(int mode) VIRAZAV_NOEXCEPT;
VIRAZAV_API int VIRAZAV_CALL get_make_bmp_mode(void) VIRAZAV_NOEXCEPT;

/* get_bmp: the latest picture of player channel `channel` (1..4) at its own
 * size, bottom-up 24-bit BGR, rows of 3 x width bytes.
 *   buffer: out, at least 704 x 576 x 3 bytes; width, height: out (NULL
 *   skipped); 0 and 0 with the buffer untouched while the channel has no
 *   picture yet; untouched for a channel outside 1..4.
 * The arguments go to the player unchanged; returns 0 whatever it answered. */
VIRAZAV_API int VIRAZAV_CALL get_bmp(int channel, unsigned char* buffer, int* width,
                                     int* height) VIRAZAV_NOEXCEPT;

/* get_dec_sts: the player's decoder status, unchanged: 1 when a picture failed
 * to decode, or a block held a packet that could not be walked (an unknown
 * marker, a length past the block, a payload that is no packet of its kind),
 * since the last clear_dec_err or Zel_play_open; else 0. */
VIRAZAV_API int VIRAZAV_CALL get_dec_sts(void) VIRAZAV_NOEXCEPT;

/* set_init_dec: every channel of the player waits for its next key picture.
 * Returns 0. */
VIRAZAV_API int VIRAZAV_CALL set_init_dec(void) VIRAZAV_NOEXCEPT;

/* clear_dec_err: clears the player's decoder error state.  Returns 0. */
VIRAZAV_API int VIRAZAV_CALL clear_dec_err(void) VIRAZAV_NOEXCEPT;

/* audio_set: value 1 (any nonzero value) mutes the player's sound and drops
 * what is queued, 0 plays it.  Returns the player's result unchanged (the
 * previous value, 0 or 1). */
VIRAZAV_API int VIRAZAV_CALL audio_set(int value) VIRAZAV_NOEXCEPT;

/* Zel_set_viewer_mode: the player's viewer mode.  a = 0..7 goes to the player
 * with b unchanged and its result is returned (0, or -2 for b out of range);
 * any other a returns -1 without reaching the player.
 *   a = 0     four pictures (layout 4) of channels 1..4; b not used
 *   a = 1..4  one picture (layout 1) of channel a; b not used
 *   a = 5     two pictures (layout 2): first 1 + (b & 3), second
 *             1 + ((b >> 2) & 3); b 0..15
 *   a = 6     channel group b (0..3): channels 1..4 show recorder channels
 *             4b .. 4b + 3, black until their next key picture; layout kept
 *   a = 7     sound of channel b (1..4), 0 none */
VIRAZAV_API int VIRAZAV_CALL Zel_set_viewer_mode(int a, int b) VIRAZAV_NOEXCEPT;

/* ---- JPEG stills ---------------------------------------------------------------------- */
/* (section: stills) */
/* The recorder keeps JPEG stills in an area of its disk that the caller names
 * (this library does not find it).  A still starts on a sector boundary and is
 * stored with the two bytes of every 16-bit word exchanged; its header carries
 * its size, date, time and two values that name it (docs/formats/still.md).
 * Typical loop: cursor = first sector of the area; call hdd_read_jpeg; on a
 * size > 0 write the buffer with hdd_write_jpeg_file under the returned name;
 * on -3, -5 or -6 call again; stop on -7 (or on -2).  Same thread rule as the
 * disk functions above: one caller at a time, and not while a feeder or a copy
 * uses the disk. */

/* hdd_read_jpeg: reads the still at *cursor, or scans on for the next one.
 *   cursor:       in/out, the sector to look at; advanced by every call.
 *   area_first:   first sector of the still area; area_sectors: its length.
 *   sequence:     0 takes the name and size only (one sector read); any other
 *                 number also reads the still, and is printed in the name.
 *   work:         out, at least 0x40000 (262144) bytes: the still as stored
 *                 (pair-exchanged) from byte 0 on; also scratch for the scan.
 *   name:         out, at least 43 bytes: "%d_%02d%02d%02d_%02d%02d%02d%d_%x.jpg"
 *                 (sequence, year since 2000, month, day, hour, minute, second,
 *                 the 4-bit value, the 16-bit value), zero-terminated.
 * Returns the size of the still in bytes (the cursor moves just past its last
 * sector; a header with size 0 returns 0 and leaves the cursor), or:
 *   -1 cursor, work or name NULL (nothing read);
 *   -2 16 MiB scanned without a start marker (cursor where the scan stopped);
 *   -3 the sector at the cursor cannot be read, also no drive open (cursor + 129);
 *   -5 the header is valid but the rest cannot be read (cursor past the still);
 *   -6 no still at the cursor, a start marker further on (cursor at it);
 *   -7 the scan reached the end of the area (cursor at or past it).
 * A header counts only with the start marker and a size below 0x40000.  The
 * scan reads 128 sectors a request and checks only the marker; a request that
 * fails is passed over.  Blocks for at most 257 disk requests (16 MiB). */
VIRAZAV_API int VIRAZAV_CALL hdd_read_jpeg(int* cursor, int area_first, int area_sectors,
                                           int sequence, unsigned char* work,
                                           char* name) VIRAZAV_NOEXCEPT;

/* hdd_write_jpeg_file: writes a still read by hdd_read_jpeg as a JPEG file.
 *   path:   the file; created or truncated.
 *   length: bytes to write (the size hdd_read_jpeg returned).
 *   buffer: in/out, length bytes; the two bytes of every 16-bit word are
 *           exchanged in place (an odd last byte stays), so the buffer holds
 *           the JPEG's own order afterwards and a second write of the same
 *           buffer writes the stored order again.
 *   total:  a running total the caller keeps.
 * Returns total + length, or: -1 path NULL or the file cannot be created;
 * -2 not every byte was written (the incomplete file stays), or length negative
 * or buffer NULL (nothing written).  Blocks for the file write; any thread. */
VIRAZAV_API int VIRAZAV_CALL hdd_write_jpeg_file(const char* path, int length,
                                                 unsigned char* buffer, int total) VIRAZAV_NOEXCEPT;

/* read_jpeg_head_com: classifies a JPEG file by the high 4 bits h of its byte 7.
 *   path: the file; head: out, 16 bytes: the file's first bytes.
 * Returns (h & 7) * 2, plus 1 when h >= 8 (0..15); the number of bytes read when
 * the file is shorter than 16 bytes; 0 when it cannot be opened or path or head
 * is NULL (0 thus also stands for an empty file and for code 0).  Any thread. */
VIRAZAV_API int VIRAZAV_CALL read_jpeg_head_com(const char* path,
                                                unsigned char* head) VIRAZAV_NOEXCEPT;

/* ---- Disk-to-media copy --------------------------------------------------------------- */
/* (section: copy) */
/* A copy writes three files into the folder it is given: "HDR.dat" (the
 * recorded packets of every chunk, back to back), ".index" (one 24-byte record
 * per chunk) and "List.HDR" (one 41-character line with the time range).  The
 * data and index files are the pair that the file player plays.  Existing files
 * are overwritten from their start, not truncated.  A copy stops before the data
 * file reaches 2 GiB, and before less than 1 MiB of the medium stays free (the
 * free space of the folder's file system, read when the copy starts).
 * docs/formats/copy-media.md describes the files.  The copy moves the disk's
 * play position: leave disk playback stopped while it runs, and make no other
 * disk call until hdd_copy_usb_get_sts reports the end. */

/* hdd_copy_usb: starts copying the recording from time number start to time
 * number end into `directory` (not NULL or empty; with or without a trailing
 * '/').  Stops disk playback (its mode goes to 0 under the "PLAYMODE" lock),
 * opens the three files and starts the copy thread, which searches start as
 * search_play does and copies chunk after chunk until the chunk at or after
 * end, the newest recorded chunk, a stop request or a failure.
 * Returns 0 when the copy runs; -1 a copy is running, or the files cannot be
 * opened (none stays open); -13 the 2 MiB chunk buffer cannot be allocated.
 * Does not wait for the copy.  Blocks for the file opens (and 5 ms when
 * playback was stopped). */
VIRAZAV_API int VIRAZAV_CALL hdd_copy_usb(const char* directory, int start,
                                          int end) VIRAZAV_NOEXCEPT;

/* hdd_copy_usb_stop: asks a running copy to stop at its next chunk and sleeps
 * 10 ms; does not wait for the copy to end.  Returns 0. */
VIRAZAV_API int VIRAZAV_CALL hdd_copy_usb_stop(void) VIRAZAV_NOEXCEPT;

/* hdd_copy_usb_get_sts: the state of the copy.
 *   status: out.  While a copy runs: its progress 0..99, the share of the time
 *           range done (0 when start equals end).  Otherwise the end code of the
 *           last copy: 101 a chunk read failed; 102 stopped by
 *           hdd_copy_usb_stop; 103 the data write failed, or the size or free
 *           space limit was reached; 104 the index write failed.  200 when no
 *           copy ran or the last one ended normally.
 * Returns 0, or -1 when status is NULL.  Does not block; any thread. */
VIRAZAV_API int VIRAZAV_CALL hdd_copy_usb_get_sts(int* status) VIRAZAV_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* VIRAZAV_H_ */
