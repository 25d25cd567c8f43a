#pragma once

#include <QGroupBox>

class QLabel;
class QPushButton;
class tLinkStats;

// "Saúde da comunicação": the exchanges of the session by how they ended,
// one line per kind of failure from the outcome table, and the round trips
// of the good ones. "Zerar" asks for the figures to start again.
class TLinkHealthBox : public QGroupBox {
    Q_OBJECT
  public:
    explicit TLinkHealthBox(QWidget *parent = nullptr);
    void Show(const tLinkStats &stats);

    QPushButton *btnLinkReset;

  Q_SIGNALS:
    void resetRequested();

  private:
    QLabel *lblLinkTotal;
    QList<QLabel *> outcomeValues; // in the order of the outcome table
    QLabel *lblLinkRoundTrip;
};
