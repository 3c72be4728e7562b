/*
 * wks.h -- the C interface of libwks, a worksheet file library.
 *
 * libwks reads and writes worksheet files of the WKS/WK1 record family and
 * of the ORX variant (a 2652-byte header block in front of WKS-style records
 * whose cell records carry an 11-byte prefix), compiles formula text into
 * formula code and decodes it back, keeps a process-wide table of range
 * names, and converts whole files between WK1 and ORX.
 *
 * Conventions
 *   - Functions that work on a handle return a 16-bit error code (0 success,
 *     -1 end of file when reading) and also store it in the handle.
 *   - Error codes 1..40 have texts (wkser); most failures are also shown to
 *     the user through the message layer (wkserr, wkswin_printf).
 *   - All library state is process-wide and unlocked: calls must not overlap.
 *   - All 16-bit fields inside records are little-endian and accessed byte
 *     by byte, so records may sit at any address.
 */
#ifndef WKS_H
#define WKS_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(WKS_BUILDING_LIBRARY)
#    define WKS_API
#  else
#    define WKS_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define WKS_API __attribute__((visibility("default")))
#else
#  define WKS_API
#endif

/* The version of this header.  wks_version() tells the version of the
 * library actually loaded; a host built against 1.x runs with any 1.y, y >= x. */
#define WKS_VERSION        "1.2.0"
#define WKS_VERSION_NUMBER 10200  /* major * 10000 + minor * 100 + patch */

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================
 * Record files
 * ====================================================================== */

#define WKS_BODY_SIZE     2078  /* record body area of a handle; largest single read */
#define WKS_RECORD_SIZE   2082  /* record type + record length + body area */
#define WKS_HEADER_SIZE   2652  /* header block in front of an ORX file's records */
#define WKS_MAX_READ_BODY 2074  /* longest body a stream can read (4 bytes of read-ahead) */

/* The record buffer: one record byte for byte as it stands in the file. */
typedef struct WKS_RECORD {
    unsigned char type[2];              /* record type, little-endian */
    unsigned char length[2];            /* body length, little-endian */
    unsigned char body[WKS_BODY_SIZE];  /* record body */
} WKS_RECORD;

#if defined(_MSC_VER) || defined(__GNUC__)
#  pragma pack(push, 1)
#endif
/*
 * Worksheet handle: allocated by the host, filled by the library.  Byte
 * packed; 2103 bytes on 64-bit targets.  The host reads the current record
 * straight from `rec` after a read and puts the next record there before a
 * write.
 */
typedef struct WKS {
    int32_t        fd;        /* low-level descriptor of the open file */
    char           mode;      /* 'r' reading, 'w' writing, 'c' a wks_create handle ended */
    int16_t        error;     /* code left by the last operation, 0 = success */
    unsigned char *cursor;    /* into rec: the read-ahead header of the next record */
    int16_t        last_col;  /* column of the last cell record passed */
    int16_t        last_row;  /* row of the last cell record passed */
    int16_t        carried;   /* bytes of the next record already at cursor (0 or 4) */
    WKS_RECORD     rec;       /* the current record */
} WKS;
#if defined(_MSC_VER) || defined(__GNUC__)
#  pragma pack(pop)
#endif

/* Record types the library interprets. */
#define WKS_BOF          0
#define WKS_EOF          1
#define WKS_BLANK       12
#define WKS_INTEGER     13
#define WKS_NUMBER      14
#define WKS_LABEL       15
#define WKS_FORMULA     16
#define WKS_RANGE_NAME  11
#define WKS_RANGE_NAME2 71
#define WKS_STRING      51

/*
 * Record layouts, as body offsets.  A WK1 cell body (types 12 to 16 and 51)
 * is format byte, column, row (signed 16-bit, 0-based), then the value; an
 * ORX cell body is the same behind an 11-byte prefix, which the library's
 * own translation writes as ten zero bytes and a 2.  A formula cell's value
 * is an 8-byte double followed by the formula code (its 16-bit length, then
 * the items).  So the ORX column is at WKS_ORX_CELL(WKS_CELL_COLUMN), 12.
 */
#define WKS_CELL_FORMAT       0   /* format byte */
#define WKS_CELL_COLUMN       1
#define WKS_CELL_ROW          3
#define WKS_CELL_VALUE        5   /* integer: 16-bit; number, formula: double; label: text and NUL */
#define WKS_CELL_FORMULA_CODE 13  /* a formula's code length word */
#define WKS_ORX_CELL_PREFIX   11  /* bytes in front of the WK1 cell body in an ORX cell */
#define WKS_ORX_PREFIX_MARK   2   /* the prefix's last byte as the library writes it */
#define WKS_ORX_CELL(field)   (WKS_ORX_CELL_PREFIX + (field))  /* a WKS_CELL_* field in an ORX cell */
/* Range-name record (types 11 and 71): the name, NUL-terminated within its
 * first 16 bytes, then first column, first row, last column, last row. */
#define WKS_NAME_TEXT_SIZE    16
#define WKS_NAME_COORDINATES  16
#define WKS_NAME_RECORD_SIZE  24

/*
 * Error codes: what the functions return and store in a handle, with the
 * text wkser gives them.  8, 9, 20, 21, 26, 28, 30, 31 and 33 to 35 are
 * never set; codes without a text read as "invalid error value".
 */
