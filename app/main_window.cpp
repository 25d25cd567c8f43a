#include "main_window.h"

#include "about_page.h"
#include "app_paths.h"
#include "connection_page.h"
#include "ini_file.h"
#include "log_relays_page.h"
#include "op_relay_page.h"
#include "par_page.h"
#include "relay_pages.h"
#include "relay_param_page.h"
#include "rtc_page.h"
#include "show_window.h"
#include "status_screen.h"
#include "trace_log.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

namespace {
QFrame *Panel(const QString &name) {
    auto *panel = new QFrame;
    panel->setObjectName(name);
    return panel;
}

void SetPointSize(QWidget *w, int size, bool bold) {
    QFont font = w->font();
    font.setPointSize(size);
    font.setBold(bold);
    w->setFont(font);
}
} // namespace

TfrmMain::TfrmMain(tStartOptions options_)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      options(std::move(options_)), dialogs(std::move(options.dialogs)),
      closeRetry(new QTimer(this)) {
    if (!dialogs)
        dialogs = std::make_unique<tWidgetDialogs>();
    if (options.settingsPath.isEmpty()) {
        const tAppPaths paths = PrepareAppPaths();
        options.settingsPath = paths.settingsFile;
        options.logFolder = paths.logFolder;
    }
    closeRetry->setSingleShot(true);
    closeRetry->setInterval(100);
    connect(closeRetry, &QTimer::timeout, this, [this] { close(); });

    BuildFrame();
    FormCreate();
    msgWindow = new TfrmShow(this);
    if (const QScreen *at = screen())
        move(at->availableGeometry().center() - rect().center());
}

TfrmMain::~TfrmMain() {
    FormDestroy();
}

