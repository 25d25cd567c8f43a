#pragma once

#include <QWidget>

class QLabel;
class QTimer;
class TActivityIndicator;

// The small borderless window that floats over the main window while a
// screen talks to the controller. Msg shows it; after HideMsg it goes at the
// next tick of AutoHide, which Msg restarts, so a message stays at least
// 800 ms and otherwise until the next multiple of 800 ms after the latest Msg.
class TfrmShow : public QWidget {
    Q_OBJECT
  public:
    explicit TfrmShow(QWidget *mainWindow);

    void Msg(const QString &s);
    void HideMsg();
    void AutoHideTimer();

    QLabel *lblMsg() const { return lbl; }
    QTimer *AutoHide() const { return timer; }

  private:
    void FitText();
    void CentreOverOwner();

    TActivityIndicator *indCnt;
    QLabel *lbl;
    QTimer *timer;
    bool FHideMsg = false;
};
