#include "relay_param_page.h"

#include <QLabel>
#include <QVBoxLayout>

TNopPage::TNopPage(QWidget *parent)
    : TRelayParamPage({QStringLiteral("pnlNop"), QStringLiteral("lblCaptionNOP"), {}, {}, {}},
                      parent) {
    auto *text = new QLabel(
        QStringLiteral("Este rele não terá nenhum modo de trabalho, ele está inoperante."));
    text->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);
    Body()->insertWidget(1, text, 1);
}
