#include "page_action.h"

int32_t RunAction(ScreenHost &host, const tAction &a) {
    if (!a.question.isEmpty() && !host.AskYesNo(a.question))
        return actDECLINED;
    if (!a.progress.isEmpty())
        host.Report(0, a.progress);
    if (a.popup)
        host.Msg(a.progress + QStringLiteral(" no Ondrel..."));
    if (a.collect)
        a.collect();
    int32_t result = actDECLINED;
    if (a.sequence)
        result = a.sequence();
    for (tCommand cmd : a.commands)
        if ((result = host.SendCommand(cmd)) < 0)
            break;
    if (a.popup)
        host.HideMsg();
    if (result < 0) {
        if (!a.silent)
            host.ModbusError(result);
        if (a.failed)
            a.failed(result);
        return result;
    }
    if (a.done)
        a.done();
    if (!a.success.isEmpty())
        host.Report(0, a.success);
    return result;
}
