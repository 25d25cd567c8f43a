#include "main_window.h"

#include "about_page.h"
#include "app_paths.h"
#include "app_settings.h"
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
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

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

enum class tColumn { Left, LeftBottom, Bottom };

// The menu buttons, in tMenu order: where each sits and its caption.
struct tMenuButton {
    tMenu menu;
    const char *name;
    const char *caption;
    tColumn column;
};
constexpr tMenuButton menuButtonRows[] = {
    {tMenu::Main, "btnMenuMain", "Conexão", tColumn::Left},
    {tMenu::Status, "btnMenuStatus", "Status", tColumn::Left},
    {tMenu::Log, "btnMenuLog", "LOG Reles", tColumn::Left},
    {tMenu::PAR, "btnMenuPAR", "Ajustes", tColumn::Bottom},
    {tMenu::RTC, "btnMenuRTC", "RTC", tColumn::Bottom},
    {tMenu::SetOP, "btnMenuSetOP", "Ajustar Reles", tColumn::Bottom},
    {tMenu::Relay1, "btnMenuRelay1", "Ajustar Rele 1", tColumn::Bottom},
    {tMenu::Relay2, "btnMenuRelay2", "Ajustar Rele 2", tColumn::Bottom},
    {tMenu::Relay3, "btnMenuRelay3", "Ajustar Rele 3", tColumn::Bottom},
    {tMenu::Relay4, "btnMenuRelay4", "Ajustar Rele 4", tColumn::Bottom},
    {tMenu::About, "btnMenuAbout", "Sobre", tColumn::LeftBottom},
    {tMenu::Sair, "btnMenuSair", "Sair", tColumn::LeftBottom},
};
static_assert(std::size(menuButtonRows) == size_t(tMenuCount));
constexpr bool menuRowsInOrder() {
    for (size_t i = 0; i < std::size(menuButtonRows); ++i)
        if (menuButtonRows[i].menu != tMenu(i))
            return false;
    return true;
}
static_assert(menuRowsInOrder());
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
    BuildPages();
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

    auto *Panel10 = Panel(QStringLiteral("Panel10"));
    Panel10->setFixedWidth(124);
    auto *left = new QVBoxLayout(Panel10);
    left->setContentsMargins(6, 6, 6, 6);
    auto *leftBottom = new QVBoxLayout;
    auto *Panel11 = Panel(QStringLiteral("Panel11"));
    auto *bottom = new QHBoxLayout(Panel11);
    bottom->setContentsMargins(6, 4, 6, 4);
    bottom->setSpacing(4);
    for (const tMenuButton &row : menuButtonRows) {
        auto *b = TPage::Button(QLatin1String(row.name), QString::fromUtf8(row.caption));
        b->setProperty("tag", 0);
        b->setMinimumHeight(30);
        menuButtons[size_t(row.menu)] = b;
        QBoxLayout *columns[] = {left, leftBottom, bottom};
        columns[int(row.column)]->addWidget(b);
    }
    left->addStretch(1);
    left->addLayout(leftBottom);

    pnlMain = new QStackedWidget;
    pnlMain->setObjectName(QStringLiteral("pnlMain"));
    // Shown for a relay whose operation has no page.
    noPage = new QWidget;
    pnlMain->addWidget(noPage);

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
}

void TfrmMain::BuildPages() {
    conn = new TConnectionPage(*this, pnlMain);
    status = new TStatusScreen(*this, pnlMain, this);
    auto *logPage = new TLogRelaysPage(*this, pnlMain);
    auto *parPage = new TParPage(*this, pnlMain);
    auto *rtcPage = new TRtcPage(*this, pnlMain);
    auto *opPage = new TOpRelayPage(*this, pnlMain);
    relayPages = new TRelayPages(*this, pnlMain, this);
    aboutPage = new TAboutPage(*this, pnlMain);

    menuPages[size_t(tMenu::Main)] = conn;
    menuPages[size_t(tMenu::Log)] = logPage;
    menuPages[size_t(tMenu::PAR)] = parPage;
    menuPages[size_t(tMenu::RTC)] = rtcPage;
    menuPages[size_t(tMenu::SetOP)] = opPage;
    menuPages[size_t(tMenu::About)] = aboutPage;

    pages = {conn};
    for (int n = 1; n <= 4; ++n)
        pages.push_back(status->page(n));
    pages.insert(pages.end(), {logPage, parPage, rtcPage, opPage});
    pages.insert(pages.end(), relayPages->Pages().begin(), relayPages->Pages().end());
    pages.push_back(aboutPage);
    for (TPage *page : pages)
        pnlMain->addWidget(page);

    connect(conn, &TConnectionPage::bannerChanged, lblModel, &QLabel::setText);
    connect(conn, &TConnectionPage::deviceConnected, status, &TStatusScreen::PrintOpRelays);
    connect(conn, &TConnectionPage::connectionChanged, this, &TfrmMain::CompsState);
    connect(conn, &TConnectionPage::linkSummaryChanged, lblStatus, &QLabel::setToolTip);
    connect(aboutPage->cbxStyle, &QComboBox::currentIndexChanged, this, &TfrmMain::cbxStyleChange);
    // A relay read that brought another operation, unless the user has
    // moved on meanwhile.
    connect(relayPages, &TRelayPages::pageChanged, this, [this](QWidget *from, QWidget *to) {
        if (CurrentPage() == from)
            ShowPage(to);
    });

    using tHandler = void (TfrmMain::*)();
    const std::pair<tMenu, tHandler> handlers[] = {
        {tMenu::Main, &TfrmMain::btnMenuMainClick},
        {tMenu::Status, &TfrmMain::btnMenuStatusClick},
        {tMenu::Log, &TfrmMain::btnMenuLogClick},
        {tMenu::PAR, &TfrmMain::btnMenuPARClick},
        {tMenu::RTC, &TfrmMain::btnMenuRTCClick},
        {tMenu::SetOP, &TfrmMain::btnMenuSetOPClick},
        {tMenu::About, &TfrmMain::btnMenuAboutClick},
        {tMenu::Sair, &TfrmMain::btnMenuSairClick},
    };
    for (const auto &[menu, handler] : handlers)
        connect(menuButtons[size_t(menu)], &QPushButton::clicked, this, handler);
    for (int r = 0; r < 4; ++r)
        connect(menuButtons[size_t(tMenu::Relay1) + size_t(r)], &QPushButton::clicked, this,
                [this, r] { btnMenuRelayClick(r); });
}

