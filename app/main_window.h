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
class tIniFile;
class tTraceLog;
class TAboutPage;
class TConnectionPage;
class TfrmShow;
class TPage;
class TRelayPages;
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
// status line. Owns the device, the settings file, the application event
// log and the message window, and serves every page as its ScreenHost. It
// knows its pages through one registry: a menu button, the page it shows
// and the read a visit runs.
class TfrmMain : public QWidget, public ScreenHost {
    Q_OBJECT
  public:
    explicit TfrmMain(tStartOptions options = {});
    ~TfrmMain() override;

    // ScreenHost
    tOndrel &Ondrel() override { return *ondrel; }
    int32_t SendCommand(tCommand cmd) override;
    void ModbusError(int32_t code) override;
    void Report(uint32_t color, const QString &text) override;
    void LogLine(const QString &text) override;
    void Msg(const QString &s) override;
    void HideMsg() override;
    void Warning(const QString &text) override;
    bool AskYesNo(const QString &text) override;
    QString AskOpenFile(const QString &filter, const QString &startName) override;
    QString AskSaveFile(const QString &filter, const QString &proposedName) override;
    void btnCntClick() override;
    void btnMenuMainClick() override;
    void SetTimerProcess(bool run) override;
    void RefillPages() override;
    bool Visited(tMenu menu) const override;
    void SetVisited(tMenu menu, bool visited) override;

    // Navigation (navigation.cpp)
    void btnMenuStatusClick();
    void btnMenuLogClick();
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
    void cbxStyleChange();
    int32_t StyleForm = styleWINDOWS;

    TfrmShow *frmShow() const { return msgWindow; }
    TStatusScreen *StatusScreen() const { return status; }
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
    void FormCreate();
    void FormShow();
    void FormDestroy();
    // Shows `page` (nullptr: none) and runs the visit read `menu` asks for.
    void ShowMenu(tMenu menu, QWidget *page);
    void ShowPage(QWidget *page);
    void OpenEventLog();
    // The session's adapter was pulled out: said once, session closed.
    void PortLost();

    tStartOptions options;
    std::unique_ptr<tOndrel> ondrel;
    std::unique_ptr<tIniFile> fileInit;
    tSettings settings;
    std::unique_ptr<tTraceLog> Flog;
    std::unique_ptr<tDialogs> dialogs;
    bool shownOnce = false;

    QLabel *lblModel = nullptr;
    QLabel *lblStatus = nullptr;
    QStackedWidget *pnlMain = nullptr;
    QWidget *noPage = nullptr;
    std::array<QPushButton *, tMenuCount> menuButtons{};
    std::array<TPage *, tMenuCount> menuPages{};
    // Every page, in the order they refill: system, clock, operations.
    std::vector<TPage *> pages;

    TConnectionPage *conn = nullptr;
    TStatusScreen *status = nullptr;
    TRelayPages *relayPages = nullptr;
    TAboutPage *aboutPage = nullptr;

    // The failure that revealed a lost port is not reported a second time.
    bool lostPortReported = false;

    TfrmShow *msgWindow = nullptr;
    // Retries a close refused while a transaction waits.
    QTimer *closeRetry = nullptr;
};
