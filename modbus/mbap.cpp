#include "mbap.h"

#include <cstring>

void MbapPutHeader(uint8_t *out, uint16_t transaction, const uint8_t *unitAndPdu, int32_t n) {
    out[0] = uint8_t(transaction >> 8);
    out[1] = uint8_t(transaction);
    out[2] = 0;
    out[3] = 0;
    out[4] = uint8_t(n >> 8);
    out[5] = uint8_t(n);
    std::memmove(out + mbapHEADER - 1, unitAndPdu, size_t(n));
}

tMbapHeader MbapGetHeader(const uint8_t *in) {
    return {.transaction = uint16_t(in[0] << 8 | in[1]),
            .protocol = uint16_t(in[2] << 8 | in[3]),
            .length = uint16_t(in[4] << 8 | in[5]),
            .unit = in[6]};
}

int32_t MbapFrameLength(const uint8_t *header) {
    const tMbapHeader h = MbapGetHeader(header);
    if (h.protocol != 0 || h.length < mbapMIN_LENGTH || h.length > mbapMAX_LENGTH)
        return 0;
    return mbapHEADER - 1 + h.length;
}