#define WKS_OK                      0
#define WKS_E_DUPLICATE_NAME        1   /* "Duplicate range name" */
#define WKS_E_NO_SYMBOL_MEMORY      2   /* "No space for new symbol entry (malloc)" */
#define WKS_E_NO_NAME_MEMORY        3   /* "No space for range name (malloc)" */
#define WKS_E_BAD_CHARACTER         4   /* "Bad character in formula" */
#define WKS_E_BAD_COLUMN            5   /* "Bad column specified in formula" */
#define WKS_E_BAD_ROW               6   /* "Bad row specified in formula" */
#define WKS_E_INVALID_NAME          7   /* "Invalid range name" */
#define WKS_E_NAME_TABLE_1          8   /* "Internal error 1: range symbol table error" */
#define WKS_E_NAME_TABLE_2          9   /* "Internal error 2: range symbol table error" */
#define WKS_E_NO_STRING_MEMORY      10  /* "No room to malloc string" */
#define WKS_E_STRING_TOO_LONG       11  /* "String is too long" */
#define WKS_E_BAD_REAL              12  /* "Real is too long, or has invalid format" */
#define WKS_E_OUTPUT_EXHAUSTED      13  /* "Output buffer exhausted" */
#define WKS_E_SYNTAX                14  /* "Syntax error" */
#define WKS_E_BAD_FUNCTION          15  /* "Bad function name" */
#define WKS_E_CODE_SPACE            16  /* "Out of space in output buffer" */
#define WKS_E_ARGUMENT_COUNT        17  /* "Function has wrong number of arguments" */
#define WKS_E_DECODE_SPACE          18  /* "No room in decode output buffer" */
#define WKS_E_DECODE_DEPTH          19  /* "Out of reconstruct string stack space" */
#define WKS_E_STACK_OVERFLOW        20  /* "Evaluation stack overflow" */
#define WKS_E_STACK_ENTRY           21  /* "Bad evaluation stack entry" */
#define WKS_E_UNIMPLEMENTED         22  /* "Unimplemented operator or function" */
#define WKS_E_COLUMN_RANGE          23  /* "Column out of range" */
#define WKS_E_ROW_RANGE             24  /* "Row out of range" */
#define WKS_E_CLOSE                 25  /* "Error closing file" */
#define WKS_E_FORMULA_TOO_LONG      26  /* "Encoded formula too long" */
#define WKS_E_READ                  27  /* "Read Error" */
#define WKS_E_LSEEK                 28  /* "lseek Error", not shown */
#define WKS_E_FORMULA_SIZE          29  /* "exceeded maximum formula size" */
#define WKS_E_COLUMN_RANGE_2        30  /* "column out of range" */
#define WKS_E_ROW_RANGE_2           31  /* "row out of range" */
#define WKS_E_WRITE                 32  /* "Write Error" */
#define WKS_E_COLUMN_RANGE_3        33  /* "column out of range" */
#define WKS_E_WIDTH_RANGE           34  /* "width out of range" */
#define WKS_E_LSEEK_2               35  /* "lseek Error", not shown */
#define WKS_E_UNSORTED              36  /* "File Unsorted", not shown */
#define WKS_E_NO_PATHS              37  /* "Both file names are empty", not shown */
#define WKS_E_OPEN                  38  /* "Error opening file", not shown */
#define WKS_E_NOT_ORX               39  /* "Not ORX file", not shown */
#define WKS_E_CLOSE_INPUT           40  /* "Error closing file", not shown */
#define WKS_E_SEEK_END              41  /* append opening could not position; no text of its own */
#define WKS_E_NO_FORMULA_MEMORY     42  /* no memory (wksform, wks_read_ahead); no text of its own */
#define WKS_E_LAST_TEXT             40  /* the last code with a text of its own */

/* Results of the converters wk1_to_orx and orx_to_wk1. */
#define WKS_CONVERTED               0
#define WKS_CONVERT_CREATE_FAILED  (-1)  /* destination not created; orx_to_wk1: also source not opened */
#define WKS_CONVERT_SOURCE_FAILED  (-2)  /* source not opened as WK1 / not an ORX file */
#define WKS_CONVERT_NO_MEMORY      (-3)  /* no header block for the ORX output */
#define WKS_CONVERT_TEXT_CUT       (-4)  /* converted; a formula text was too long for a WK1 file */
#define WKS_CONVERT_SOURCE_DAMAGED (-5)  /* a record could not be read or translated (readably); nothing written */
#define WKS_CONVERT_OUTPUT_FAILED  (-6)  /* the result could not be written whole; nothing written */
#define WKS_CONVERT_STOPPED        (-7)  /* the progress handler asked to stop; nothing written */

/*
 * Opens a file by which paths are non-empty: path1 only = read (header block
 * and BOF record checked, BOF current on return); path2 only = create (header
 * block written if one waits, then a BOF record, version 1030 for a ".ORX"
 * extension, else 1028); both, different = copy path1 into a new path2; both
 * equal = append to path1.  Returns h, or NULL with h->error set to 37 (both
 * empty), 38 (open/create failed), 39 (not an ORX file), 27, 32, ...
 * Create and copy delete an existing path2 first, but never a directory or
 * a read-only file (one without any write permission bit, or the Windows
 * read-only attribute): those give 38 and stay as they were, and so does a
 * read-only file in append mode.  A directory never opens for reading (38,
 * or the "cannot be opened." notice).  New files are readable and writable
 * by all, less the umask on POSIX systems.
 * Copy and append register every range-name record under the file number of
 * h (see WKS_NAME) and leave h open for writing: copy after the input's
 * records (its header block and EOF record are not copied), append on the
 * file's EOF record, which the next record written replaces.  Copy refuses
 * two spellings of one file with 38 before touching it; a failed input close
 * gives 40, a failed positioning in append mode 41 (shown).
 */
WKS_API WKS *wksopen(WKS *h, const char *path1, const char *path2);

