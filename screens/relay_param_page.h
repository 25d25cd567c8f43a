#pragma once

#include "page.h"
#include "param_fields.h"

#include <array>
#include <utility>
#include <vector>

class QTabWidget;
class TFieldForm;

// How one relay parameter page is laid out: its names, its sub-pages, its
// buttons and the dictionaries its controls edit. One row per page in
// relay_pages.cpp.
struct tRelayPageLayout {
    const char *page = "";
    const char *caption = "";                  // the title label's name
    const char *tabs = "";                     // tab control; empty: no sub-pages
    std::array<const char *, 4> subPages{};    // "objectName=Title"
    std::array<const char *, 2> buttons{};     // read, write; empty: none
    std::array<tFieldTable (*)(), 2> tables{}; // one form each, on the sub-pages
    const char *text = "";                     // a fixed text in place of controls
};

// A relay parameter page: its title, its sub-pages (if any), the controls
// of its dictionaries and its "Ler" and "Gravar" buttons.
class TRelayParamPage : public TPage {
    Q_OBJECT
  public:
    TRelayParamPage(ScreenHost &host, const tRelayPageLayout &layout, QWidget *parent = nullptr);

    QLabel *Caption() const { return Title(); }
    QTabWidget *Tabs() const { return tabs; }
    // Where the page's controls go: each sub-page, or the page itself.
    QList<QWidget *> SubPages() const { return subPages; }
    QPushButton *ReadButton() const { return read; }
    QPushButton *WriteButton() const { return write; }

    // The form built from `table`; nullptr when the page has none.
    TFieldForm *Form(tFieldTable table) const;
    // Fill and collect the forms of the tables operation `op` uses, in the
    // order the operation lists them.
    void Fill(int32_t op, const int32_t *block, const tOndrel &dev);
    void Collect(int32_t op, int32_t *block) const;

    // The relay (0..3) whose block the page shows: "Gravar" waits until the
    // controller's block is known (read or loaded), so a page filled from
    // zeros after a failed read cannot wipe the relay's settings.
    void SetRelay(int relay) { shownRelay = relay; }
    int Relay() const { return shownRelay; }
    void FollowState(const tOndrel &dev) override;

  private:
    QTabWidget *tabs = nullptr;
    QList<QWidget *> subPages;
    QPushButton *read = nullptr;
    QPushButton *write = nullptr;
    std::vector<std::pair<tFieldTable, TFieldForm *>> forms;
    int shownRelay = 0;
};
