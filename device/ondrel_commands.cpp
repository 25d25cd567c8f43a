// The controller's register map as the driver knows it: how each command
// sets up its transaction and how a successful read lands in the fields.
#include "u_ondrel.h"

tTransaction tOndrel::Prepare(tCommand cmd)
{
    tTransaction t;
    (void)cmd; // only the identification block so far
    return t;
}

void tOndrel::Unpack(tCommand cmd)
{
    if (cmd != cmdGET_INFO)
        return;
    auto ch = [](uint16_t byte) { return QChar(char16_t(byte & 0xFF)); };
    Model = QString() + ch(FRegs[0]) + ch(FRegs[0] >> 8) + ch(FRegs[1]) + ch(FRegs[1] >> 8);
    Fimware = QString() + ch(FRegs[2]) + u'.' + ch(FRegs[2] >> 8);
    for (int k = 0; k < 4; ++k)
        Relay[k].par[0] = FRegs[3 + k];
}