/* Makes the next record current.  0 record, -1 EOF record, 27 read error
 * (shown).  27 also when the handle's cursor/carried-over count do not
 * describe a place inside its own record buffer. */
WKS_API int16_t wksnextr(WKS *h);

/* Makes the next cell record (types 13..16, 51) current.  0, -1 at the end,
 * 27 read error, 36 cell out of row-major order (silent). */
WKS_API int16_t wksnextc(WKS *h);

/* Writes the record in the buffer (length + 4 bytes).  0, or 32 (shown) on a
 * failed write or a record length above WKS_BODY_SIZE (nothing written). */
WKS_API int16_t wkswrec(WKS *h);

/* Closes; a handle opened for writing first gets the EOF record.  0, 32 (EOF
 * record not written, file still open) or 25 (close failed). */
WKS_API int16_t wksclose(WKS *h);

/*
 * Extension: reading ahead.  After a read-mode wksopen or wksopen_wk1, h
 * may fetch its file in blocks of `bytes` (4096 to 16777216; other values
 * are taken to the nearer bound) instead of one read call per record: the
 * same records, results, error codes and messages.  It lasts until h is
 * closed or opened again, which give the block back; a second call
 * changes nothing.  Meanwhile the descriptor's position runs ahead of the
 * records delivered.  0, or (stored in h, not shown) 38 when h is not open
 * for reading, or 42 when there is no memory for the block or
 * WKS_READ_AHEAD_MAX handles read ahead already; h then reads on as before.
 * A NULL h: 38.
 */
#define WKS_READ_AHEAD_MAX 16
WKS_API int16_t wks_read_ahead(WKS *h, int32_t bytes);

/* 1 when path opens as an ORX file in read mode (then closed again), else 0. */
WKS_API int32_t wks_open_close(const char *path);

/* Store a 16-bit value low byte first; store/load a little-endian double. */
WKS_API void   wksni(unsigned char *p, int16_t v);
WKS_API void   wksdi(unsigned char *p, double v);
WKS_API double wksid(const unsigned char *p);

/* ======================================================================
 * Errors, messages and missing-file notices
 * ====================================================================== */

/* Text of an error code; "invalid error value" outside 1..40.  Never NULL. */
WKS_API const char *wkser(int16_t code);

/* Shows "\n*** ORX error %d - %s\n" unless code is 28 or in 35..40; returns code. */
WKS_API int16_t wkserr(int16_t code);

/* Formats (printf-style; on Windows by wvsprintfA's rules), cuts the text to
 * 255 characters and shows it captioned "Message"; returns the message
 * layer's result (1 = OK). */
WKS_API int32_t wkswin_printf(const char *format, ...);

/* While Open_for_atat is set, shows "File '<path>' <what>..." once per path
 * (case-insensitive).  Returns Open_for_atat. */
WKS_API int16_t msg_for_atat(const char *path, const char *what);

/* 1 when name is in the missing-file list (or memory ran out), else 0 after
 * adding it (if fewer than 64 are listed). */
WKS_API int32_t in_file_list(const char *name);

/* Empties the missing-file list. */
WKS_API void cleanup_file_list(void);

/* Host switch: nonzero turns open failures into once-per-file notices. */
extern WKS_API int16_t Open_for_atat;

/*
 * Extension: message handler.  By default a message appears in a modal
 * warning box owned by the focused window on Windows (the call returns when
 * the user presses OK), and is written to standard error elsewhere (the call
 * returns 1).  A handler receives the caption "Message" and the formatted
 * text; its result is what wkswin_printf returns.  Returns the previous
 * handler; NULL restores the default.
 */
typedef int32_t (*wks_message_handler)(const char *caption, const char *text);
WKS_API wks_message_handler wks_set_message_handler(wks_message_handler handler);

/*
 * Extension: the library's version as text ("1.2.0"); when number is not
 * NULL it also receives the version as WKS_VERSION_NUMBER spells it.
 */
WKS_API const char *wks_version(int32_t *number);

/* ======================================================================
 * Header block
 * ====================================================================== */

/* Reads the 2652-byte header block at fd into the buffer of the header mode
 * (load: host buffer, convert: converter buffer, probe: checked only).
 * 0 accepted, -1 magic words wrong, -2 out of memory (shown). */
WKS_API int32_t read_header(int32_t fd);
WKS_API int32_t read_header_not_load(int32_t fd);

/* Writes and releases the block waiting for the header mode.  0, or -1 when
 * nothing waits (or in probe mode), or -2 when the block could not be written
 * whole (it then stays waiting). */
WKS_API int32_t save_header(int32_t fd);

/* Copies the waiting host block to dst (2652 bytes) and releases it: 1, or 0
 * when none waits. */
WKS_API int32_t GetOrxHeader(unsigned char *dst);

/* Stores 2652 bytes from src as the waiting host block, magic words set:
 * 1, or 0 out of memory (shown). */
WKS_API int32_t SetOrxHeader(const unsigned char *src);

/* The waiting host block itself (lent, not copied), or NULL. */
WKS_API unsigned char *get_orx_header(void);

/* Header mode: nonzero = load (blocks read go to the host buffer), 0 = probe. */
WKS_API void set_open_for_load(int32_t flag);

/* Releases both waiting header blocks. */
WKS_API void wks_cleanup(void);

/* Kept for compatibility: do nothing, return 0. */
WKS_API int32_t get_header(void *a, void *b, void *c, void *d);
WKS_API int32_t set_header(void *a, void *b, int32_t c, int32_t d);

/* ======================================================================
 * Range names
 * ====================================================================== */

