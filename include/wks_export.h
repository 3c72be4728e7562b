/*
 * libwks-export: worksheet files into today's spreadsheet formats, with
 * formulas that compute the formula language's own values there.  A
 * separate library beside libwks (it loads libwks and libxlsxwriter); the
 * calls of wks.h stay as they are.
 */
#ifndef WKS_EXPORT_H
#define WKS_EXPORT_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(WKS_BUILDING_EXPORT)
#    define WKS_EXPORT_API __declspec(dllexport)
#  else
#    define WKS_EXPORT_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define WKS_EXPORT_API __attribute__((visibility("default")))
#else
#  define WKS_EXPORT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* flags: the 8-bit character set of the file's labels, strings and range
 * names (one of the four, or LICS), and what the cached values are. */
#define WKS_EXPORT_CP437        0
#define WKS_EXPORT_CP850        1
#define WKS_EXPORT_CP1252       2
#define WKS_EXPORT_LATIN1       3
#define WKS_EXPORT_CHARSET_MASK 3
#define WKS_EXPORT_LICS         8  /* LICS, in place of the set of the mask's bits */
#define WKS_EXPORT_REPRODUCIBLE 4  /* @NOW, @RAND, @CELLPOINTER computed with fixed values */

/* The conversion report.  path (may be NULL or "") names a file that
 * receives one JSON object per line: each formula written as its value
 * only, each one translated with a caveat, each format, name or record not
 * carried over, with cell addresses, and a summary line last.  The counts
 * are filled in by the call. */
typedef struct WKS_EXPORT_REPORT {
    const char *path;
    int32_t cells;     /* cells written */
    int32_t formulas;  /* formulas written as formulas */
    int32_t values;    /* formulas written as their computed value only */
    int32_t caveats;   /* formulas translated with a caveat */
    int32_t dropped;   /* formats, names and records not carried over */
} WKS_EXPORT_REPORT;

/*
 * wks_export_xlsx writes the WK1, WKS or ORX file src (or any variant
 * wks_open_family reads) as an Office Open XML
 * workbook dst of one sheet: labels (alignment from their prefix), numbers,
 * formulas translated into the workbook's syntax with the value the
 * library computes (wks_calc_file) as their cached value, number formats
 * from the format bytes, column widths, range names as defined names, and
 * the protection bits.  dst is written beside its place and put there only
 * when complete.  The file is read as a host reads it (wks_open_family: for an ORX
 * file as wksopen reads it, so its header block goes where set_open_for_load says), the report
 * gives each formula's text through wksfr with file number 0, and the
 * calls of libwks must not overlap with it.  report may be NULL.  Returns 0, or 38 (src is no WK1 or
 * ORX file, dst names src (errno EINVAL), or dst cannot be created: errno
 * tells why), 27 (src cannot be
 * read to its end), 32 (the workbook or the report cannot be written), 42
 * (no memory); on failure dst is as it was.
 */
WKS_EXPORT_API int16_t wks_export_xlsx(const char *src, const char *dst, int32_t flags, WKS_EXPORT_REPORT *report);

/*
 * wks_export_ods writes src as an OpenDocument spreadsheet of one sheet,
 * with the same translation in OpenFormula syntax, the same cached values,
 * report and results.  The cells are written as they come when they come
 * row by row, else sorted in memory first.
 */
WKS_EXPORT_API int16_t wks_export_ods(const char *src, const char *dst, int32_t flags, WKS_EXPORT_REPORT *report);

#ifdef __cplusplus
}
#endif

#endif /* WKS_EXPORT_H */
