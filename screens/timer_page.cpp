#include "relay_param_page.h"

TTimerPage::TTimerPage(QWidget *parent)
    : TRelayParamPage({QStringLiteral("pnlTimer"),
                       QStringLiteral("lblCaptionTimer"),
                       {},
                       {},
                       {QStringLiteral("btnTimerRead"), QStringLiteral("btnTimerWrite"),
                        QStringLiteral("Button8")}},
                      parent) {}
