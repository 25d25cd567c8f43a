#pragma once

#include "page.h"

#include <array>

class QTabWidget;

// How one relay parameter page is laid out: its names, its sub-pages and
// its buttons. One row per page in relay_pages.cpp.
struct tRelayPageLayout {
    const char *page = "";
    const char *caption = "";               // the title label's name
    const char *tabs = "";                  // tab control; empty: no sub-pages
    std::array<const char *, 4> subPages{}; // "objectName=Title"
    std::array<const char *, 3> buttons{};  // read, write, defaults; empty: none
    const char *text = "";                  // a fixed text in place of controls
};

// A relay parameter page: its title, its sub-pages (if any) and its "Ler",
// "Gravar" and "Aplicar Valores Padrões" buttons.
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
    QPushButton *DefaultsButton() const { return defaults; }

  private:
    QTabWidget *tabs = nullptr;
    QList<QWidget *> subPages;
    QPushButton *read = nullptr;
    QPushButton *write = nullptr;
    QPushButton *defaults = nullptr;
};
