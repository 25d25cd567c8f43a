#pragma once

#include <QWidget>

#include <map>
#include <vector>

class QKeySequence;
class QLabel;
class QPushButton;
class QVBoxLayout;
class ScreenHost;
class TPage;
class tOndrel;
struct tSettings;

// What a menu button opens. A page opens itself; a set of pages (the status
// pages by relay count, the relay parameter pages by operation) picks one.
class tMenuTarget {
  public:
    virtual ~tMenuTarget() = default;
    // The page to show now (nullptr: none); `relay` is the relay (0..3) of
    // an "Ajustar Rele" button, 0 for the others.
    virtual QWidget *PageToShow(int relay) = 0;
    // The read a visit runs once the page is shown (on the first visit
    // after connecting, or on every visit, as the menu says).
    virtual void VisitRead() {}
    // The pages behind this target, for the window's page host.
    virtual std::vector<TPage *> Pages() = 0;
};

// What a key asks of a page: the read of the page shown (its "Ler"), and
// the configuration file's save and load, from any page.
enum class tPageKey { Read, SaveConfig, LoadConfig };
QKeySequence KeyOf(tPageKey key);
// "Atalho: F5", for tooltips.
QString ShortcutText(const QKeySequence &keys);

// A page of the main window: a panel named after the page, its title on
// top, its controls in Body(). The window asks every page the same things
// through these virtuals and knows nothing of a page's widgets.
class TPage : public QWidget, public tMenuTarget {
    Q_OBJECT
  public:
    TPage(ScreenHost &host, const QString &name, const QString &title, QWidget *parent = nullptr,
          const QString &titleName = QString());

    QVBoxLayout *Body() const { return body; }
    QLabel *Title() const { return title; }

    QWidget *PageToShow(int) override { return this; }
    std::vector<TPage *> Pages() override { return {this}; }

    // The settings this page keeps between runs: taken at start, given back
    // at exit.
    virtual void LoadSettings(const tSettings &) {}
    virtual void StoreSettings(tSettings &) const {}
    // The window has been shown for the first time.
    virtual void WindowShown() {}
    // Enables what the connection state and the model allow.
    virtual void FollowState(const tOndrel &) {}
    // The blocks (tKnown bits) this page shows: whenever the copy receives
    // one of them (a read anywhere, a file loaded) the page refills, so what
    // it shows, and what its "Gravar" sends, is what the copy holds.
    virtual uint32_t Shows() const { return 0; }
    // Shows the device's values again, without traffic.
    virtual void Refill() {}
    // A page built after the copy received `blocks` shows them as one built
    // at start would, having refilled at each of those reads.
    void CatchUp(uint32_t blocks) {
        if (blocks)
            BlocksRead(blocks);
    }

    // A push button named `name` with `text`.
    static QPushButton *Button(const QString &name, const QString &text, QWidget *parent = nullptr);

    // Presses the button bound to `key`, as a click would; false when the
    // page has none or it cannot be pressed now.
    bool PressKey(tPageKey key);

  protected:
    // The copy received `blocks`; by default the page refills when it shows
    // one of them.
    virtual void BlocksRead(uint32_t blocks);
    // `button` answers `key`; its tooltip says the shortcut.
    void BindKey(tPageKey key, QPushButton *button);
    // Tab follows reading order: rows from the top, each from the left,
    // a column of boxes read whole before the next.
    void showEvent(QShowEvent *event) override;

    ScreenHost &host;

  private:
    QVBoxLayout *body;
    QLabel *title;
    std::map<tPageKey, QPushButton *> keys;
    bool tabsFollowed = false;
};

// What `container` shows that takes Tab, in reading order.
QList<QWidget *> TabStops(QWidget *container);
// Chains the tab order of what `container` shows in reading order.
void SetReadingOrder(QWidget *container);
