#include "link_settings.h"

#include <QStringList>

QString SpeedCodesText() {
    QStringList codes;
    for (int32_t code = minBAUD_CODE; code <= maxBAUD_CODE; ++code)
        codes << QStringLiteral("%1 = %2").arg(code).arg(BaudRateOf(code));
    return codes.join(QStringLiteral(", ")) + QStringLiteral(" bit/s");
}