/* A range name; owned by the table, read directly by the host, which must
 * neither change nor free it.  Natural alignment, 32 bytes on 64-bit targets.
 * The library's own file number for a handle h is the low 32 bits of
 * (uintptr_t)h. */
typedef struct WKS_NAME {
    struct WKS_NAME *next;  /* next node in the same bucket */
    int32_t          file;  /* file number the name belongs to */
    char            *name;  /* NUL-terminated, owned by the node */
    int16_t          c1;    /* first column */
    int16_t          r1;    /* first row */
    int16_t          c2;    /* last column */
    int16_t          r2;    /* last row */
} WKS_NAME;

/* Insert a name under a file number (wksir) or the current one (wksirxx).
 * 0, or a shown code: 1 duplicate, 2/3 out of memory, 7 invalid name (empty,
 * or first/second character outside 32..126; the table is then unchanged). */
WKS_API int16_t wksir(int32_t file, const char *name, int16_t c1, int16_t r1, int16_t c2, int16_t r2);
WKS_API int16_t wksirxx(const char *name, int16_t c1, int16_t r1, int16_t c2, int16_t r2);

/* Delete a name.  0 deleted, 7 empty name (silent), -1 no such name (table
 * unchanged, silent). */
WKS_API int16_t wksdr(int32_t file, const char *name);
WKS_API int16_t wksdrxx(const char *name);

/* Look a name up (case-sensitive); NULL when absent. */
WKS_API WKS_NAME *wkslr(int32_t file, const char *name);
WKS_API WKS_NAME *wkslrxx(const char *name);

/* First node in iteration order with these exact coordinates; NULL if none.
 * Restarts the iteration cursor. */
WKS_API WKS_NAME *wksgr(int32_t file, int16_t c1, int16_t r1, int16_t c2, int16_t r2);
WKS_API WKS_NAME *wksgrxx(int16_t c1, int16_t r1, int16_t c2, int16_t r2);

/* Iterate over all names of all files: buckets ascending, newest first;
 * NULL at the end (and again after it).  Deleting the name the iteration
 * stands on is safe: wksgn goes on with the name after it. */
WKS_API WKS_NAME *wksgf(void);
WKS_API WKS_NAME *wksgn(void);

/* Empties the table, gives back all its memory and ends any iteration.  The
 * prefix filters are cleared too, except when the table is already empty. */
WKS_API void wkscs(void);

/* Prefix test on the first two characters: 2 a longer name may start so,
 * 1 the one-character name may exist, 0 neither. */
WKS_API int32_t wkslp(const char *text);

/* ======================================================================
 * Formulas
 * ====================================================================== */

/* Compiles formula text for the cell (col, row) into out (2-byte length, then
 * code; at most size - 2 and never more than 32767 code bytes).  0, or an
 * error code (not shown): 4, 5, 6, 10, 11, 12, 14, 15, 16, 17.  The length
 * word is 0 after a failure; with out NULL or size < 2 nothing is written
 * (16); a NULL text fails with 14.  Range names are looked up under `file`,
 * which stays the current file number afterwards. */
WKS_API int16_t wksfe(int32_t file, int16_t col, int16_t row, const char *text,
                      unsigned char *out, int32_t size);

/* Decodes formula code (starting at its length prefix) of the cell (col, row)
 * into out, at most size characters with the NUL; a cell or range with a
 * range name under `file` is printed as the name where the name reads back
 * as itself (1-15 characters: letters, digits not first, % ' ; ? [ \ ] _ `
 * { | } ~; no cell address such as A1), else as coordinates, and `file`
 * stays the current file number.  Only the code length's bytes are read.
 * 0, or a shown code: 15 malformed code (invalid opcode, no end item or
 * operand bytes beyond the length, not exactly one value, reference outside
 * the sheet), 18 output full, 19 nesting too deep.  After a failure out
 * holds no NUL. */
WKS_API int16_t wksfr(int32_t file, int16_t col, int16_t row, const unsigned char *code,
                      char *out, int32_t size);

/* Compiles text into a formula record (type 16) in h's record buffer, names
 * looked up under the low 32 bits of h's address.  0, or a shown error code:
 * a code of wksfe (also stored in h->error; the record buffer is then
 * unchanged), or 42 when memory ran out (handle untouched). */
WKS_API int16_t wksform(WKS *h, char format, int16_t col, int16_t row, const char *text);

#ifdef WKS_FORMULA_INTERNALS
/*
 * The pieces of the compiler and the decoder, exported for hosts written
 * against them.  Their short names (gc, dc, yyparse, ...) would clash with a
 * host's own, so they are declared only for a host that defines
 * WKS_FORMULA_INTERNALS before including this header.
 */

/* Lexer pieces (work on the compiler's process-wide state).  resetlex(NULL)
 * reads an empty text; backc never goes before the first character; yylex
 * returns a token number, -1 at the end, 254 on a failure. */
WKS_API void     init_lex(void);
WKS_API int32_t  resetlex(const char *text);
WKS_API int32_t  gc(void);
WKS_API int32_t  backc(void);
WKS_API uint16_t makerel(int16_t target, int16_t base);
WKS_API int16_t  getcol(uint16_t *word);
WKS_API int16_t  getrow(uint16_t *word);
WKS_API int32_t  yylex(void);

/* Parser and emitters; harmless no-ops outside a compilation (wksfe), where
 * yyparse returns 1 without reading anything. */
WKS_API int32_t yyparse(void);
WKS_API void    yyerror(const char *message);
WKS_API void    emit(unsigned char byte);
WKS_API void    emitint(int16_t value);
WKS_API void    emitlong(int32_t value);

