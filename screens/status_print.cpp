#include "status_print.h"

#include "relay_operations.h"
#include "screen_host.h"
#include "status_color_button.h"
#include "status_tag.h"
#include "temperature.h"

#include <QLabel>

static void setTextIfChanged(QLabel *label, const QString &text) {
    if (label->text() != text)
        label->setText(text);
}

void PrintTemp(QLabel *value, QLabel *min, QLabel *max, const tSensor &s) {
    static const QString noStat = QStringLiteral("---  ");
    QString v;
    QString n = noStat;
    QString x = noStat;
    switch (s.sts) {
    case stsTEMP_READING:
        v = QStringLiteral("Lendo");
        break;
    case stsTEMP_OK: {
        const QString unit = unitText(s.TemperatureType);
        v = tenthsText(s.value) + unit;
        n = QStringLiteral("Min: ") + tenthsText(s.valueMin) + unit + QStringLiteral("  ");
        x = QStringLiteral("Max: ") + tenthsText(s.valueMax) + unit + QStringLiteral("  ");
        break;
    }
    case stsTEMP_ERRMIN:
        v = QStringLiteral("Curto");
        break;
    case stsTEMP_ERRMAX:
        v = QStringLiteral("Aberto");
        break;
    default:
        v = QStringLiteral("---");
    }
    setTextIfChanged(value, v);
    setTextIfChanged(min, n);
    setTextIfChanged(max, x);
}

void printRelay(QLabel *state, TColorButton *lamp, const tRelay &r) {
    if (Tag(state) == r.sts)
        return;
    SetTag(state, r.sts);
    const bool on = r.sts == 1;
    state->setText(on ? QStringLiteral("Ligado") : QStringLiteral("Desligado"));
    lamp->setColor(on ? clRELAY_ON : clRELAY_OFF);
}

void PrintOpRelay(QLabel *label, int32_t code) {
    label->setText(OpRelayName(code));
}

bool checkModeSlave(ScreenHost &host) {
    if (host.Ondrel().System[12] != 0)
        return true;
    host.Warning(QStringLiteral("Somente se pode ligar ou desligar quando o Ondrel estiver "
                                "configurado no modo escravo."));
    return false;
}
