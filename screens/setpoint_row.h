#pragma once

#include "param_fields.h"

#include <QObject>

#include <array>

class QCheckBox;
class QGridLayout;
class QWidget;
class TNumberBox;

// One timer set-point as a row of controls: "Habilitar", the switch-on time
// and the second time as hours and minutes, and the seven days. The eleven
// controls after the enable box are enabled exactly while it is checked.
// Names follow the row: cbx<name>EN, edt<name>HourInit ... cbx<name>Sat.
class TSetPointRow : public QObject {
    Q_OBJECT
  public:
    // Builds the row's controls into `grid` at `row`, columns 0..11.
    TSetPointRow(const QString &name, QGridLayout *grid, int row, QWidget *parent);

    // The headings of a block of rows, into `grid` at `row`.
    static void AddHeadings(QGridLayout *grid, int row, QWidget *parent);

    void Fill(int32_t word);
    int32_t Collect() const;
    // True when the word's times cannot be shown (above 23:59).
    bool Clamped(int32_t word) const;

    QCheckBox *Enable() const { return enable; }
    // Every control of the row, the enable box first.
    QList<QWidget *> Controls() const;

  private:
    void Follow();

    QCheckBox *enable;
    std::array<TNumberBox *, 4> times{}; // start hours, minutes, end hours, minutes
    std::array<QCheckBox *, 7> days{};
};