/* Decoder output helpers: append to the output of the running wksfr and do
 * nothing outside it (di still returns the 16-bit value at p).  Reference
 * helpers: a column word wraps modulo 256, a row word modulo 8192, makeabs
 * does not wrap; an absolute word is returned as it stands. */
WKS_API void     dc(char c);
WKS_API void     ds(const char *text);
WKS_API int16_t  di(const char *format, const unsigned char *p);
WKS_API void     dx(unsigned char byte);
WKS_API void     dcell(const unsigned char *words, int16_t col, int16_t row);
WKS_API uint16_t makecabs(const unsigned char *word, int16_t base);
WKS_API uint16_t makerabs(const unsigned char *word, int16_t base);
WKS_API uint16_t makeabs(const unsigned char *word, int16_t base);
#endif /* WKS_FORMULA_INTERNALS */

/* ======================================================================
 * WK1 interchange
 * ====================================================================== */

/* Opens a plain WK1 file (no header block, cells without the 11-byte ORX
 * prefix) through the same handle.  read_path only: read mode, the first
 * record must be a 2-byte BOF record of version 1028 or 1030 (it stays
 * current); anything else, a missing file included, gives NULL without a
 * message (h->error 0 after a bad first record, 27 after a read error).
 * create_path only: the file is replaced by one holding a BOF record of
 * version 1030 for a ".WK1" extension (any case), else 1028; NULL with
 * h->error 38 (silent; also for a directory or a read-only file, left as it
 * was) or 32.  Both or neither path: NULL, nothing set. */
WKS_API WKS    *wksopen_wk1(WKS *h, const char *read_path, const char *create_path);

/* Record stream twins of wksnextr, wkswrec and wksclose, with the same
 * results; wksnextr_wk1 takes a cell's position from WK1 body offsets. */
WKS_API int16_t wksnextr_wk1(WKS *h);
WKS_API int16_t wkswrec_wk1(WKS *h);
WKS_API int16_t wksclose_wk1(WKS *h);

/* Translate one record (src and dst are starts of full record buffers, and
 * may be the same) between the cell layouts; records of types other than
 * 12..16 and 51 are copied whole.  0, or 1 when refused with dst
 * untouched: a WK1 cell body below 5 or above 2067 bytes, an ORX cell body
 * below 16 or above 2078 bytes, any record longer than a buffer. */
WKS_API int32_t wk1_rec_to_orx_rec(const unsigned char *src, unsigned char *dst);
WKS_API int32_t orx_rec_to_wk1_rec(const unsigned char *src, unsigned char *dst);

/* 1 when path starts with a valid header block (the block is left in the
 * converter's buffer; the header mode is restored), else 0.  Silent. */
WKS_API int16_t is_orx_file(const char *path);
/* 1 when path opens with wksopen_wk1 in read mode, else 0. */
WKS_API int16_t is_wk1_file(const char *path);

/* Rewrite the external references ("<<file>>cell") of the formula record
 * (ORX cell layout) in h's buffer into ORX spelling (@@("<<FILE.ORX>>A1"),
 * sheet prefixes such as "A:" before a cell id dropped) or WK1 spelling
 * (<<FILE.WK1>>).  A formula whose text the rules leave unchanged is not
 * touched; a rewritten one keeps its prefix, format byte and exact real
 * constants and gets the value 0.0; a reading handle's record never grows
 * over the read-ahead.
 * A negative constant comes back as its magnitude and a negation.
 * 0, or a code with the record unchanged: the decoder's or compiler's
 * code (shown; a compile error is also stored in h->error), 15 no formula
 * code in the record or its cell off the sheet, 13 rewritten text longer
 * than 4095 characters, 22 new code whose items differ from the former
 * code's beyond string constants (a negative constant that the text would
 * group differently, "-5^2" reading as -(5^2), or another grouping the text
 * does not show; a reference may come back as its range name's range, the
 * same cells), 12 other constants that would not
 * survive recompiling, the decoder's code when the new code would not
 * decode at the cell into 4095 characters (15, 18, 19), 16 code too long
 * (all shown), or, for orx2wk1 only, 29 (silent) when the rewritten WK1
 * text would be 256 characters or more.  Any WK1 text that long (rewritten
 * or not) is kept whole and raises the text-cut flag, which the next
 * wk1_to_orx reports as -4. */
WKS_API int16_t modify_formula_wk12orx(WKS *h);
WKS_API int16_t modify_formula_orx2wk1(WKS *h);

#ifdef WKS_FORMULA_INTERNALS
/* The rewrite helpers (declared for WKS_FORMULA_INTERNALS, as the formula
 * pieces above), each reading at *src and writing at *dst and advancing
 * both.  On a host's texts the cursors are taken as the starts of both texts
 * (nothing before them is looked at), and the destination needs room for
 * the rest of the source plus 11 characters. */
WKS_API int32_t drop_dollar(char **src, char **dst);         /* always -1 */
WKS_API int32_t drop_Acolon(char **src, char **dst);         /* 1 skipped "A:"/"$A:", 0 end (NUL written), -1 */
WKS_API int32_t drop_path(char **src, char **dst);           /* "<<path>>" -> "<<BASE.ORX>>": 1, or 0 */
WKS_API int32_t copy_double_quotes(char **src, char **dst);  /* ("...") copied up to its ")": 1, or 0 */
WKS_API int32_t add_atat(char **src, char **dst);            /* one reference wrapped in @@("..."): 1, or 0 */
WKS_API int32_t add_atat_Jr(char **src, char **dst);         /* the same without the wrapper */
WKS_API int32_t legal_range(char **src, char **dst);         /* cell id ".." cell id: 1, or 0 */
WKS_API int32_t legal_cellID(char **src, char **dst);        /* [$]A[B][$]digits, prefix dropped: 1, or 0 */
#endif /* WKS_FORMULA_INTERNALS */

