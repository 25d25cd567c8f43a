#pragma once

#include "page.h"
#include "screen_host.h"

#include <QDateTime>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTimeEdit;
class TFieldForm;

// pnlRTC: the controller's clock (date, time, weekday, display format), its
// calibration and the calibration clock output.
class TRtcPage : public TPage {
    Q_OBJECT
  public:
    explicit TRtcPage(ScreenHost &host, QWidget *parent = nullptr);

    void FollowState(const tOndrel &dev) override;
    void Refill() override;
    void VisitRead() override { btnRTCLerClick(); }

    // "Atualizar": the computer's date, time and weekday, from one reading.
    void btnReadRTCOSClick();
    void btnRTCLerClick();
    // Fills the date group from Ondrel, without traffic.
    void SetParRTC();
    // The two format lists alone, from System[7] and System[8].
    void SetParRTCFormat();
    void btnRTCAplicarClick();
    void cbxRtcEnChange();
    void btnRTCReadClick();
    // Fills the calibration boxes from Ondrel, without traffic.
    void SetParRTCCAL();
    void btnRTCApplyClick();
    void btnRTCClick();

    // The computer's local clock; tests put a fixed one in its place.
    std::function<QDateTime()> ComputerClock = [] { return QDateTime::currentDateTime(); };

    TFieldForm *FormatForm() const { return formatForm; }
    TFieldForm *CalibrationForm() const { return calForm; }

    QDateEdit *edtDate;
    QTimeEdit *edtTime;
    QComboBox *cbxWeekday;
    QLabel *lblClockDiff;
    QPushButton *btnReadRTCOS;
    QPushButton *btnRTCLer;
    QPushButton *btnRTCAplicar;
    QCheckBox *cbxRtcEn;
    QPushButton *btnRTCRead;
    QPushButton *btnRTCApply;
    QPushButton *btnRTC;

  protected:
    void showEvent(QShowEvent *event) override;
    void BlocksRead(uint32_t blocks) override;

  private:
    // A model without a clock is sent no clock command from this page.
    bool ClockAllowed() const;
    bool Refused();
    // The writes send what the page shows: the clock's only once its format
    // lists show the controller's (read, or loaded from a file), the
    // calibration's only once it has been read in this connection.
    bool ClockWritable() const;
    bool CalibrationWritable() const;
    void FollowControls();
    void Disconnect();

    TFieldForm *formatForm;
    TFieldForm *calForm;
    // The controller's clock has been read in this run: until then the
    // clock fields in memory are not a date to show (or to call invalid).
    bool clockRead = false;
    std::array<int32_t, 2> calBlock{};
};