void TfrmMain::BuildFrame() {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tarvik v1.1"));
    setFixedSize(915, 451);

    auto *pnlModel = Panel(QStringLiteral("pnlModel"));
    lblModel = new QLabel(QStringLiteral("Modelo do Ondrel"));
    lblModel->setObjectName(QStringLiteral("lblModel"));
    lblModel->setAlignment(Qt::AlignCenter);
    SetPointSize(lblModel, 16, true);
    auto *bannerLayout = new QHBoxLayout(pnlModel);
    bannerLayout->setContentsMargins(6, 4, 6, 4);
    bannerLayout->addWidget(lblModel);
    pnlModel->setFixedHeight(42);

    auto menuButton = [this](const QString &name, const QString &text) {
        auto *b = TPage::Button(name, text);
        b->setProperty("tag", 0);
        b->setMinimumHeight(30);
        menuButtons.push_back(b);
        return b;
    };
    btnMenuMain = menuButton(QStringLiteral("btnMenuMain"), QStringLiteral("Conexão"));
    btnMenuStatus = menuButton(QStringLiteral("btnMenuStatus"), QStringLiteral("Status"));
    btnMenuLog = menuButton(QStringLiteral("btnMenuLog"), QStringLiteral("LOG Reles"));
    btnMenuAbout = menuButton(QStringLiteral("btnMenuAbout"), QStringLiteral("Sobre"));
    btnMenuSair = menuButton(QStringLiteral("btnMenuSair"), QStringLiteral("Sair"));
    btnMenuPAR = menuButton(QStringLiteral("btnMenuPAR"), QStringLiteral("Ajustes"));
    btnMenuRTC = menuButton(QStringLiteral("btnMenuRTC"), QStringLiteral("RTC"));
    btnMenuSetOP = menuButton(QStringLiteral("btnMenuSetOP"), QStringLiteral("Ajustar Reles"));
    for (int r = 0; r < 4; ++r)
        btnMenuRelay[r] = menuButton(QStringLiteral("btnMenuRelay%1").arg(r + 1),
                                     QStringLiteral("Ajustar Rele %1").arg(r + 1));

    auto *Panel10 = Panel(QStringLiteral("Panel10"));
    Panel10->setFixedWidth(124);
    auto *left = new QVBoxLayout(Panel10);
    left->setContentsMargins(6, 6, 6, 6);
    for (QPushButton *b : {btnMenuMain, btnMenuStatus, btnMenuLog})
        left->addWidget(b);
    left->addStretch(1);
    left->addWidget(btnMenuAbout);
    left->addWidget(btnMenuSair);

    auto *Panel11 = Panel(QStringLiteral("Panel11"));
    auto *bottom = new QHBoxLayout(Panel11);
    bottom->setContentsMargins(6, 4, 6, 4);
    bottom->setSpacing(4);
    for (QPushButton *b : {btnMenuPAR, btnMenuRTC, btnMenuSetOP, btnMenuRelay[0], btnMenuRelay[1],
                           btnMenuRelay[2], btnMenuRelay[3]})
        bottom->addWidget(b);

    pnlMain = Panel(QStringLiteral("pnlMain"));
    auto *host = new QGridLayout(pnlMain);
    host->setContentsMargins(0, 0, 0, 0);

    auto *statusBar = Panel(QStringLiteral("pnlStatusBar"));
    auto *statusCaption = new QLabel(QStringLiteral("Status:"));
    statusCaption->setObjectName(QStringLiteral("lblStatusCaption"));
    lblStatus = new QLabel(QStringLiteral("Status"));
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    SetPointSize(statusCaption, 14, false);
    SetPointSize(lblStatus, 14, false);
    auto *statusLayout = new QHBoxLayout(statusBar);
    statusLayout->setContentsMargins(8, 2, 8, 2);
    statusLayout->addWidget(statusCaption);
    statusLayout->addWidget(lblStatus, 1);

    auto *right = new QVBoxLayout;
    right->setSpacing(0);
    right->addWidget(pnlMain, 1);
    right->addWidget(Panel11);
    auto *middle = new QHBoxLayout;
    middle->setSpacing(0);
    middle->addWidget(Panel10);
    middle->addLayout(right, 1);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(pnlModel);
    root->addLayout(middle, 1);
    root->addWidget(statusBar);

    // Every page lives in the host from the start; ShowPage keeps exactly
    // one of them visible.
    conn = new TConnectionPage(*this);
    status = new TStatusScreen(*this, this);
    logPage = new TLogRelaysPage(*this);
    parPage = new TParPage(*this);
    rtcPage = new TRtcPage(*this);
    opPage = new TOpRelayPage(*this);
    relayPages = new TRelayPages(*this, this);
    aboutPage = new TAboutPage;
    pages = {conn};
    for (int n = 1; n <= 4; ++n)
        pages.push_back(status->page(n));
    pages.insert(pages.end(), {logPage, parPage, rtcPage, opPage});
    pages.insert(pages.end(), relayPages->Pages().begin(), relayPages->Pages().end());
    pages.push_back(aboutPage);
    for (QWidget *page : pages) {
        page->hide();
        host->addWidget(page, 0, 0);
    }

    connect(conn, &TConnectionPage::bannerChanged, lblModel, &QLabel::setText);
    connect(conn, &TConnectionPage::deviceConnected, status, &TStatusScreen::PrintOpRelays);
    connect(conn, &TConnectionPage::connectionChanged, this, &TfrmMain::CompsState);
    connect(aboutPage->cbxStyle, &QComboBox::currentIndexChanged, this, &TfrmMain::cbxStyleChange);

    const std::pair<QPushButton *, void (TfrmMain::*)()> handlers[] = {
        {btnMenuMain, &TfrmMain::btnMenuMainClick},
        {btnMenuStatus, &TfrmMain::btnMenuStatusClick},
        {btnMenuLog, &TfrmMain::btnMenuLogClick},
        {btnMenuPAR, &TfrmMain::btnMenuPARClick},
        {btnMenuRTC, &TfrmMain::btnMenuRTCClick},
        {btnMenuSetOP, &TfrmMain::btnMenuSetOPClick},
        {btnMenuAbout, &TfrmMain::btnMenuAboutClick},
        {btnMenuSair, &TfrmMain::btnMenuSairClick},
    };
    for (const auto &[button, handler] : handlers)
        connect(button, &QPushButton::clicked, this, handler);
    for (int r = 0; r < 4; ++r)
        connect(btnMenuRelay[r], &QPushButton::clicked, this,
                [this, r] { SetMenuParRelay(r, btnMenuRelay[r]); });
}

void TfrmMain::FormCreate() {
    ondrel = std::make_unique<tOndrel>();
    ondrel->OnTraceError = [this](const QString &why) {
        Report(clERROR, QStringLiteral("LOG de comunicação desligado: %1").arg(why));
    };
    fileInit = std::make_unique<tIniFile>(options.settingsPath);
    settings = tAppSettings::Load(*fileInit);
    // Written back at exit even if the window never got shown.
    StyleForm = settings.Style;
    SaveLog = settings.SaveLog;
    ondrel->SetLogFolder(options.logFolder);
    ondrel->SetSaveLog(settings.ModbusSaveLog);

    btnMenuMainClick();
    conn->btnUpDatePortsClick();
    if (settings.Port >= 0 && settings.Port < conn->cbxPort->count())
        conn->cbxPort->setCurrentIndex(settings.Port);
    if (!options.port.isEmpty() && !conn->SelectPort(options.port))
        Report(clERROR, QStringLiteral("Porta %1 não encontrada").arg(options.port));

    ondrel->SetBaudRate(settings.BaudRate);
    ondrel->SetTimeout(settings.Timeout);
    logPage->edtLogMax->setValue(settings.LogMaxRead);
    conn->spiBaud->setValue(ondrel->BaudRate());
    conn->edtID->setValue(settings.Address);
    conn->spiTimeout->setValue(ondrel->Timeout());

    lblModel->setText(QStringLiteral("Modelo do Ondrel"));
    conn->LayoutIndConnect->hide();
    logPage->tabLogRelay->setCurrentIndex(0);
    logPage->InitGridLogs();
    if (SaveLog)
        OpenEventLog();
    relayPages->SelectFirstTabs();
    CompsState();
}

