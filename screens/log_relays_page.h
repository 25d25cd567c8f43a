#pragma once

#include "event_log.h"
#include "log_walk.h"
#include "page.h"
#include "screen_host.h"

#include <QElapsedTimer>

#include <array>

class QLabel;
class QProgressBar;
class QSpinBox;
class QTableWidget;
class QTabWidget;

// pnlLogRelays: the relay event log, one table per relay.
class TLogRelaysPage : public TPage {
    Q_OBJECT
  public:
    explicit TLogRelaysPage(ScreenHost &host, QWidget *parent = nullptr);

    void LoadSettings(const tSettings &s) override;
    void StoreSettings(tSettings &s) const override;
    void FollowState(const tOndrel &dev) override { SetRelayCount(dev.nRelay); }

    // Reads the controller's log into the tables, newest first, letting the
    // window run between slots.
    void btnLogGetClick();
    // Ends a running read after the slot being read has been listed.
    void btnLogCancelClick() { stsCom = 0; }
    // Clears the controller's log after confirmation; the tables keep their rows.
    void btnLogClearClick();
    // Saves the rows of the four tables in one CSV file.
    void btnLogExportClick();
    // The same rows as a spreadsheet file (.xlsx), with typed cells.
    void btnLogXlsxClick();

    // Empties the four tables; each table's "tag" counts its rows.
    void InitGridLogs();
    // Enables or disables together what must not run during a read.
    void ButtonsLogState(bool enabled);
    // Appends `slot` to the table of its relay.
    void PrintLog(const tSlotLog &slot);
    void PlotLog(QTableWidget *grid, const tSlotLog &slot);
    // Enables the tabs of relays 2..4 for the relays the model has.
    void SetRelayCount(int nRelay);

    // True from the click on "Ler LOG" until the read has ended.
    bool Reading() const { return reading; }
    // The name the export proposes: <model>-LOG-<yyyyMMdd-HHmm>.csv.
    QString ExportName(const QDateTime &now) const;

    QTabWidget *tabLogRelay;
    std::array<QTableWidget *, 4> stgRL{};
    QPushButton *btnLogGet;
    QPushButton *btnLogCancel;
    QPushButton *btnLogClear;
    QPushButton *btnLogExport;
    QPushButton *btnLogXlsx;
    QSpinBox *edtLogMax;
    QProgressBar *prgLog;
    QLabel *lblLogProgress;

  private:
    // The rows of the tables, from the slots they were made of.
    std::vector<tLogRow> ExportRows() const;
    // Asks where, writes the rows there with `write`, says how it went.
    void Export(const QString &filter, const QString &suffix,
                bool (*write)(const QString &, const std::vector<tLogRow> &, QString *));
    // The read of at most n + 1 slots that "Ler LOG" starts.
    tTask<int32_t> ReadLog(int n);
    // Shows which slot of how many is being read and the time left.
    void ShowProgress(int index, int total);
    // The end of every read: buttons back, the status refresh running again
    // while connected, and when the log was there, the bar complete and the
    // figures of the read with why it ended.
    void EndRead(const tLogWalkResult &walk);
    int Rows() const;

    // 1 while a read may go on; "Cancelar" and the read's own limit set it to 0.
    int stsCom = 0;
    bool reading = false;
    // The model the rows were read from (the export's name; the session may
    // have ended since).
    QString rowsModel;
    QElapsedTimer readClock;
    QElapsedTimer walkClock;
};