/* Convert a whole file.  0 converted; -1 destination not created (for
 * orx_to_wk1 also: source not opened), or a directory, a read-only file or
 * anything but a regular file; -2 source not a WK1 file (wk1_to_orx,
 * checked before the destination is touched) or not an ORX file
 * (orx_to_wk1); -3 no memory for the header block; -4 converted, but a
 * formula text was too long for a WK1 file (reported by orx_to_wk1 for its
 * own formulas, and by the next wk1_to_orx, which clears the flag); -5 the
 * source could not be read to its EOF record, or held a cell that cannot be
 * translated; -6 the result could not be written whole (the first record
 * that cannot be written ends the conversion: one Write Error shown; errno
 * then holds the system's reason, ENOSPC for a full disk); -7 see
 * wks_set_progress_handler.
 * The result is written to a new file beside the destination and takes
 * its place only when complete, flushed and closed; on any failure an
 * existing destination keeps its bytes and permissions and no new file
 * remains (on Linux the new file has no name until then, so a process
 * killed while it writes leaves nothing).  A replaced destination keeps its permission
 * bits, a new one is readable and writable by all less the umask; a
 * symbolic link named as the destination stays a link to the replaced
 * file.  Source and destination are one file when their names are equal
 * without regard to case or both exist and are the same file; the result
 * then carries BOF version 1028, otherwise the version of the
 * destination's name (1030 for ".ORX" or ".WK1", any case). */
WKS_API int32_t wk1_to_orx(const char *wk1_path, const char *orx_path);
WKS_API int32_t orx_to_wk1(const char *orx_path, const char *wk1_path);

/*
 * Extension: the converters' progress.  While wk1_to_orx or orx_to_wk1
 * runs, the handler is called with context, the bytes of the source read
 * so far and the source's size (0 when unknown): before the first record,
 * then about every 64 KiB of the source, and once the whole source is read,
 * before the result is put in place.  A nonzero answer stops the
 * conversion: it returns WKS_CONVERT_STOPPED (-7), the destination is as it
 * was and no new file remains.  The handler may call no library function
 * but wks_discard_all, which drops the result and so stops the conversion
 * too (-7, nothing shown); a converter called from the handler returns -7
 * at once and stops the conversion under way.  Returns the previous handler; NULL turns the
 * reports off.
 */
typedef int32_t (*wks_progress_handler)(void *context, int64_t done, int64_t total);
WKS_API wks_progress_handler wks_set_progress_handler(wks_progress_handler handler, void *context);

/* Copies src over dst, written as the converters write their results: a
 * failure leaves an existing dst as it was.  0, also when dst is src under
 * any spelling or link (nothing touched); or -1, shown: "Cannot open file
 * ... for reading" (src missing or a directory), "... for writing" (dst
 * cannot be created or replaced, or is a directory or read-only), or the
 * read, write or close error. */
WKS_API int32_t copy_file(const char *src, const char *dst);

/* Puts the first unused name "<drive><dir>f_$N" beside path in out, which
 * needs room for strlen(path) + 14 characters. */
WKS_API void    get_tempname(const char *path, char *out);

/* ======================================================================
 * Extension: creating a file without ever destroying one
 * ====================================================================== */

#define WKS_FORMAT_ORX  1   /* a header block, cells with the 11-byte prefix */
#define WKS_FORMAT_WK1  2
#define WKS_CREATE_MAX  16  /* handles that can be pending at once */

/*
 * wks_create starts a record stream for writing like wksopen's create mode
 * (WKS_FORMAT_ORX: the waiting header block, then the BOF record) or
 * wksopen_wk1's (WKS_FORMAT_WK1), but on a new file beside path; path itself
 * is not touched until wks_commit.  Records go out with wkswrec or
 * wkswrec_wk1 as usual; the handle is ended by wks_commit or wks_discard,
 * never by wksclose.  The BOF version is 1030 when path's extension is the
 * format's (".ORX" or ".WK1", any case), else 1028; and 1028 when path names
 * source, the file the records come from (names equal without regard to
 * case, or one existing file under two spellings or links), as for a
 * conversion onto itself.  source may be NULL.
 * Returns h, or NULL with h->error 38 (silent; errno holds the system's
 * reason: EISDIR for a directory, EACCES for a read-only file or anything
 * but a regular file, EROFS on a read-only file system) when path is empty,
 * names a directory, a read-only file or anything but a regular file, or no
 * file can be made beside it (where the system has no unnamed files it is
 * named ".NAME.wks-XXXXXX" beside path NAME until wks_commit), when format
 * is neither of the two, when h is pending already or WKS_CREATE_MAX handles
 * are; or 32 (shown) when the header block or the BOF record cannot be
 * written (the header block then stays waiting).  A NULL h: NULL.
 * While h is pending, wkswrec and wkswrec_wk1 refuse a record body longer
 * than WKS_MAX_READ_BODY, which no reader takes back (32, shown, nothing
 * written).
 */
WKS_API WKS    *wks_create(WKS *h, const char *path, int32_t format, const char *source);

/* Writes the EOF record, flushes the new file to the disk, closes it and
 * puts it in path's place: an existing path keeps its permission bits, a
 * symbolic link stays a link to the replaced file.  0, or 32 (the EOF record
 * not written, or the file not flushed) or 25 (not closed), both shown, or
 * 38 (not put in place; silent, errno holds the system's reason); after a
 * failure the new file is gone and path is as it was.  Either way the handle
 * is no longer pending: its mode letter is 'c', and wksclose, wkswrec and
 * wkswrec_wk1 on it return 25 (silent) and do nothing, as after wks_discard
 * and wks_discard_all.  A handle that is not pending (or NULL): 25, shown,
 * nothing done. */
