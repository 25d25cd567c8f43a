#include "main_window.h"

#include "about_page.h"
#include "app_paths.h"
#include "app_settings.h"
#include "connection_page.h"
#include "history_page.h"
#include "ini_file.h"
#include "log_relays_page.h"
#include "op_relay_page.h"
#include "par_page.h"
#include "port_name.h"
#include "relay_pages.h"
#include "relay_param_page.h"
#include "rtc_page.h"
#include "session_recorder.h"
#include "show_window.h"
#include "status_screen.h"
#include "trace_log.h"

#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
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

// The menu buttons, in tMenu order: where each sits and its caption; the
// letter after "&" is its Alt+letter, shown underlined.
struct tMenuButton {
    tMenu menu;
    const char *name;
    const char *caption;
    tColumn column;
};
constexpr tMenuButton menuButtonRows[] = {
    {tMenu::Main, "btnMenuMain", "&Conexão", tColumn::Left},
    {tMenu::Status, "btnMenuStatus", "&Status", tColumn::Left},
    {tMenu::Log, "btnMenuLog", "&LOG Reles", tColumn::Left},
    {tMenu::Hist, "btnMenuHist", "&Histórico", tColumn::Left},
    {tMenu::PAR, "btnMenuPAR", "&Ajustes", tColumn::Bottom},
    {tMenu::RTC, "btnMenuRTC", "&RTC", tColumn::Bottom},
    {tMenu::SetOP, "btnMenuSetOP", "Ajustar R&eles", tColumn::Bottom},
    {tMenu::Relay1, "btnMenuRelay1", "Ajustar Rele &1", tColumn::Bottom},
    {tMenu::Relay2, "btnMenuRelay2", "Ajustar Rele &2", tColumn::Bottom},
    {tMenu::Relay3, "btnMenuRelay3", "Ajustar Rele &3", tColumn::Bottom},
    {tMenu::Relay4, "btnMenuRelay4", "Ajustar Rele &4", tColumn::Bottom},
    {tMenu::About, "btnMenuAbout", "So&bre", tColumn::LeftBottom},
    {tMenu::Sair, "btnMenuSair", "Sa&ir", tColumn::LeftBottom},
};
static_assert(std::size(menuButtonRows) == size_t(tMenuCount));
constexpr bool menuRowsInOrder() {
    for (size_t i = 0; i < std::size(menuButtonRows); ++i)
        if (menuButtonRows[i].menu != tMenu(i))
            return false;
    return true;
}
static_assert(menuRowsInOrder());

// The window's keys: a page's own (the page shown, or whichever page has
// it), or the window's to leave.
enum class tKeyScope { PageShown, AnyPage, Leave };
struct tWindowKey {
    tKeyScope scope;
    tPageKey pageKey;
};
constexpr tWindowKey windowKeys[] = {
    {tKeyScope::PageShown, tPageKey::Read},
    {tKeyScope::AnyPage, tPageKey::SaveConfig},
    {tKeyScope::AnyPage, tPageKey::LoadConfig},
    {tKeyScope::Leave, {}},
};
constexpr const char *leaveKeys = "Ctrl+Q";
} // namespace

