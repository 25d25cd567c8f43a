#include "setpoint_row.h"

#include "number_box.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>

namespace {
constexpr const char *timeNames[] = {"HourInit", "MinInit", "HourEnd", "MinEnd"};
constexpr const char *dayNames[] = {"Sum", "Mon", "Tu", "We", "Thu", "Fri", "Sat"};
constexpr const char *dayHeadings[] = {"Domingo", "Segunda", "Terça", "Quarta",
                                       "Quinta",  "Sexta",   "Sábado"};
constexpr const char *timeHeadings[] = {"Hora de Acionamento", "Duração"};

// "TiSet2" -> "Horário 2"; another name is said as it is.
QString RowCaption(const QString &name) {
    const QString digits = name.right(1);
    return digits.front().isDigit() ? QStringLiteral("Horário %1").arg(digits) : name;
}
} // namespace

TSetPointRow::TSetPointRow(const QString &name, QGridLayout *grid, int row, QWidget *parent)
    : QObject(parent), enable(new QCheckBox(QStringLiteral("Habilitar"), parent)) {
    enable->setObjectName(QStringLiteral("cbx%1EN").arg(name));
    // A screen reader names each box by its row and its column heading.
    const QString rowName = RowCaption(name);
    enable->setAccessibleName(QStringLiteral("%1: habilitar").arg(rowName));
    grid->addWidget(enable, row, 0);
    for (size_t i = 0; i < times.size(); ++i) {
        auto *box = new TNumberBox(1, parent);
        box->setObjectName(QStringLiteral("edt%1%2").arg(name, QLatin1String(timeNames[i])));
        box->setRange(0, i % 2 == 0 ? 23 : 59);
        box->setFixedWidth(50);
        box->setAccessibleName(
            QStringLiteral("%1: %2 (%3)")
                .arg(rowName, QString::fromUtf8(timeHeadings[i / 2]),
                     i % 2 == 0 ? QStringLiteral("horas") : QStringLiteral("minutos")));
        times[i] = box;
    }
    // hh : mm under each time heading.
    for (int t = 0; t < 2; ++t) {
        auto *cell = new QHBoxLayout;
        cell->setSpacing(2);
        cell->addWidget(times[size_t(2 * t)]);
        cell->addWidget(new QLabel(QStringLiteral(":"), parent));
        cell->addWidget(times[size_t(2 * t + 1)]);
        // Hours and minutes stay together under a heading wider than both.
        cell->addStretch(1);
        grid->addLayout(cell, row, 1 + t);
    }
    for (size_t d = 0; d < days.size(); ++d) {
        days[d] = new QCheckBox(parent);
        days[d]->setObjectName(QStringLiteral("cbx%1%2").arg(name, QLatin1String(dayNames[d])));
        days[d]->setAccessibleName(
            QStringLiteral("%1: %2").arg(rowName, QString::fromUtf8(dayHeadings[d])));
        grid->addWidget(days[d], row, 3 + int(d), Qt::AlignCenter);
    }
    connect(enable, &QCheckBox::toggled, this, &TSetPointRow::Follow);
    Follow();
}

void TSetPointRow::AddHeadings(QGridLayout *grid, int row, QWidget *parent) {
    grid->addWidget(new QLabel(QString::fromUtf8(timeHeadings[0]), parent), row, 1);
    grid->addWidget(new QLabel(QString::fromUtf8(timeHeadings[1]), parent), row, 2);
    for (int d = 0; d < 7; ++d)
        grid->addWidget(new QLabel(QString::fromUtf8(dayHeadings[d]), parent), row, 3 + d,
                        Qt::AlignCenter);
    // Room the rows do not need goes after the last day.
    grid->setColumnStretch(10, 1);
    grid->setHorizontalSpacing(14);
}

QList<QWidget *> TSetPointRow::Controls() const {
    QList<QWidget *> all{enable};
    for (TNumberBox *t : times)
        all << t;
    for (QCheckBox *d : days)
        all << d;
    return all;
}

void TSetPointRow::Follow() {
    const bool on = enable->isChecked();
    for (QWidget *w : Controls().mid(1))
        w->setEnabled(on);
}

void TSetPointRow::Fill(int32_t word) {
    const tSetPoint sp = unpackSetPoint(word);
    for (size_t d = 0; d < days.size(); ++d)
        days[d]->setChecked(sp.days[d]);
    times[0]->setValue(sp.start.hours);
    times[1]->setValue(sp.start.minutes);
    times[2]->setValue(sp.end.hours);
    times[3]->setValue(sp.end.minutes);
    enable->setChecked(sp.enabled);
}

int32_t TSetPointRow::Collect() const {
    tSetPoint sp;
    sp.enabled = enable->isChecked();
    for (size_t d = 0; d < days.size(); ++d)
        sp.days[d] = days[d]->isChecked();
    sp.start = {.hours = times[0]->value(), .minutes = times[1]->value()};
    sp.end = {.hours = times[2]->value(), .minutes = times[3]->value()};
    return packSetPoint(sp);
}

bool TSetPointRow::Clamped(int32_t word) const {
    const tSetPoint sp = unpackSetPoint(word);
    return sp.start.hours > 23 || sp.end.hours > 23;
}
