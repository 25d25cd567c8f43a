#pragma once

#include <QWidget>

#include <array>

class QLabel;
class QPushButton;
class tLinkStats;

// "Saúde da comunicação": the exchanges of the session by how they ended,
// one line per kind of failure from the outcome table, and the round trips
// of the good ones. "Zerar" asks for the figures to start again. Each figure
// is named to a screen reader by its caption and its value together.
class TLinkHealthBox : public QWidget {
    Q_OBJECT
  public:
    explicit TLinkHealthBox(QWidget *parent = nullptr);
    void Show(const tLinkStats &stats);

    QPushButton *btnLinkReset;

  Q_SIGNALS:
    void resetRequested();

  private:
    // A figure and the caption it is said with.
    struct tFigure {
        QString caption;
        QLabel *value = nullptr;
        QString unit;
    };
    static void Set(const tFigure &figure, const QString &text);

    tFigure total;
    QList<tFigure> outcomes; // in the order of the outcome table
    // Round trips of the good exchanges: minimum, median, p95, maximum.
    std::array<tFigure, 4> roundTrip;
};