TfrmMain::TfrmMain(tStartOptions options_)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      options(std::move(options_)), dialogs(std::move(options.dialogs)) {
    if (!dialogs)
        dialogs = std::make_unique<tWidgetDialogs>();
    if (options.settingsPath.isEmpty()) {
        const tAppPaths paths = PrepareAppPaths();
        options.settingsPath = paths.settingsFile;
        options.logFolder = paths.logFolder;
    }
    // The pages take the session as they are built; FormCreate sets it up.
    session = std::make_unique<tSession>();
    // The line runs on its own thread: this one never waits on it.
    session->UseLineThread();
    // Whatever a page read before belongs to another session; cleared before
    // anything else hears of the connection.
    visits = new tFirstVisits(this);
    connect(session.get(), &tSession::connectionChanged, visits, &tFirstVisits::Clear);
    // A portable copy has no log folder and keeps the history beside its
    // settings; an installed one keeps it in its data folder.
    recording = std::make_unique<tSessionRecorder>(
        *session, HistoryFilePath(options.settingsPath, options.logFolder),
        [this](const QString &text, bool failure) { Report(failure ? clERROR : clOK, text); });
    // Every write sent and every event log slot read, whichever page sent
    // it, goes in with the readings; the writer is made at the first.
    session->SetHistorySink(
        WriterSink([this]() -> tHistoryWriter & { return recording->Writer(); }));
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
        b->setToolTip(ShortcutText(QKeySequence::mnemonic(b->text())));
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
    connect(pnlMain, &QStackedWidget::currentChanged, this, &TfrmMain::FrameTabOrder);

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

tMenuTarget *TfrmMain::MakeTarget(tMenu menu) {
    // One factory per menu row; the relay buttons share the relay pages.
    using tFactory = tMenuTarget *(*)(TfrmMain &, QWidget *);
    struct tPageRow {
        tMenu menu;
        tFactory make;
    };
    static constexpr tPageRow rows[] = {
        {tMenu::Main,
         [](TfrmMain &w, QWidget *host) -> tMenuTarget * {
             auto *conn = new TConnectionPage(w, host);
             connect(conn, &TConnectionPage::bannerChanged, w.lblModel, &QLabel::setText);
             connect(&w, &TfrmMain::reported, conn, &TConnectionPage::AppendLog);
             connect(conn, &TConnectionPage::linkSummaryChanged, w.lblStatus, &QLabel::setToolTip);
             return conn;
         }},
        {tMenu::Status,
         [](TfrmMain &w, QWidget *host) -> tMenuTarget * {
             return new TStatusScreen(w, host, &w);
         }},
        {tMenu::Log,
         [](TfrmMain &w, QWidget *host) -> tMenuTarget * { return new TLogRelaysPage(w, host); }},
        {tMenu::Hist,
         [](TfrmMain &w, QWidget *host) -> tMenuTarget * {
             w.histPage = new THistoryPage(w, host);
             w.histPage->SetStore(&w.recording->Reader());
             w.HistoryPageCatchUp();
             connect(w.recording.get(), &tSessionRecorder::recordedChanged, w.histPage,
                     [&w] { w.HistoryPageCatchUp(); });
             connect(w.recording.get(), &tSessionRecorder::reading, w.histPage,
                     &THistoryPage::AddLive);
             connect(w.histPage, &THistoryPage::recordingChanged, w.recording.get(),
                     [&w](int32_t intervalSec, int32_t keepDays) {
                         w.recording->SetInterval(intervalSec);
                         w.recording->SetRetention(keepDays);
                     });
             return w.histPage;
         }},
        {tMenu::PAR,
         [](TfrmMain &w, QWidget *host) -> tMenuTarget * { return new TParPage(w, host); }},
        {tMenu::RTC,
         [](TfrmMain &w, QWidget *host) -> tMenuTarget * { return new TRtcPage(w, host); }},
        {tMenu::SetOP,
         [](TfrmMain &w, QWidget *host) -> tMenuTarget * { return new TOpRelayPage(w, host); }},
        {tMenu::Relay1,
         [](TfrmMain &w, QWidget *host) -> tMenuTarget * {
             auto *relayPages = new TRelayPages(w, host, &w);
             // A relay read that brought another operation, unless the user
             // has moved on meanwhile.
             connect(relayPages, &TRelayPages::pageChanged, &w, [&w](QWidget *from, QWidget *to) {
                 if (w.CurrentPage() == from)
                     w.ShowPage(to);
             });
             return relayPages;
         }},
        {tMenu::About,
         [](TfrmMain &w, QWidget *host) -> tMenuTarget * {
             auto *aboutPage = new TAboutPage(w, host);
             connect(aboutPage, &TAboutPage::styleChosen, &w, &TfrmMain::cbxStyleChange);
             return aboutPage;
         }},
    };
    for (const tPageRow &row : rows)
        if (row.menu == menu)
            return row.make(*this, pnlMain);
    return nullptr;
}

tMenuTarget *TfrmMain::Target(tMenu menu) {
    if (menu == tMenu::Relay2 || menu == tMenu::Relay3 || menu == tMenu::Relay4)
        menu = tMenu::Relay1;
    tMenuTarget *&target = menuTargets[size_t(menu)];
    if (!target) {
        target = MakeTarget(menu);
        if (target)
            Adopt(*target);
    }
    return target;
}

void TfrmMain::Adopt(tMenuTarget &target) {
    for (TPage *page : target.Pages()) {
        pages.push_back(page);
        pnlMain->addWidget(page);
        // The pages built at start are set up by FormCreate and FormShow;
        // a later one catches up with what they have been through.
        if (!started)
            continue;
        page->LoadSettings(startSettings);
        page->FollowState(session->Ondrel());
        page->CatchUp(blocksRead);
        if (shownOnce)
            page->WindowShown();
    }
}

void TfrmMain::FrameTabOrder() {
    QList<QWidget *> order;
    for (tColumn column : {tColumn::Left, tColumn::LeftBottom}) {
        for (const tMenuButton &row : menuButtonRows)
            if (row.column == column)
                order << menuButtons[size_t(row.menu)];
    }
    order << TabStops(pnlMain->currentWidget());
    for (const tMenuButton &row : menuButtonRows)
        if (row.column == tColumn::Bottom)
            order << menuButtons[size_t(row.menu)];
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void TfrmMain::BuildPages() {
    // A page costs its widgets, and the style's work on them, only once the
    // user goes there. Built at start: the connection page, shown first, and
    // the About page, whose selector applies the stored style when the
    // window is first shown.
    Target(tMenu::Main);
    Target(tMenu::About);

    tSession &s = *session;
    connect(&s, &tSession::blockRead, this, [this](uint32_t blocks) { blocksRead |= blocks; });
    connect(&s, &tSession::report, this,
            [this](bool failure, const QString &text) { Report(failure ? clERROR : clOK, text); });
    connect(&s, &tSession::logLine, this, &TfrmMain::LogLine);
    connect(&s, &tSession::connectionChanged, this, &TfrmMain::CompsState);
    connect(&s, &tSession::portLost, this, &TfrmMain::PortLost);
    connect(visits, &tFirstVisits::visitedChanged, this, [this](tMenu menu, bool visited) {
        menuButtons[size_t(menu)]->setProperty("tag", visited ? 1 : 0);
    });

    using tHandler = void (TfrmMain::*)();
    const std::pair<tMenu, tHandler> handlers[] = {
        {tMenu::Main, &TfrmMain::btnMenuMainClick},
        {tMenu::Status, &TfrmMain::btnMenuStatusClick},
        {tMenu::Log, &TfrmMain::btnMenuLogClick},
        {tMenu::Hist, &TfrmMain::btnMenuHistClick},
        {tMenu::PAR, &TfrmMain::btnMenuPARClick},
        {tMenu::RTC, &TfrmMain::btnMenuRTCClick},
        {tMenu::SetOP, &TfrmMain::btnMenuSetOPClick},
        {tMenu::About, &TfrmMain::btnMenuAboutClick},
        {tMenu::Sair, &TfrmMain::btnMenuSairClick},
    };
    BuildKeys();
    for (const auto &[menu, handler] : handlers)
        connect(menuButtons[size_t(menu)], &QPushButton::clicked, this, handler);
    for (int r = 0; r < 4; ++r)
        connect(menuButtons[size_t(tMenu::Relay1) + size_t(r)], &QPushButton::clicked, this,
                [this, r] { btnMenuRelayClick(r); });
}

void TfrmMain::BuildKeys() {
    for (const tWindowKey &row : windowKeys) {
        const QKeySequence keys = row.scope == tKeyScope::Leave
                                      ? QKeySequence(QLatin1String(leaveKeys))
                                      : KeyOf(row.pageKey);
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, row] {
            switch (row.scope) {
            case tKeyScope::PageShown:
                if (auto *page = qobject_cast<TPage *>(CurrentPage()))
                    page->PressKey(row.pageKey);
                break;
            case tKeyScope::AnyPage:
                for (TPage *page : pages)
                    if (page->PressKey(row.pageKey))
                        break;
                break;
            case tKeyScope::Leave:
                btnMenuSairClick();
                break;
            }
        });
    }
    QPushButton *leave = menuButtons[size_t(tMenu::Sair)];
    leave->setToolTip(leave->toolTip() + QStringLiteral(" ou ") +
                      QKeySequence(QLatin1String(leaveKeys)).toString(QKeySequence::NativeText));
}

