#include "link_health_box.h"

#include "link_stats.h"

#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStringList>

namespace {

QLabel *Value(const QString &name, const QString &label) {
    auto *value = new QLabel(QStringLiteral("0"));
    value->setObjectName(name);
    value->setAccessibleName(label);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return value;
}

QString capitalised(QString text) {
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

} // namespace

TLinkHealthBox::TLinkHealthBox(QWidget *parent)
    : QGroupBox(QStringLiteral("Saúde da comunicação"), parent),
      btnLinkReset(new QPushButton(QStringLiteral("Zerar"))),
      lblLinkTotal(Value(QStringLiteral("lblLinkTotal"), QStringLiteral("Trocas"))),
      lblLinkRoundTrip(new QLabel) {
    setObjectName(QStringLiteral("grpLinkHealth"));
    btnLinkReset->setObjectName(QStringLiteral("btnLinkReset"));
    btnLinkReset->setAccessibleName(QStringLiteral("Zerar a saúde da comunicação"));
    btnLinkReset->setToolTip(QStringLiteral("Começa a contagem de novo"));
    // The page is tight: the box must not squeeze its button.
    btnLinkReset->setMinimumHeight(btnLinkReset->sizeHint().height());
    lblLinkRoundTrip->setObjectName(QStringLiteral("lblLinkRoundTrip"));
    lblLinkRoundTrip->setAccessibleName(QStringLiteral("Ida e volta"));
    lblLinkRoundTrip->setToolTip(
        QStringLiteral("Tempo das trocas boas, do pedido ao último byte da resposta: mínimo, "
                       "mediana, 95º percentil e máximo"));

    // Three columns of "label value" pairs: the total first, then one per
    // outcome in the table's order.
    auto *grid = new QGridLayout(this);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(1);
    int at = 0;
    constexpr int pairs = 3;
    auto place = [&](const QString &text, QLabel *value) {
        grid->addWidget(new QLabel(text), at / pairs, (at % pairs) * 2);
        grid->addWidget(value, at / pairs, (at % pairs) * 2 + 1);
        ++at;
    };
    place(QStringLiteral("Trocas"), lblLinkTotal);
    for (const tOutcomeRow &row : outcomeRows) {
        const QString label = capitalised(QString::fromUtf8(row.label));
        QLabel *value = Value(QStringLiteral("lblLink_") + QLatin1String(row.name), label);
        outcomeValues << value;
        place(label, value);
    }
    const int rows = (at + pairs - 1) / pairs;
    grid->addWidget(new QLabel(QStringLiteral("Ida e volta")), rows, 0);
    grid->addWidget(lblLinkRoundTrip, rows, 1, 1, 3);
    grid->addWidget(btnLinkReset, rows, 4, 1, 2, Qt::AlignRight);
    for (int c = 1; c < 2 * pairs; c += 2)
        grid->setColumnStretch(c, 1);
    connect(btnLinkReset, &QPushButton::clicked, this, &TLinkHealthBox::resetRequested);
}

void TLinkHealthBox::Show(const tLinkStats &stats) {
    lblLinkTotal->setText(QString::number(stats.Total()));
    for (qsizetype i = 0; i < outcomeValues.size(); ++i)
        outcomeValues[i]->setText(QString::number(stats.Of(outcomeRows[i].outcome)));
    // The exceptions by their code, where the controller's refusals show.
    QStringList codes;
    for (int32_t code = 0; code < 256; ++code)
        if (const uint64_t n = stats.OfException(code))
            codes << QStringLiteral("código %1: %2").arg(code).arg(n);
    outcomeValues[qsizetype(tOutcome::Exception)]->setToolTip(codes.join(u'\n'));
    const tRoundTrip r = stats.RoundTrip();
    auto ms = [](double v) { return QLocale().toString(v, 'f', 1); };
    lblLinkRoundTrip->setText(
        r.count == 0
            ? QStringLiteral("—")
            : QStringLiteral("%1/%2/%3/%4 ms").arg(ms(r.min), ms(r.median), ms(r.p95), ms(r.max)));
}
