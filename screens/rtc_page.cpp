#include "rtc_page.h"

#include "clock_difference.h"
#include "clock_sync.h"
#include "field_form.h"
#include "locale_text.h"
#include "page_action.h"
#include "system_params.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <memory>

namespace {
// The clock's write sends the display format too, which the system block
// carries as well.
constexpr uint32_t formatBlocks = knownFORMAT | knownSYSTEM;
const QString clockNotRead = NotKnownText(formatBlocks) + QStringLiteral(" (o formato vai junto)");
const QString calibrationNotRead = NotKnownText(knownCAL);
const QString noClock = QStringLiteral("Este modelo do Ondrel não tem relógio (RTC)");

// The locale's short date with the year in full, so years below 100 and
// above 9999 never hide behind two digits.
QString DateEditorFormat(const QLocale &locale = QLocale()) {
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy")))
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return format;
}

QLabel *CodeLabel(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

QWidget *FormArea(QWidget *parent) {
    auto *area = new QWidget(parent);
    auto *column = new QVBoxLayout(area);
    column->setContentsMargins(0, 0, 0, 0);
    return area;
}
} // namespace

TRtcPage::TRtcPage(ScreenHost &host_, QWidget *parent)
    : TPage(host_, QStringLiteral("pnlRTC"), QStringLiteral("RTC - Real Time Clock"), parent),
      edtDate(new QDateEdit(this)), edtTime(new QTimeEdit(this)), cbxWeekday(new QComboBox(this)),
      lblClockDiff(new QLabel(this)),
      btnReadRTCOS(Button(QStringLiteral("btnReadRTCOS"), QStringLiteral("Atualizar"), this)),
      btnRTCLer(Button(QStringLiteral("btnRTCLer"), QStringLiteral("Ler"), this)),
      btnRTCAplicar(Button(QStringLiteral("btnRTCAplicar"), QStringLiteral("Gravar"), this)),
      cbxRtcEn(new QCheckBox(QStringLiteral("Liberar Ajustes"), this)),
      btnRTCRead(Button(QStringLiteral("btnRTCRead"), QStringLiteral("Ler"), this)),
      btnRTCApply(Button(QStringLiteral("btnRTCApply"), QStringLiteral("Gravar"), this)),
      btnRTC(
          Button(QStringLiteral("btnRTC"), QStringLiteral("Gerar Clock para Calibração"), this)) {
    auto *groups = new QHBoxLayout;
    groups->setSpacing(12);

    // Date and time.
    auto *dateGroup = new QGroupBox(QStringLiteral("Ajuste de Data e Hora"), this);
    dateGroup->setObjectName(QStringLiteral("grpDateTime"));
    auto *dateColumn = new QVBoxLayout(dateGroup);
    auto *editors = new QGridLayout;
    editors->setHorizontalSpacing(10);
    edtDate->setObjectName(QStringLiteral("edtDate"));
    // Every date the controller can hold, so none is clamped on its way in.
    edtDate->setDateRange(QDate(1, 1, 1), QDate(9999, 12, 31));
    edtDate->setDisplayFormat(DateEditorFormat());
    edtDate->setMinimumWidth(120);
    edtTime->setObjectName(QStringLiteral("edtTime"));
    edtTime->setDisplayFormat(LongTimeFormat());
    edtTime->setMinimumWidth(120);
    cbxWeekday->setObjectName(QStringLiteral("cbxWeekday"));
    cbxWeekday->addItems({QStringLiteral("Domingo"), QStringLiteral("Segunda-feira"),
                          QStringLiteral("Terça-feira"), QStringLiteral("Quarta-feira"),
                          QStringLiteral("Quinta-feira"), QStringLiteral("Sexta-feira"),
                          QStringLiteral("Sábado")});
    cbxWeekday->setCurrentIndex(-1);
    cbxWeekday->setMinimumWidth(140);
    QList<QLabel *> codes = {CodeLabel(QStringLiteral("Data"), dateGroup),
                             CodeLabel(QStringLiteral("Hora"), dateGroup),
                             CodeLabel(QStringLiteral("Dia da semana"), dateGroup)};
    codes[0]->setBuddy(edtDate);
    codes[1]->setBuddy(edtTime);
    codes[2]->setBuddy(cbxWeekday);
    auto *dateRow = new QHBoxLayout;
    dateRow->addWidget(edtDate);
    dateRow->addWidget(btnReadRTCOS);
    dateRow->addStretch(1);
    editors->addWidget(codes[0], 0, 0);
    editors->addLayout(dateRow, 0, 1);
    editors->addWidget(codes[1], 1, 0);
    editors->addWidget(edtTime, 1, 1, Qt::AlignLeft);
    editors->addWidget(codes[2], 2, 0);
    editors->addWidget(cbxWeekday, 2, 1, Qt::AlignLeft);
    editors->setColumnStretch(1, 1);
    dateColumn->addLayout(editors);
    QWidget *formats = FormArea(dateGroup);
    formatForm = new TFieldForm(ClockFormatFields(), {formats}, this);
    dateColumn->addWidget(formats);
    lblClockDiff->setObjectName(QStringLiteral("lblClockDiff"));
    dateColumn->addWidget(lblClockDiff);
    auto *dateButtons = new QHBoxLayout;
    dateButtons->addWidget(btnRTCLer);
    dateButtons->addWidget(btnRTCAplicar);
    dateButtons->addStretch(1);
    dateColumn->addLayout(dateButtons);
    // One column of captions for the editors and the format lists.
    for (const tParamField &f : ClockFormatFields())
        codes << formats->findChild<QLabel *>(QStringLiteral("lbl%1").arg(f.control));
    int width = 0;
    for (QLabel *code : codes)
        width = qMax(width, code->sizeHint().width());
    for (QLabel *code : codes)
        code->setMinimumWidth(width);
    groups->addWidget(dateGroup, 3);

    // Calibration.
    auto *calGroup = new QGroupBox(QStringLiteral("Calibração do RTC (Avançado)"), this);
    calGroup->setObjectName(QStringLiteral("grpCalibration"));
    auto *calColumn = new QVBoxLayout(calGroup);
    cbxRtcEn->setObjectName(QStringLiteral("cbxRtcEn"));
    calColumn->addWidget(cbxRtcEn);
    QWidget *calibration = FormArea(calGroup);
    calForm = new TFieldForm(ClockCalibrationFields(), {calibration}, this);
    calColumn->addWidget(calibration);
    calColumn->addStretch(1);
    auto *calButtons = new QHBoxLayout;
    calButtons->addWidget(btnRTCRead);
    calButtons->addWidget(btnRTCApply);
    calButtons->addStretch(1);
    calColumn->addLayout(calButtons);
    calColumn->addWidget(btnRTC);
    groups->addWidget(calGroup, 2);
    Body()->addLayout(groups);
    Body()->addStretch(1);

    connect(btnReadRTCOS, &QPushButton::clicked, this, &TRtcPage::btnReadRTCOSClick);
    connect(btnRTCLer, &QPushButton::clicked, this, &TRtcPage::btnRTCLerClick);
    BindKey(tPageKey::Read, btnRTCLer);
    connect(btnRTCAplicar, &QPushButton::clicked, this, &TRtcPage::btnRTCAplicarClick);
    connect(cbxRtcEn, &QCheckBox::toggled, this, &TRtcPage::cbxRtcEnChange);
    connect(btnRTCRead, &QPushButton::clicked, this, &TRtcPage::btnRTCReadClick);
    connect(btnRTCApply, &QPushButton::clicked, this, &TRtcPage::btnRTCApplyClick);
    connect(btnRTC, &QPushButton::clicked, this, &TRtcPage::btnRTCClick);
    // The window makes its pages before the device: the first FollowState
    // brings the buttons in line with it.
    for (QWidget *w : {calForm->Control(idxCAL_VAL), calForm->Control(idxCAL_DIR),
                       static_cast<QWidget *>(btnRTCRead), static_cast<QWidget *>(btnRTCApply),
                       static_cast<QWidget *>(btnRTC), static_cast<QWidget *>(btnRTCAplicar)})
        w->setEnabled(false);
    btnRTCAplicar->setToolTip(clockNotRead);
}

void TRtcPage::FollowState(const tOndrel &dev) {
    if (!dev.Connected()) {
        // What was read belongs to the session that ended.
        lblClockDiff->clear();
    }
    FollowControls();
}

void TRtcPage::showEvent(QShowEvent *event) {
    TPage::showEvent(event);
    FollowControls();
}

void TRtcPage::BlocksRead(uint32_t blocks) {
    if (!ClockAllowed())
        return;
    if (blocks & formatBlocks)
        SetParRTCFormat();
    if (blocks & knownCAL)
        SetParRTCCAL();
}

void TRtcPage::Refill() {
    // A model without a clock has no date to call invalid.
    if (!ClockAllowed())
        return;
    // A configuration file carries the clock's formats but not the clock.
    if (clockRead)
        SetParRTC();
    else
        SetParRTCFormat();
    SetParRTCCAL();
}

bool TRtcPage::ClockAllowed() const {
    const tOndrel &dev = host.Ondrel();
    return !dev.Connected() || dev.HaveRTC;
}

bool TRtcPage::Refused() {
    if (ClockAllowed())
        return false;
    host.Report(clERROR, noClock);
    return true;
}

bool TRtcPage::ClockWritable() const {
    return ClockAllowed() && (host.Ondrel().Known & formatBlocks);
}

bool TRtcPage::CalibrationWritable() const {
    const tOndrel &dev = host.Ondrel();
    return ClockAllowed() && dev.Connected() && dev.IsKnown(knownCAL);
}

void TRtcPage::FollowControls() {
    const bool clock = ClockAllowed();
    const bool unlocked = cbxRtcEn->isChecked();
    btnRTCLer->setEnabled(clock);
    btnRTCAplicar->setEnabled(ClockWritable());
    btnRTCAplicar->setToolTip(ClockWritable() ? QString() : clock ? clockNotRead : noClock);
    for (int index : {idxCAL_VAL, idxCAL_DIR})
        calForm->Control(index)->setEnabled(unlocked);
    btnRTCRead->setEnabled(unlocked && clock);
    btnRTC->setEnabled(unlocked && clock);
    btnRTCApply->setEnabled(unlocked && CalibrationWritable());
    btnRTCApply->setToolTip(CalibrationWritable() ? QString()
                            : clock               ? calibrationNotRead
                                                  : noClock);
}

void TRtcPage::btnReadRTCOSClick() {
    // One reading: at midnight, a date and a time taken apart could belong
    // to different days.
    const QDateTime now = ComputerClock();
    edtTime->setTime(now.time());
    edtDate->setDate(now.date());
    // Qt counts Monday 1 to Sunday 7; the controller Sunday 0 to Saturday 6.
    cbxWeekday->setCurrentIndex(now.date().dayOfWeek() % 7);
}

void TRtcPage::btnRTCLerClick() {
    if (Refused())
        return;
    // The controller's time is read in the middle of the exchange: the
    // computer's clock is taken there too, halfway between its start and end.
    QDateTime start;
    auto done = [this, &start] {
        const QDateTime end = ComputerClock();
        clockRead = true;
        SetParRTC();
        const QDateTime middle = start.addMSecs(start.msecsTo(end) / 2);
        lblClockDiff->setText(ClockDifferenceText(ClockDifference(host.Ondrel().RTC, middle)));
    };
    RunAction(host, {.progress = QStringLiteral("Lendo parâmetros de data e hora"),
                     .popup = true,
                     .collect = [this, &start] { start = ComputerClock(); },
                     .commands = {cmdGET_RTC_DATE, cmdGET_RTC_TIME, cmdGET_RTC_FORMAT},
                     .done = done,
                     .success = QStringLiteral("Data e hora lidos com sucesso")});
    FollowControls();
}

void TRtcPage::SetParRTC() {
    const tOndrel &dev = host.Ondrel();
    const QDate date = ControllerDate(dev.RTC);
    if (date.isValid()) {
        edtDate->setDate(date);
    } else {
        host.Warning(QStringLiteral("Data inválida"));
        host.Report(0, QStringLiteral("Data inválida"));
    }
    cbxWeekday->setCurrentIndex(dev.RTC.Weekday <= 6 ? dev.RTC.Weekday : -1);
    const QTime time = ControllerTime(dev.RTC);
    if (time.isValid()) {
        edtTime->setTime(time);
    } else {
        host.Warning(QStringLiteral("Hora inválida"));
        host.Report(0, QStringLiteral("Hora inválida"));
    }
    SetParRTCFormat();
}

void TRtcPage::SetParRTCFormat() {
    const tOndrel &dev = host.Ondrel();
    formatForm->Fill(dev.System.data(), dev);
    FollowControls();
}

void TRtcPage::btnRTCAplicarClick() {
    if (Refused())
        return;
    const int weekday = cbxWeekday->currentIndex();
    if (weekday < 0 || weekday > 6) {
        host.Warning(QStringLiteral("Dia da semana inválido"));
        return;
    }
    tOndrel &dev = host.Ondrel();
    // Filled by `collect`, sent by `write`, which runs after this returns.
    auto setting = std::make_shared<tClockSetting>();
    setting->weekday = weekday;
    setting->format = true;
    auto collect = [this, &dev, setting] {
        formatForm->Collect(dev.System.data());
        setting->date = edtDate->date();
        setting->time = edtTime->time();
    };
    auto write = [this, &dev, setting]() -> tTask<int32_t> {
        tTask<tSyncResult> writing = WriteClock(
            dev, *setting,
            {.send = [this](tCommand cmd) { return host.SendCommand(cmd); }, .progress = {}});
        const tSyncResult r = co_await writing;
        co_return r.result;
    };
    RunAction(host, {.needs = formatBlocks,
                     .progress = QStringLiteral("Envio de comando para ajustar data e hora"),
                     .collect = collect,
                     .sequence = write,
                     .success = QStringLiteral("Data e hora ajustas com sucesso")});
    FollowControls();
}

void TRtcPage::cbxRtcEnChange() {
    FollowControls();
}

void TRtcPage::btnRTCReadClick() {
    if (Refused())
        return;
    RunAction(host, {.progress = QStringLiteral("Lendo parâmetros de calibração do RTC"),
                     .popup = true,
                     .commands = {cmdGET_RTC_CAL},
                     .done = [this] { SetParRTCCAL(); },
                     .success = QStringLiteral("Valores de calibração lidos com sucesso")});
    FollowControls();
}

void TRtcPage::SetParRTCCAL() {
    const tOndrel &dev = host.Ondrel();
    calBlock = {dev.CalVal, dev.CalDir};
    calForm->Fill(calBlock.data(), dev);
    FollowControls();
}

void TRtcPage::btnRTCApplyClick() {
    if (Refused())
        return;
    tOndrel &dev = host.Ondrel();
    auto collect = [this, &dev] {
        calForm->Collect(calBlock.data());
        dev.CalVal = calBlock[idxCAL_VAL];
        dev.CalDir = calBlock[idxCAL_DIR];
    };
    RunAction(
        host,
        {.needs = knownCAL,
         .progress = QStringLiteral("Envio de comando para gravar os valores de calibração do RTC"),
         .collect = collect,
         .commands = {cmdSET_RTC_CAL},
         .success = QStringLiteral("Valores de calibração do RTC gravados com sucesso")});
    FollowControls();
}

void TRtcPage::Disconnect() {
    host.Session().End();
}

void TRtcPage::btnRTCClick() {
    if (Refused())
        return;
    // A time-out may mean the controller already switched to the clock
    // output, and then it answers nothing until it is restarted: the session
    // is closed as after a success, with a word on why.
    auto failed = [this](int32_t result) {
        if (result != errMODBUS_TIMEOUT)
            return;
        host.Report(clERROR, QStringLiteral("O Ondrel não respondeu e pode já estar gerando o "
                                            "clock de calibração; nesse caso só volta a "
                                            "responder depois de religado"));
        Disconnect();
    };
    RunAction(host,
              {.question = QStringLiteral("Esta função vai colocar o Ondrel em gerar um clock de "
                                          "saída para calibração do RTC.\rSomente religando o "
                                          "Ondrel para sair dessa condição.\rDeseja continuar?\r"),
               .commands = {cmdSET_RTC_CLKOUT},
               .failed = failed,
               .done = [this] { Disconnect(); }});
    FollowControls();
}