void TfrmMain::FormCreate() {
    session->Ondrel().OnTraceError = [this](const QString &why) {
        Report(clERROR, QStringLiteral("LOG de comunicação desligado: %1").arg(why));
    };
    fileInit = std::make_unique<tIniFile>(options.settingsPath);
    settings = LoadSettings(*fileInit);
    // Written back at exit even if the window never got shown.
    StyleForm = settings.Style;
    session->Ondrel().SetLogFolder(options.logFolder);
    session->Ondrel().SetSaveLog(settings.ModbusSaveLog);

    btnMenuMainClick();
    // The connection page lists the ports first, then selects the stored one
    // (or the one asked for at start).
    startSettings = settings;
    startSettings.StartPort = options.port;
    for (TPage *page : pages)
        page->LoadSettings(startSettings);
    started = true;

    lblModel->setText(QStringLiteral("Modelo do Ondrel"));
    recording->SetInterval(startSettings.RecordInterval);
    recording->SetRetention(startSettings.HistoryKeepDays);
    if (settings.SaveLog)
        OpenEventLog();
    CompsState();
}

void TfrmMain::HistoryPageCatchUp() {
    // The page is built on its first visit: it gets the file, the controller
    // connected and the readings taken so far, as if it had been there.
    histPage->SetConnected(recording->Recorded());
    if (recording->Recorded().id)
        for (const tStatusReading &reading : recording->Live())
            histPage->AddLive(recording->Recorded().id, reading);
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
    for (TPage *page : pages)
        page->WindowShown();
}

