/*
 * Little-endian fields, read and written one byte at a time so that records
 * may sit at any address and nothing depends on the processor's byte order.
 * Every 16-bit field of a record, a header block or formula code goes
 * through these.
 */
#ifndef WKS_BYTES_H
#define WKS_BYTES_H

#include <cstdint>
#include <cstring>

namespace wks {

inline uint16_t get_u16(const unsigned char *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline int16_t get_i16(const unsigned char *p) { return static_cast<int16_t>(get_u16(p)); }

inline void put_u16(unsigned char *p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
}

inline double get_f64(const unsigned char *p) {
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

inline void put_f64(unsigned char *p, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(bits >> (8 * i));
}

}  // namespace wks

#endif
