#include "page_action.h"

namespace {
// What each block is called in a refusal, first match of `needs` first.
struct tBlockName {
    uint32_t block;
    const char *name;
};
constexpr tBlockName blockNames[] = {
    {knownSYSTEM, "os parâmetros de sistema"},
    {knownOPS, "os operadores dos relés"},
    {knownRelay(0), "os parâmetros do relé 1"},
    {knownRelay(1), "os parâmetros do relé 2"},
    {knownRelay(2), "os parâmetros do relé 3"},
    {knownRelay(3), "os parâmetros do relé 4"},
    {knownFORMAT, "a data e hora"},
    {knownCLOCK, "a data e hora"},
    {knownCAL, "a calibração do RTC"},
};
} // namespace

QString NotKnownText(uint32_t needs) {
    for (const tBlockName &b : blockNames)
        if (needs & b.block)
            return QStringLiteral("Leia %1 do Ondrel antes de gravar")
                .arg(QString::fromUtf8(b.name));
    return QStringLiteral("Leia os parâmetros do Ondrel antes de gravar");
}

tTask<int32_t> RunAction(ScreenHost &host, tAction a) {
    if (a.needs && !(host.Ondrel().Known & a.needs)) {
        host.Report(clERROR, NotKnownText(a.needs));
        co_return actDECLINED;
    }
    if (!a.question.isEmpty() && !host.AskYesNo(a.question))
        co_return actDECLINED;
    if (!a.progress.isEmpty())
        host.Report(0, a.progress);
    if (a.popup)
        host.Msg(a.progress + QStringLiteral(" no Ondrel..."));
    if (a.collect)
        a.collect();
    int32_t result = actDECLINED;
    if (a.sequence) {
        tTask<int32_t> sequence = a.sequence();
        result = co_await sequence;
    }
    const tPriority priority = a.background ? tPriority::Background : tPriority::Person;
    for (tCommand cmd : a.commands) {
        tTask<int32_t> reply = host.SendCommand(cmd, priority);
        if ((result = co_await reply) < 0)
            break;
    }
    if (a.popup)
        host.HideMsg();
    if (result < 0) {
        if (!a.silent)
            host.ModbusError(result);
        if (a.failed)
            a.failed(result);
        co_return result;
    }
    if (a.done)
        a.done();
    if (!a.success.isEmpty())
        host.Report(0, a.success);
    co_return result;
}
