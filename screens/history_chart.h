#pragma once

// The history curve on screen: a plot widget fed a tCurve (min and max per
// pixel column, relay shares, shaded stretches), never the readings.

#include "history_curve.h"

#include <QWidget>

class QCustomPlot;
class QCPAxisRect;

class THistoryChart : public QWidget {
    Q_OBJECT
  public:
    explicit THistoryChart(QWidget *parent = nullptr);

    // Draws `curve`, showing the sensors `shown` marks.
    void Show(const tCurve &curve, const std::array<bool, 4> &shown = {true, true, true, true});
    // The columns the curve area has now: ask the store for this many buckets.
    int Columns() const;

    QCustomPlot *Plot() const { return plot; }

  private:
    QCustomPlot *plot;
    QCPAxisRect *relayRect;
};
