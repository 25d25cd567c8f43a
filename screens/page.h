#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QVBoxLayout;
class ScreenHost;
class tOndrel;
struct tSettings;

// A page of the main window: a panel named after the page, its title on
// top, its controls in Body(). The window asks every page the same things
// through these virtuals and knows nothing of a page's widgets.
class TPage : public QWidget {
    Q_OBJECT
  public:
    TPage(ScreenHost &host, const QString &name, const QString &title, QWidget *parent = nullptr,
          const QString &titleName = QString());

    QVBoxLayout *Body() const { return body; }
    QLabel *Title() const { return title; }

    // The settings this page keeps between runs: taken at start, given back
    // at exit.
    virtual void LoadSettings(const tSettings &) {}
    virtual void StoreSettings(tSettings &) const {}
    // Enables what the connection state and the model allow.
    virtual void FollowState(const tOndrel &) {}
    // Shows the device's values again, without traffic.
    virtual void Refill() {}
    // The read a visit runs (on the first visit after connecting, or on
    // every visit, as the menu says).
    virtual void VisitRead() {}
    // The window is closing: a page running a long action between events
    // asks it to stop at its next step and returns true while it still
    // runs, so that the window closes once it has returned.
    virtual bool StopForClose() { return false; }

    // A push button named `name` with `text`.
    static QPushButton *Button(const QString &name, const QString &text, QWidget *parent = nullptr);

  protected:
    ScreenHost &host;

  private:
    QVBoxLayout *body;
    QLabel *title;
};
