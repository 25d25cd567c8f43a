#pragma once

#include "page.h"
#include "screen_host.h"

class QCheckBox;
class QComboBox;
class QTimer;
class QPlainTextEdit;
class QSpinBox;

// pnlConnection: port, address, speed and time-out, the connect button, the
// configuration file buttons and the event memo.
class TConnectionPage : public TPage {
    Q_OBJECT
  public:
    explicit TConnectionPage(ScreenHost &host, QWidget *parent = nullptr);

    void LoadSettings(const tSettings &s) override;
    void StoreSettings(tSettings &s) const override;
    void FollowState(const tOndrel &dev) override;
    // A line at the end of the event memo, scrolled into view.
    void AppendLog(const QString &text);

    void btnUpDatePortsClick();
    void spiBaudChange();
    void spiTimeoutChange();
    void btnCntClick();
    void btnClearClick();
    void btnLoadConfigClick();
    void btnSaveConfigClick();

    // Refills the port list when the system's list changed, keeping the
    // selected port when it is still there. Runs by itself every few
    // seconds while no session is open, so adapters plugged in or pulled
    // out show up without pressing "Atualizar".
    void RefreshPorts();

    // Selects the entry named `name`; false (selection unchanged) when absent.
    bool SelectPort(const QString &name);

    QComboBox *cbxPort;
    QPushButton *btnUpDatePorts;
    QSpinBox *edtID;
    QSpinBox *spiBaud;
    QSpinBox *spiTimeout;
    QCheckBox *cbxFastRead;
    QPushButton *btnCnt;
    QWidget *LayoutIndConnect;
    QPushButton *btnLoadConfig;
    QPushButton *btnSaveConfig;
    QPlainTextEdit *memoLog;
    QPushButton *btnClear;

  Q_SIGNALS:
    // The model banner's new text.
    void bannerChanged(const QString &text);
    // A controller has just been identified.
    void deviceConnected();
    // After every connection attempt and every disconnection.
    void connectionChanged();

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void Connect();
    void Disconnect();
    void FillPorts(const QStringList &names, const QStringList &descriptions);

    QTimer *portPoll;
};
