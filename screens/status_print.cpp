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

void PrintTemp(QLabel *value, QLabel *min, QLabel *max, const tStatusReading &r, int k) {
    static const QString noStat = QStringLiteral("---  ");
    QString n = noStat;
    QString x = noStat;
    if (r.state[size_t(k)] == stsTEMP_OK) {
        const QString unit = unitText(r.unit);
        n = QStringLiteral("Min: ") + tenthsText(r.min[size_t(k)]) + unit + QStringLiteral("  ");
        x = QStringLiteral("Max: ") + tenthsText(r.max[size_t(k)]) + unit + QStringLiteral("  ");
    }
    setTextIfChanged(value, SensorText(r, k));
    setTextIfChanged(min, n);
    setTextIfChanged(max, x);
}

void printRelay(QLabel *state, TColorButton *lamp, int32_t on) {
    if (Tag(state) == on)
        return;
    SetTag(state, on);
    state->setText(RelayStateText(on));
    lamp->setColor(on == 1 ? clRELAY_ON : clRELAY_OFF);
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