WKS_API int16_t wks_commit(WKS *h);

/* Closes and removes the new file of a pending handle; path stays as it
 * was.  Does nothing for a handle that is not pending. */
WKS_API void    wks_discard(WKS *h);

/* wks_discard for every pending handle, and drops the new file of a
 * conversion or copy_file under way (the converter then stops: -7), async-signal-
 * safe: for a host's SIGINT or SIGTERM handler that then ends the process.
 * A handle inside wks_commit, or a result being put in place, is left to
 * it: such a handler should let that call return first, else a file being
 * put in place may stay under a temporary name. */
WKS_API void    wks_discard_all(void);

/*
 * Extension: results flushed together.  Flushing each result to the disk
 * before it takes its destination's place is what a conversion waits for
 * most; a host converting many files can have them flushed in one go.
 * wks_hold_results(1) turns holding on: from then on a conversion
 * (wk1_to_orx, orx_to_wk1) that gets through leaves its complete result
 * held, neither flushed nor in place (where the system can, its writing to
 * the disk is started, not waited for), and returns as usual (0, or -4); the
 * destination keeps its old bytes until wks_place_held.  Up to
 * WKS_HOLD_MAX results are held: one more conversion is refused with -1
 * (errno EMFILE) before it starts.  wks_hold_results(0) turns it off; the
 * results held stay held.  Returns the previous setting.  copy_file,
 * wks_calc_file and wks_commit are not affected.
 * wks_place_held flushes every held result to the disk (where the system
 * has it, one flush of each file system for all of them), then puts each
 * in its destination's place, as a conversion does, in the order they were
 * held, and calls visit (may be NULL) with context for each: result 0
 * (placed) or WKS_CONVERT_OUTPUT_FAILED with the system's reason (not
 * flushed, closed or put in place; the destination is as it was and no new
 * file remains).  No destination takes a result before all of them are on
 * the disk.  Returns how many results could not be placed (0 also when none
 * was held); nothing is shown.  wks_discard_all drops the held results.
 */
#define WKS_HOLD_MAX  32  /* results that can be held at once */
typedef void (*wks_placed_visitor)(void *context, int32_t result, int32_t reason);
WKS_API int32_t wks_hold_results(int32_t hold);
WKS_API int32_t wks_place_held(wks_placed_visitor visit, void *context);

/* ======================================================================
 * Extension: calculation
 * ====================================================================== */

/* A formula's value.  A string's text is in the file's 8-bit characters,
 * NUL-terminated (strings hold no NUL), and lives only during the visitor's
 * call; it is "" for the other kinds. */
#define WKS_VALUE_NUMBER 1
#define WKS_VALUE_STRING 2
#define WKS_VALUE_ERR    3
#define WKS_VALUE_NA     4
typedef struct WKS_VALUE {
    int32_t     kind;    /* WKS_VALUE_* */
    double      number;  /* WKS_VALUE_NUMBER: the number; 0 otherwise */
    const char *text;
} WKS_VALUE;

typedef struct WKS_CALC {
    int32_t formulas;     /* formula cells calculated */
    int32_t differences;  /* of them whose computed value differs from the stored one */
    int32_t circular;     /* of them in circular references */
    int32_t passes;       /* passes over the formulas: 1, or `iterations` when any is circular; per
                             round when @@ or @CELLPOINTER read a formula calculated after them */
} WKS_CALC;

/* Called once per formula, in file order, with marks: WKS_FORMULA_DIFFERS
 * when the computed value is not the stored one (see wks_calc_file),
 * WKS_FORMULA_CIRCULAR when the formula is in a circular reference (it
 * refers to itself, directly or through others).  It must not call the
 * library. */
#define WKS_FORMULA_DIFFERS  1
#define WKS_FORMULA_CIRCULAR 2
typedef void (*wks_calc_visitor)(void *context, int16_t col, int16_t row, const WKS_VALUE *stored,
                                 const WKS_VALUE *computed, int32_t marks);

#define WKS_CALC_CHECK        1  /* compute and report only; the file is not written */
#define WKS_CALC_REPRODUCIBLE 2  /* @NOW, @RAND, @CELLPOINTER take fixed values */
/* The character set of the file's text (bits 4..7 of flags), for letter
 * case beyond ASCII in @UPPER, @LOWER, @PROPER, text comparisons, @VLOOKUP,
 * @HLOOKUP and the database functions' field names and criteria.  0 is
 * cp437, the DOS code page; a number naming no set counts as 0.  LICS is
 * the set of WK1 and Symphony files (see wks_identify). */
#define WKS_CALC_CHARSET_CP437  0x00
#define WKS_CALC_CHARSET_CP850  0x10
#define WKS_CALC_CHARSET_CP1252 0x20
#define WKS_CALC_CHARSET_LATIN1 0x30
#define WKS_CALC_CHARSET_LICS   0x40
#define WKS_CALC_CHARSET_MASK   0xF0

