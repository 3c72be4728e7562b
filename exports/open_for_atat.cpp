/* The exported data switch.  Only the host writes it; the missing-file
 * notices read it. */
#include "wks.h"

extern "C" {
int16_t Open_for_atat = 0;
}
