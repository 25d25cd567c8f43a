#pragma once

#include "app_settings.h"
#include "dialogs.h"
#include "screen_host.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QTimer;
class tIniFile;
class tTraceLog;
class TAboutPage;
class TConnectionPage;
class TfrmShow;
class TLogRelaysPage;
class TOpRelayPage;
class TParPage;
class TRelayPages;
class TRtcPage;
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
// log and the message window, and serves every page as its ScreenHost.
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

    // Navigation (navigation.cpp)
    void btnMenuStatusClick();
    void btnMenuLogClick();
    void btnMenuPARClick();
    void btnMenuRTCClick();
    void btnMenuSetOPClick();
    void btnMenuAboutClick();
    void btnMenuSairClick();
    void SetMenuParRelay(int relay, QPushButton *button);
    void CompsState();

    // Styles (styles.cpp)
    void ApllyStyle(int32_t index);
    void cbxStyleChange();
    int32_t StyleForm = styleWINDOWS;

    TfrmShow *frmShow() const { return msgWindow; }
    TStatusScreen *StatusScreen() const { return status; }
    // The page the host shows now; nullptr when none (a relay without one).
    QWidget *CurrentPage() const { return current; }
    // Replaces the dialogs, e.g. by a scripted set in tests.
    void SetDialogs(std::unique_ptr<tDialogs> d) { dialogs = std::move(d); }

  protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    void BuildFrame();
    void FormCreate();
    void FormShow();
    void FormDestroy();
    void ShowPage(QWidget *page);
    // Runs a page's first read once per connection; the button's tag keeps
    // the score and is set before the read, so a second press during the
    // read's wait does not start it again.
    void FirstVisit(QPushButton *button, const std::function<void()> &read);
    void OpenEventLog();

    tStartOptions options;
    std::unique_ptr<tOndrel> ondrel;
    std::unique_ptr<tIniFile> fileInit;
    tAppSettings settings;
    bool SaveLog = false;
    std::unique_ptr<tTraceLog> Flog;
    std::unique_ptr<tDialogs> dialogs;
    bool shownOnce = false;

    QLabel *lblModel = nullptr;
    QLabel *lblStatus = nullptr;
    QWidget *pnlMain = nullptr;
    QPushButton *btnMenuMain = nullptr, *btnMenuStatus = nullptr, *btnMenuLog = nullptr,
                *btnMenuAbout = nullptr, *btnMenuSair = nullptr, *btnMenuPAR = nullptr,
                *btnMenuRTC = nullptr, *btnMenuSetOP = nullptr;
    std::array<QPushButton *, 4> btnMenuRelay{};
    std::vector<QPushButton *> menuButtons;

    TConnectionPage *conn = nullptr;
    TStatusScreen *status = nullptr;
    TLogRelaysPage *logPage = nullptr;
    TParPage *parPage = nullptr;
    TRtcPage *rtcPage = nullptr;
    TOpRelayPage *opPage = nullptr;
    TRelayPages *relayPages = nullptr;
    TAboutPage *aboutPage = nullptr;
    std::vector<QWidget *> pages;
    QWidget *current = nullptr;

    TfrmShow *msgWindow = nullptr;
    // Retries a close refused while a transaction waits.
    QTimer *closeRetry = nullptr;
};