void TfrmMain::FormCreate() {
    ondrel = std::make_unique<tOndrel>();
    ondrel->OnTraceError = [this](const QString &why) {
        Report(clERROR, QStringLiteral("LOG de comunicação desligado: %1").arg(why));
    };
    fileInit = std::make_unique<tIniFile>(options.settingsPath);
    settings = LoadSettings(*fileInit);
    // Written back at exit even if the window never got shown.
    StyleForm = settings.Style;
    ondrel->SetLogFolder(options.logFolder);
    ondrel->SetSaveLog(settings.ModbusSaveLog);

    btnMenuMainClick();
    conn->btnUpDatePortsClick();
    for (TPage *page : pages)
        page->LoadSettings(settings);
    if (!options.port.isEmpty() && !conn->SelectPort(options.port))
        Report(clERROR, QStringLiteral("Porta %1 não encontrada").arg(options.port));

    lblModel->setText(QStringLiteral("Modelo do Ondrel"));
    conn->LayoutIndConnect->hide();
    if (settings.SaveLog)
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
    // it, and a page reading between events would go on reading behind a
    // hidden window: ask the pages to stop and try again once all returned.
    bool running = false;
    for (TPage *page : pages)
        running = page->StopForClose() || running;
    if (ondrel->Busy || running) {
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
    tSettings s = settings;
    s.ModbusSaveLog = ondrel->SaveLog();
    s.Style = StyleForm;
    for (const TPage *page : pages)
        page->StoreSettings(s);
    StoreSettings(s, *fileInit);
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
    lostPortReported = false;
    const int32_t result = ondrel->SendCommand(cmd);
    if (result < 0 && result != errMODBUS_BUSY && ondrel->PortLost())
        PortLost();
    return result;
}

void TfrmMain::PortLost() {
    const QString port = ondrel->PortName();
    const QString lost = QStringLiteral("Porta %1 perdida: o adaptador foi desconectado").arg(port);
    Report(clERROR, lost);
    LogLine(lost);
    conn->btnCntClick();
    conn->RefreshPorts();
    Warning(QStringLiteral("O adaptador da porta %1 foi desconectado.\rReconecte o adaptador, "
                           "escolha a porta e clique em Conectar.")
                .arg(port));
    lostPortReported = true;
}

void TfrmMain::ModbusError(int32_t code) {
    if (std::exchange(lostPortReported, false))
        return;
    const QString text = modbus_strerror(code);
    Report(0, QStringLiteral("Modbus error %1").arg(text));
    Warning(text);
}

void TfrmMain::Report(uint32_t color, const QString &text) {
    // The styles own the status line's look, so the colour changes nothing
    // visible; it stays on the label as a property.
    lblStatus->setProperty("reportColor", color);
    lblStatus->setText(text);
    conn->AppendLog(text);
}

void TfrmMain::LogLine(const QString &text) {
    if (settings.SaveLog && Flog && Flog->IsOpen())
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

void TfrmMain::SetTimerProcess(bool run) {
    QTimer *timer = status->timerProcess();
    if (!run)
        timer->stop();
    else if (ondrel->Connected() && !timer->isActive())
        timer->start();
}

void TfrmMain::RefillPages() {
    for (TPage *page : pages)
        page->Refill();
    relayPages->SetParRelays();
}

bool TfrmMain::Visited(tMenu menu) const {
    return menuButtons[size_t(menu)]->property("tag").toInt() != 0;
}

void TfrmMain::SetVisited(tMenu menu, bool visited) {
    menuButtons[size_t(menu)]->setProperty("tag", visited ? 1 : 0);
}
