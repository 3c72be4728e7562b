/*
 * The converters' record translation: wk1_rec_to_orx_rec and
 * orx_rec_to_wk1_rec move a cell's value area as one block of the whole
 * body area, whatever the record's length; these move only the value bytes
 * the record holds and leave the rest of the destination's buffer as it
 * was, which writes the same bytes.  Results as the exported functions'.
 */
#ifndef WKS_CONVERT_TRANSLATE_H
#define WKS_CONVERT_TRANSLATE_H

#include "wks.h"

#include <cstdint>

namespace wks::convert {

int32_t translate_to_orx(const WKS_RECORD &src, WKS_RECORD &dst);
int32_t translate_to_wk1(const WKS_RECORD &src, WKS_RECORD &dst);

}  // namespace wks::convert

#endif