void TfrmMain::OpenEventLog() {
    const QString name = FileInFolder(options.logFolder, AppBaseName() + QStringLiteral(".log"));
    Flog = std::make_unique<tTraceLog>();
    if (!Flog->Open(name, QStringLiteral("INICIAÇÃO DO SISTEMA"))) {
        // Start without it; SaveLog stays as the user set it.
        Report(clERROR, QStringLiteral("Não foi possível criar o arquivo de LOG %1")
                            .arg(QDir::current().absoluteFilePath(name)));
        Flog.reset();
        return;
    }
    Flog->OnError = [this](const QString &why) {
        Report(clERROR, QStringLiteral("LOG de eventos desligado: %1").arg(why));
    };
}

void TfrmMain::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!shownOnce) {
        shownOnce = true;
        FormShow();
    }
}

void TfrmMain::FormShow() {
    aboutPage->cbxStyle->setCurrentIndex(settings.Style);
}

void TfrmMain::closeEvent(QCloseEvent *event) {
    // Closing under a waiting transaction would pull the window from under
    // it; try again once the command has returned.
    if (ondrel->Busy) {
        event->ignore();
        closeRetry->start();
        return;
    }
    status->timerProcess()->stop();
    msgWindow->hide();
    event->accept();
}

void TfrmMain::FormDestroy() {
    status->timerProcess()->stop();
    tAppSettings s;
    s.SaveLog = SaveLog;
    s.ModbusSaveLog = ondrel->SaveLog();
    s.Style = StyleForm;
    s.LogMaxRead = logPage->edtLogMax->value();
    s.Port = conn->cbxPort->currentIndex();
    s.BaudRate = ondrel->BaudRate();
    s.Address = conn->edtID->value();
    s.Timeout = ondrel->Timeout();
    s.Store(*fileInit);
    QString error;
    if (!fileInit->UpdateFile(&error))
        qWarning("Tarvik: settings not saved to %s: %s", qPrintable(fileInit->FileName()),
                 qPrintable(error));
    fileInit.reset();
    ondrel.reset();
    Flog.reset();
}

// The driver refuses a command (-15) only while a handler runs inside the
// wait of another transaction, which cannot go on before that handler
// returns: waiting here would never end. The refusal goes back to the screen
// like any failed command; user actions report it through ModbusError, the
// status refresh drops it silently.
int32_t TfrmMain::SendCommand(tCommand cmd) {
    return ondrel->SendCommand(cmd);
}

void TfrmMain::ModbusError(int32_t code) {
    const QString text = modbus_strerror(code);
    Report(0, QStringLiteral("Modbus error %1").arg(text));
    Warning(text);
}

void TfrmMain::Report(uint32_t color, const QString &text) {
    // The styles own the status line's look, so the colour changes nothing
    // visible; it stays on the label as a property.
    lblStatus->setProperty("reportColor", color);
    lblStatus->setText(text);
    conn->memoLog->appendPlainText(text);
    QScrollBar *bar = conn->memoLog->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TfrmMain::LogLine(const QString &text) {
    if (SaveLog && Flog && Flog->IsOpen())
        Flog->Line(text);
}

void TfrmMain::Msg(const QString &s) {
    msgWindow->Msg(s);
}

void TfrmMain::HideMsg() {
    msgWindow->HideMsg();
}

void TfrmMain::Warning(const QString &text) {
    dialogs->Warning(this, text);
}

bool TfrmMain::AskYesNo(const QString &text) {
    return dialogs->AskYesNo(this, text);
}

QString TfrmMain::AskOpenFile(const QString &filter, const QString &startName) {
    return dialogs->AskOpenFile(this, filter, startName);
}

QString TfrmMain::AskSaveFile(const QString &filter, const QString &proposedName) {
    return dialogs->AskSaveFile(this, filter, proposedName);
}

void TfrmMain::btnCntClick() {
    conn->btnCntClick();
}