/*
 * wks_calc_file recalculates the formulas of a WK1 or ORX file (or of
 * any variant wks_open_family reads) with the
 * formula language's rules, in natural order (every formula after the
 * cells it refers to, and after the formula cells its @@ and @CELLPOINTER
 * read: when calculation finds one calculated later, it orders and
 * calculates again, at most 8 rounds), and, without WKS_CALC_CHECK, writes each formula's
 * value into the file in place: for each formula whose value differs from
 * the stored one (see below), the value field of its record, and for a
 * string value a record of type 51 right after it (the type-51 records the
 * file held for such formulas are replaced).  Every other byte stays as it
 * was: the other records, the records of formulas whose values did not
 * change, an ORX file's header block, the BOF record, everything from the
 * EOF record on, and the file's permissions.  The file is read once, whole
 * (its size in memory), and rewritten as the converters write theirs (a new
 * file beside it takes its place when complete), so on any failure it is as
 * it was.  The converters' progress handler (wks_set_progress_handler) is
 * called as the file is read, as for a conversion, then with done equal to
 * total about every 4096 formula evaluations and once before the new file
 * takes the file's place; a nonzero answer stops the call, which returns
 * WKS_CONVERT_STOPPED (-7) with the file as it was.
 * iterations: the passes over a sheet that has circular references, 1 to
 * 50 (fewer is 1, more is 50); without any, one pass.  Outside
 * WKS_CALC_REPRODUCIBLE @NOW reads the clock and @RAND draws at random; with
 * it @NOW is 32874.5 (1 January 1990, noon), @RAND 0.5, @CELLPOINTER
 * describes A1 and a date without a year in @DATEVALUE is of 1990.  @@
 * finds the file's own range names; the host's header blocks, range names
 * and header mode are left as they were.  visit (may be NULL) sees every
 * formula's stored and computed value; summary (may be NULL) receives the
 * counts.  Two values differ when their kinds or texts do, or when they are
 * numbers more than 1 part in 10^12 apart.  Other flags are ignored.
 * Returns 0, or with the file untouched: -7 stopped by the progress
 * handler; 38 (silent) when path is NULL or
 * empty, does not open as a variant wks_open_family reads, or cannot be written in place
 * (a directory, a read-only file, a directory the process may not write:
 * errno then holds the system's reason); 27 read error (also for a file too
 * short to hold a first record, as in the converters), 32 write error, 25
 * close error, 42 no memory (all shown).
 */
WKS_API int16_t wks_calc_file(const char *path, int32_t flags, int32_t iterations, wks_calc_visitor visit,
                              void *context, WKS_CALC *summary);


/* ======================================================================
 * Extension: the worksheet family
 * ====================================================================== */

/* The variants wks_identify tells apart, by their first records. */
#define WKS_VARIANT_UNKNOWN    0   /* none of these (or a file that cannot be read) */
#define WKS_VARIANT_EMPTY      1   /* a file of no bytes */
#define WKS_VARIANT_ORX        2   /* header block, then records */
#define WKS_VARIANT_WKS        3   /* BOF version 1028 (0x0404), .wks */
#define WKS_VARIANT_WK1        4   /* BOF version 1030 (0x0406), .wk1 */
#define WKS_VARIANT_SYMPHONY   5   /* BOF version 1029 (0x0405), .wrk or .wr1 */
#define WKS_VARIANT_WORKS      6   /* BOF version 1028 and records of types 0x5400..0x54FF, .wks */
#define WKS_VARIANT_WORKS_WIN  7   /* first byte 0xFF, .wks */
#define WKS_VARIANT_WQ1        8   /* BOF version 0x5120, .wq1 */
#define WKS_VARIANT_WQ2        9   /* BOF version 0x5121, .wq2 */
#define WKS_VARIANT_WK3       10   /* a 26-byte BOF record, version 0x1000, .wk3 */
#define WKS_VARIANT_WK4       11   /* the same, version 0x1002, .wk4 */
#define WKS_VARIANT_123       12   /* the same, version 0x1003 or 0x1005, .123 */

/* What wks_identify found.  The texts are the library's own constants. */
typedef struct WKS_FAMILY {
    int32_t     variant;    /* WKS_VARIANT_* */
    int32_t     readable;   /* 1 when wks_open_family reads the file, else 0 */
    int32_t     version;    /* the BOF record's version, -1 without one */
    int32_t     charset;    /* the WKS_CALC_CHARSET_* of its text */
    const char *name;       /* "a 1-2-3 Release 2 worksheet", ... ("" for UNKNOWN) */
    const char *extension;  /* its usual extension: ".wk1", ... ("" for UNKNOWN and EMPTY) */
    const char *registry;   /* its identifier in the PRONOM format registry, or "" */
    const char *refusal;    /* why it is not read, or "" when it is */
} WKS_FAMILY;

/*
 * wks_identify tells which variant path is, from its header block or its
 * first record and, for a BOF version of 1028, the record types among the
 * records in the file's first 64 KiB: a type 0x5400..0x54FF makes it a
 * Works file, whose text is LICS when a record of type 0x5425 is among
 * them, else cp437.  The text of WK1 and Symphony files is LICS, of the
 * others cp437.  Fills *out (when not NULL) and returns the variant; a
 * file that cannot be opened is UNKNOWN, with readable 0.  Silent.
 */
WKS_API int32_t wks_identify(const char *path, WKS_FAMILY *out);

/*
 * wks_open_family opens path for reading through h whatever variant it
 * is, where the variant is readable: an ORX file as wksopen reads it (read
 * with wksnextr), the others (WKS, WK1, Symphony and Works files) as
 * wksopen_wk1 reads a WK1 file (read with wksnextr_wk1), the BOF record
 * current; the records of the variant's own types come as they are.
 * Close with wksclose.  Fills *out (when not NULL) as wks_identify does.
 * Returns h, or NULL with h->error 38 (silent; also for a variant that is
 * not read) or 27 (read error, shown), or for an ORX file what wksopen
 * gives and shows.  A NULL h: NULL.
 */
WKS_API WKS *wks_open_family(WKS *h, const char *path, WKS_FAMILY *out);

#ifdef __cplusplus
}
#endif

#endif /* WKS_H */
