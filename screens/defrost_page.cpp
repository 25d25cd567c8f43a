#include "relay_param_page.h"

TDefrostPage::TDefrostPage(QWidget *parent)
    : TRelayParamPage({QStringLiteral("pnlDefrost"),
                       QStringLiteral("lblCaptionDefrost"),
                       QStringLiteral("tabDefrost"),
                       {QStringLiteral("tabDefrostMain=Principal"),
                        QStringLiteral("tabDefrostAdvanced=Avançado")},
                       {QStringLiteral("btnDefrostRead"), QStringLiteral("btnDefrostWrite"),
                        QStringLiteral("Button3")}},
                      parent) {}
