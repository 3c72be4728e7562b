/* Locale-independent strtod; see number.h. */
#include "platform/number.h"

#include <clocale>
#include <cstdlib>
#if !defined(_WIN32)
#include <locale.h>
#endif

namespace plat {

#if defined(_WIN32)

double parse_double(const char *text, const char **end) {
    static _locale_t c_locale = _create_locale(LC_NUMERIC, "C");
    char *stop = nullptr;
    double v = c_locale ? _strtod_l(text, &stop, c_locale) : std::strtod(text, &stop);
    *end = stop;
    return v;
}

#else

double parse_double(const char *text, const char **end) {
    // Created once and kept for the life of the process.
    static locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    char *stop = nullptr;
    double v = c_locale ? strtod_l(text, &stop, c_locale) : std::strtod(text, &stop);
    *end = stop;
    return v;
}

#endif

}  // namespace plat
