#pragma once

#include "config_sync.h"
#include "page.h"
#include "screen_host.h"

class QCheckBox;
class TBusScanPanel;
class TLinkHealthBox;
class QComboBox;
class QTimer;
class QPlainTextEdit;
class QSpinBox;
class QTabWidget;

// pnlConnection: port, address, speed and time-out, the connect button, the
// configuration file buttons and the event memo.
class TConnectionPage : public TPage {
    Q_OBJECT
  public:
    explicit TConnectionPage(ScreenHost &host, QWidget *parent = nullptr);

    void LoadSettings(const tSettings &s) override;
    void StoreSettings(tSettings &s) const override;
    void FollowState(const tOndrel &dev) override;
    // A scan running stops at its next address.
    // A line at the end of the event memo, scrolled into view.
    void AppendLog(const QString &text);

    void btnUpDatePortsClick();
    void spiBaudChange();
    void spiTimeoutChange();
    void btnCntClick();
    void btnClearClick();
    // Finds the controllers on the chosen port; a line chosen in the list
    // sets the address and the speed.
    void btnScanClick();
    // The configuration file (connection_config.cpp).
    void btnLoadConfigClick();
    void btnSaveConfigClick();
    // Writes the configuration loaded from a file to the controller, reads
    // every block back and says what differs.
    void btnApplyConfigClick();

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
    QPushButton *btnApplyConfig;
    QPlainTextEdit *memoLog;
    QPushButton *btnClear;
    QPushButton *btnScan;
    TBusScanPanel *BusScan;
    TLinkHealthBox *LinkHealth;
    // The link's figures and the scan, one shown at a time.
    QTabWidget *tabLink;

  Q_SIGNALS:
    // The model banner's new text.
    void bannerChanged(const QString &text);
    // One line of the session's link figures, whenever they are shown anew.
    void linkSummaryChanged(const QString &text);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    tTask<int32_t> Connect();
    tTask<int32_t> Scan(QString port);
    // What is typed or chosen in the port box; empty when nothing.
    QString PortChosen() const;
    QStringList Listed(const QStringList &names) const;
    // A network address connected to goes first among the remembered ones.
    void Remember(const QString &port);
    QStringList recent;
    // The session opened or ended, here or anywhere else.
    void ConnectionChanged(bool connected);
    void FillPorts(const QStringList &names, const QStringList &descriptions);
    // The blocks a save needs and the copy does not hold yet, read first;
    // false when a read failed (and was reported).
    tTask<bool> ReadMissingBlocks();
    tTask<bool> SaveConfigTo(QString name);
    tTask<bool> ApplyConfig(tConfigValues wanted);

    QTimer *portPoll;
    // Shows the link figures while a session is open.
    QTimer *healthPoll;
    void ShowLinkHealth();
    // The file last chosen in the open dialog, for the rest of the run.
    QString lastConfigFile;
};