void TfrmMain::closeEvent(QCloseEvent *event) {
    // The window goes once the line is idle: nothing more is asked of it (a
    // page's sequence ends at its next request, a scan at its next address)
    // and the exchange on it ends on its own.
    if (!session->Idle()) {
        event->ignore();
        if (!session->Stopped()) {
            session->Stop();
            tTask<int32_t> idle = session->WhenIdle();
            std::move(idle).Then([this](int32_t) {
                QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
            });
        }
        return;
    }
    session->SetRefresh(false);
    msgWindow->hide();
    // Readings that wait for a refusing file get a last few seconds; what
    // still does not go in is said before the window goes.
    if (const size_t lost = recording->FinishWriting())
        Warning(QStringLiteral("%1 leitura(s) ou registro(s) não foram gravados no histórico %2 "
                               "e se perderam.")
                    .arg(lost)
                    .arg(recording->Path()));
    event->accept();
}

void TfrmMain::FormDestroy() {
    session->SetRefresh(false);
    tSettings s = settings;
    s.ModbusSaveLog = session->Ondrel().SaveLog();
    s.Style = StyleForm;
    for (const TPage *page : pages)
        page->StoreSettings(s);
    StoreSettings(s, *fileInit);
    QString error;
    if (!fileInit->UpdateFile(&error))
        qWarning("Tarvik: settings not saved to %s: %s", qPrintable(fileInit->FileName()),
                 qPrintable(error));
    fileInit.reset();
    // Writes what it holds before the session goes.
    session->SetHistorySink({});
    recording.reset();
    session.reset();
    Flog.reset();
}

void TfrmMain::PortLost(const QString &port) {
    if (ParsePortName(port).network()) {
        Warning(QStringLiteral("A conexão com %1 foi perdida.\rConfira a rede e o gateway e "
                               "clique em Conectar.")
                    .arg(port));
        return;
    }
    Warning(QStringLiteral("O adaptador da porta %1 foi desconectado.\rReconecte o adaptador, "
                           "escolha a porta e clique em Conectar.")
                .arg(port));
}

TStatusScreen *TfrmMain::StatusScreen() {
    return static_cast<TStatusScreen *>(Target(tMenu::Status));
}

void TfrmMain::ModbusError(int32_t code) {
    if (session->TakePortLostSaid())
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
    Q_EMIT reported(text);
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
