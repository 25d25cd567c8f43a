#pragma once

#include "alarm_store.h"
#include "history_curve.h"
#include "page.h"

#include <QDateTime>

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QDoubleSpinBox;
class QLineEdit;
class QTabWidget;
class QSpinBox;
class QTableWidget;
class QThread;
class QTimer;
class THistoryChart;
class tHistoryStore;

// pnlHist: the history of a controller's four sensors over a chosen range,
// with its relays under the curve, limits per sensor, the stretches outside
// them shaded and listed, the PDF report and the readings as CSV. It reads
// the history file only; while its range ends now it follows new readings.
class THistoryPage : public TPage {
    Q_OBJECT
  public:
    enum class tRange { Hour, Day, Week, Month, Year, Period };

    explicit THistoryPage(ScreenHost &host, QWidget *parent = nullptr);
    ~THistoryPage() override;

    // The history file to read (not owned; nullptr: none).
    void SetStore(tHistoryStore *store);
    // The controller connected now: chosen in the list when the file holds it.
    void SetConnected(const tHistController &controller);
    // A reading of a controller as it was taken: the curve follows it at
    // once when its range ends now and the controller is the one shown.
    void AddLive(int64_t controller, const tStatusReading &reading);
    // Lists the controllers of the file again and redraws.
    void VisitRead() override;
    // The recording's interval and the history's retention.
    void LoadSettings(const tSettings &s) override;
    void StoreSettings(tSettings &s) const override;

    void SetRange(tRange range);
    tRange Range() const { return range; }
    // The range shown: [from, to) in UTC ms.
    int64_t FromMs() const { return fromMs; }
    int64_t ToMs() const { return toMs; }
    int64_t ControllerShown() const;
    tSensorLimits Limits() const;
    const tCurve &Curve() const { return curve; }
    // Every excursion of the range, oldest first, with its sensor (0..3);
    // found beside the window after the curve is drawn.
    bool SearchingExcursions() const { return searchCancel != nullptr; }
    const std::vector<std::pair<int, tHistExcursion>> &Excursions() const { return excursions; }

    // The alarm episodes of the file changed (an acknowledgement written, an
    // alarm opened or closed, its extreme moved): listed and drawn anew.
    void AlarmsChanged();
    // A limit edited went in, or not: then the boxes show the file's again.
    void LimitsSaved(bool ok);
    // An acknowledgement asked for went in (its comment is cleared) or not.
    void Acknowledged(int64_t episode, bool ok);
    // The alarm episodes of the range shown, newest first.
    const std::vector<tAlarmEpisode> &Episodes() const { return episodes; }

    // The page's clock: the end of the preset ranges (tests set it).
    void SetClock(std::function<QDateTime()> now) { clock = std::move(now); }

    void btnHistReportClick();
    void btnHistCsvClick();
    // The readings as a spreadsheet file (.xlsx), with typed cells.
    void btnHistXlsxClick();
    // Queries the range again and draws it, with the excursion list.
    void Redraw();

    QComboBox *cbxHistController;
    std::array<QPushButton *, 6> btnHistRange{};
    QDateTimeEdit *edtHistDe;
    QDateTimeEdit *edtHistAte;
    std::array<QCheckBox *, 4> cbxHistSensor{};
    std::array<QDoubleSpinBox *, 4> edtHistMin{};
    std::array<QDoubleSpinBox *, 4> edtHistMax{};
    QTableWidget *stgHistExc;
    // The excursions and the alarm episodes, a tab each.
    QTabWidget *tabHistSide;
    QTableWidget *stgHistAlarm;
    QLineEdit *edtHistAlarmComment;
    QPushButton *btnHistAck;
    QPushButton *btnHistReport;
    QPushButton *btnHistCsv;
    QPushButton *btnHistXlsx;
    QLabel *lblHistInfo;
    THistoryChart *chart;
    // Narrows the curve to the stretch of the range that holds readings.
    QCheckBox *cbxHistFit;
    // The recording: seconds between readings, days kept (0: all).
    QSpinBox *edtRecInterval;
    QSpinBox *edtHistKeep;

  Q_SIGNALS:
    // The recording interval or the history's retention was set.
    void recordingChanged(int32_t intervalSec, int32_t keepDays);
    // A sensor's alarm limits were edited (nullopt: none left), for the
    // file; the boxes show the file's again at AlarmsChanged.
    void limitsEdited(const QString &port, int32_t address, int32_t sensor,
                      const std::optional<tAlarmLimits> &limits);
    // "Reconhecer" on an episode, with the comment written.
    void acknowledged(int64_t episode, const QString &comment);

  protected:
    void resizeEvent(QResizeEvent *event) override;

  private:
    void FillControllers();
    // The controller shown as the file holds it.
    std::optional<tHistController> Shown() const;
    // The limit boxes from the file's alarm limits of the controller shown.
    void LoadLimits();
    void LimitEdited(size_t k);
    void LoadEpisodes();
    void ListEpisodes();
    void btnHistAckClick();
    // Shows [startMs, endMs) with a little of before and after.
    void ShowStretch(int64_t startMs, int64_t endMs);
    void RangeFromNow();
    // Starts the search for the excursions of the range shown.
    void FindExcursions(int64_t controller, const tSensorLimits &limits);
    // Loads the curve again over the span of its readings, when they fill
    // only part of the range.
    void FitToData(int64_t controller, const tSensorLimits &limits);
    void ListExcursions();
    // Draws the curve held, with the live readings newer than the store's.
    void Draw();
    QString FileName(const QString &kind, const QString &suffix) const;
    using tReadingsWriter = bool (*)(tHistoryStore &, int64_t, int64_t, int64_t, const QString &,
                                     QString *);
    // Asks where, writes the readings of the range there, says how it went.
    void ExportReadings(const QString &filter, const QString &suffix, const tReadingsWriter &write);

    tHistoryStore *store = nullptr;
    tHistController connected;
    tRange range = tRange::Day;
    int64_t fromMs = 0, toMs = 0;
    int32_t unit = 0;
    tCurve curve;
    std::vector<std::pair<int, tHistExcursion>> excursions;
    std::vector<tAlarmEpisode> episodes;
    int64_t chosenEpisode = 0; // the episode chosen in the list, by number
    bool listing = false;      // the list is being rebuilt
    // The alarm limits as the file holds them for `limitsOf`, the
    // controller whose limits the boxes show.
    tAlarmSettings alarmSettings;
    int64_t limitsOf = -1;
    // The last hour of readings of the controller shown, as they came.
    std::deque<tStatusReading> live;
    QTimer *liveRedraw;
    QDateTime lastQuery;
    std::function<QDateTime()> clock;
    bool filling = false;
    // Set to stop the excursion search running; null when none runs.
    std::shared_ptr<std::atomic<bool>> searchCancel;
    std::vector<QThread *> workers;
    // The plot changed size: its columns must be asked again.
    bool requery = false;
};
