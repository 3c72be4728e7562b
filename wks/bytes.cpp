/* The exported forms of the little-endian field helpers. */
#include "wks.h"
#include "wks/bytes.h"

extern "C" {

// A null address stores nothing and reads as 0.
void wksni(unsigned char *p, int16_t v) {
    if (p) wks::put_u16(p, static_cast<uint16_t>(v));
}

void wksdi(unsigned char *p, double v) {
    if (p) wks::put_f64(p, v);
}

double wksid(const unsigned char *p) { return p ? wks::get_f64(p) : 0.0; }

}
