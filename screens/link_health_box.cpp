#include "link_health_box.h"

#include "link_stats.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStringList>

namespace {

QLabel *Value(const QString &name) {
    auto *value = new QLabel(QStringLiteral("0"));
    value->setObjectName(name);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return value;
}

QString capitalised(QString text) {
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

// The round trip's four figures: object name, caption shown, caption said.
struct tRoundTripFigure {
    const char *name;
    const char *shown;
    const char *said;
};
constexpr tRoundTripFigure roundTripFigures[] = {
    {"lblLinkRtMin", "mín", "Ida e volta mínimo"},
    {"lblLinkRtMedian", "mediana", "Ida e volta mediana"},
    {"lblLinkRtP95", "p95", "Ida e volta p95"},
    {"lblLinkRtMax", "máx", "Ida e volta máximo"},
};

} // namespace

TLinkHealthBox::TLinkHealthBox(QWidget *parent)
    : QWidget(parent), btnLinkReset(new QPushButton(QStringLiteral("Zerar"))),
      total{QStringLiteral("Trocas"), Value(QStringLiteral("lblLinkTotal")), {}} {
    setObjectName(QStringLiteral("grpLinkHealth"));
    setAccessibleName(QStringLiteral("Saúde da comunicação"));
    btnLinkReset->setObjectName(QStringLiteral("btnLinkReset"));
    btnLinkReset->setAccessibleName(QStringLiteral("Zerar a saúde da comunicação"));
    btnLinkReset->setToolTip(QStringLiteral("Começa a contagem de novo"));

    // Three columns of "label value" pairs: the total first, then one per
    // outcome in the table's order.
    auto *grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(2);
    int at = 0;
    constexpr int pairs = 3;
    auto place = [&](const tFigure &f) {
        grid->addWidget(new QLabel(f.caption), at / pairs, (at % pairs) * 2);
        grid->addWidget(f.value, at / pairs, (at % pairs) * 2 + 1);
        ++at;
    };
    place(total);
    for (const tOutcomeRow &row : outcomeRows) {
        outcomes << tFigure{capitalised(QString::fromUtf8(row.label)),
                            Value(QStringLiteral("lblLink_") + QLatin1String(row.name)),
                            {}};
        place(outcomes.back());
    }
    for (int c = 1; c < 2 * pairs; c += 2)
        grid->setColumnStretch(c, 1);

    // The round trips on a line of their own, each figure with its caption.
    auto *trips = new QHBoxLayout;
    trips->setSpacing(4);
    trips->addWidget(new QLabel(QStringLiteral("Ida e volta")));
    for (size_t i = 0; i < roundTrip.size(); ++i) {
        const tRoundTripFigure &f = roundTripFigures[i];
        roundTrip[i] = {QString::fromUtf8(f.said), Value(QLatin1String(f.name)),
                        QStringLiteral("ms")};
        trips->addSpacing(8);
        trips->addWidget(new QLabel(QString::fromUtf8(f.shown)));
        trips->addWidget(roundTrip[i].value);
    }
    trips->addWidget(new QLabel(QStringLiteral("ms")));
    trips->addStretch(1);
    auto *resetRow = new QHBoxLayout;
    resetRow->addStretch(1);
    resetRow->addWidget(btnLinkReset);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(4);
    column->addLayout(grid);
    column->addLayout(trips);
    column->addStretch(1);
    column->addLayout(resetRow);
    setToolTip(QStringLiteral("Ida e volta: tempo das trocas boas, do pedido ao último byte da "
                              "resposta: mínimo, mediana, 95º percentil e máximo"));

    Set(total, QStringLiteral("0"));
    for (const tFigure &f : outcomes)
        Set(f, QStringLiteral("0"));
    for (const tFigure &f : roundTrip)
        Set(f, QStringLiteral("—"));
    connect(btnLinkReset, &QPushButton::clicked, this, &TLinkHealthBox::resetRequested);
}

void TLinkHealthBox::Set(const tFigure &figure, const QString &text) {
    figure.value->setText(text);
    const bool number = text != QStringLiteral("—");
    figure.value->setAccessibleName(
        figure.caption + QStringLiteral(": ") + text +
        (number && !figure.unit.isEmpty() ? u' ' + figure.unit : QString()));
}

void TLinkHealthBox::Show(const tLinkStats &stats) {
    Set(total, QString::number(stats.Total()));
    for (qsizetype i = 0; i < outcomes.size(); ++i)
        Set(outcomes[i], QString::number(stats.Of(outcomeRows[i].outcome)));
    // The exceptions by their code, where the controller's refusals show.
    QStringList codes;
    for (int32_t code = 0; code < 256; ++code)
        if (const uint64_t n = stats.OfException(code))
            codes << QStringLiteral("código %1: %2").arg(code).arg(n);
    outcomes[qsizetype(tOutcome::Exception)].value->setToolTip(codes.join(u'\n'));
    const tRoundTrip r = stats.RoundTrip();
    const double figures[] = {r.min, r.median, r.p95, r.max};
    for (size_t i = 0; i < roundTrip.size(); ++i)
        Set(roundTrip[i],
            r.count == 0 ? QStringLiteral("—") : QLocale().toString(figures[i], 'f', 1));
}
