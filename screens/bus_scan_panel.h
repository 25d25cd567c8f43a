#pragma once

#include <QWidget>

class QCheckBox;
class QListWidget;
class QProgressBar;
class QPushButton;
class tSession;
template <class T> class tTask;

// "Procurar controladores": the scan of a bus from the connection page, its
// progress, "Cancelar", and the list of what answered. Choosing a line of
// the list hands its address and speed to the page.
class TBusScanPanel : public QWidget {
    Q_OBJECT
  public:
    explicit TBusScanPanel(QWidget *parent = nullptr);

    // Scans `port` at `speed` (every speed code with "Todas as velocidades")
    // and lists what answers, the window live meanwhile; returns once done
    // or cancelled, with the number found, or the driver's failure to open
    // the port (negative).
    tTask<int32_t> Run(tSession &session, QString port, int32_t speed);
    bool Running() const { return running; }
    void Cancel();

    QCheckBox *cbxScanSpeeds;
    QProgressBar *prgScan;
    QPushButton *btnScanCancel;
    QListWidget *lstFound;

  Q_SIGNALS:
    void chosen(int id, int speed);
    // A scan began or ended: the page's controls follow it.
    void runningChanged(bool running);

  private:
    bool running = false;
    bool cancelled = false;
    tSession *scanning = nullptr;
};
