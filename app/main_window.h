#pragma once

#include "dialogs.h"
#include "screen_host.h"
#include "settings.h"

#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;
class THistoryPage;
class tSessionRecorder;
class tIniFile;
class tMenuTarget;
class tTraceLog;
class TfrmShow;
class TPage;
class TStatusScreen;

// How the main window starts: where its settings and logs live, a port to
// select regardless of the stored position, and the dialogs to use.
struct tStartOptions {
    QString settingsPath; // empty: both chosen by PrepareAppPaths
    QString logFolder;    // empty: the current directory
    QString port;
    std::unique_ptr<tDialogs> dialogs; // null: the real dialogs
};

constexpr int32_t styleWINDOWS = 0;
constexpr int32_t styleTRANSP = 1;
constexpr int32_t styleJET = 2;

// The main window: model banner, the two menu rows, the page host and the
// status line. Owns the session (and through it the device), the settings file, the
// application event log and the message window, and serves every page as
// its ScreenHost. It knows its pages only through the page protocol (TPage,
// tMenuTarget) and their signals: a menu button, what it opens and the read
// a visit runs.
class TfrmMain : public QWidget, public ScreenHost {
    Q_OBJECT
  public:
    explicit TfrmMain(tStartOptions options = {});
    ~TfrmMain() override;

    // ScreenHost
    tSession &Session() override { return *session; }
    tFirstVisits &Visits() override { return *visits; }
    void ModbusError(int32_t code) override;
    void Report(uint32_t color, const QString &text) override;
    void LogLine(const QString &text) override;
    void Msg(const QString &s) override;
    void HideMsg() override;
    void Warning(const QString &text) override;
    bool AskYesNo(const QString &text) override;
    QString AskOpenFile(const QString &filter, const QString &startName) override;
    QString AskSaveFile(const QString &filter, const QString &proposedName) override;
    void btnMenuMainClick() override;
    // First-visit flags of the menu buttons (mirrored on each button's "tag").
    bool Visited(tMenu menu) const { return visits->Visited(menu); }
    void SetVisited(tMenu menu, bool visited) { visits->SetVisited(menu, visited); }

    // Navigation (navigation.cpp)
    void btnMenuStatusClick();
    void btnMenuLogClick();
    void btnMenuHistClick();
    void btnMenuPARClick();
    void btnMenuRTCClick();
    void btnMenuSetOPClick();
    void btnMenuAboutClick();
    void btnMenuSairClick();
    void btnMenuRelayClick(int relay);
    void SetMenuParRelay(int relay, QPushButton *button);
    void CompsState();

    // Styles (styles.cpp)
    void ApllyStyle(int32_t index);
    void cbxStyleChange(int index);
    int32_t StyleForm = styleWINDOWS;

    TfrmShow *frmShow() const { return msgWindow; }
    // What a menu button opens, built the first time it is asked for
    // (nullptr: nothing, as for "Sair").
    tMenuTarget *Target(tMenu menu);
    TStatusScreen *StatusScreen();
    // The page the host shows now; nullptr when none (a relay without one).
    QWidget *CurrentPage() const;
    // Replaces the dialogs, e.g. by a scripted set in tests.
    void SetDialogs(std::unique_ptr<tDialogs> d) { dialogs = std::move(d); }

  protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    void BuildFrame();
    void BuildPages();
    // The factory of each menu row: builds what the row opens.
    tMenuTarget *MakeTarget(tMenu menu);
    // A target just built: its pages go into the host and, after start-up,
    // take the settings, the connection state and the blocks read so far.
    void Adopt(tMenuTarget &target);
    // Tab goes down the left menu, through the page shown, then along the
    // bottom menu, whichever page was built first.
    void FrameTabOrder();
    void BuildKeys();
    void FormCreate();
    void FormShow();
    void FormDestroy();
    // Shows what `menu` opens (`relay`: of an "Ajustar Rele" button) and
    // runs the visit read the menu asks for.
    void ShowMenu(tMenu menu, int relay = 0);
    void ShowPage(QWidget *page);
    void OpenEventLog();
    // The history page, built late, given what the recording holds.
    void HistoryPageCatchUp();
    // The session's adapter was pulled out: said once, session closed.
    void PortLost(const QString &port);

  Q_SIGNALS:
    // Every Report line, for the event memo.
    void reported(const QString &text);

  private:
    tStartOptions options;
    std::unique_ptr<tSession> session;
    tFirstVisits *visits = nullptr;
    std::unique_ptr<tIniFile> fileInit;
    tSettings settings;
    std::unique_ptr<tTraceLog> Flog;
    std::unique_ptr<tDialogs> dialogs;
    bool shownOnce = false;
    bool started = false; // FormCreate has run
    // The settings as the pages take them (the port asked for included).
    tSettings startSettings;
    // Every block the copy has received since start, for a page built later.
    uint32_t blocksRead = 0;

    QLabel *lblModel = nullptr;
    QLabel *lblStatus = nullptr;
    QStackedWidget *pnlMain = nullptr;
    QWidget *noPage = nullptr;
    std::array<QPushButton *, tMenuCount> menuButtons{};
    // What each menu button opens, once built; the relay buttons share
    // Relay1's.
    std::array<tMenuTarget *, tMenuCount> menuTargets{};
    // Every page built so far, the connection page first.
    std::vector<TPage *> pages;

    TfrmShow *msgWindow = nullptr;
    // The session's recording into the history file.
    std::unique_ptr<tSessionRecorder> recording;
    THistoryPage *histPage = nullptr;
    // Retries a close refused while a transaction waits.
};
