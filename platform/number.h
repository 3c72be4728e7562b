/*
 * Decimal number conversion that ignores the host's locale: formula text
 * always writes "." as the decimal point, whatever LC_NUMERIC says.
 */
#ifndef WKS_PLATFORM_NUMBER_H
#define WKS_PLATFORM_NUMBER_H

namespace plat {

// strtod in the "C" locale: converts the longest prefix of text that forms a
// floating-point number and sets *end just past it (to text when nothing
// converts, the result then being 0).  Out of range: +-infinity or 0, as
// strtod gives them.
double parse_double(const char *text, const char **end);

}  // namespace plat

#endif
