#pragma once

#include "page.h"

#include <QStringList>

class QLabel;
class QTabWidget;

// A relay parameter page: its title label, its sub-pages (if any) and its
// "Ler", "Gravar" and "Aplicar Valores Padrões" buttons.
class TRelayParamPage : public TPage {
    Q_OBJECT
  public:
    struct Layout {
        QString page;
        QString caption;
        QString tabs;         // tab control name; empty: no sub-pages
        QStringList subPages; // "objectName=Title" per sub-page
        QStringList buttons;  // read, write and defaults button names; empty: none
    };
    explicit TRelayParamPage(const Layout &layout, QWidget *parent = nullptr);

    QLabel *Caption() const { return Title(); }
    QTabWidget *Tabs() const { return tabs; }
    QPushButton *ReadButton() const { return read; }
    QPushButton *WriteButton() const { return write; }

  private:
    QTabWidget *tabs = nullptr;
    QPushButton *read = nullptr;
    QPushButton *write = nullptr;
};

// One page per operation; see relay_pages.h for which operation shows which.
class TNopPage : public TRelayParamPage {
    Q_OBJECT
  public:
    explicit TNopPage(QWidget *parent = nullptr);
};

class TColdPage : public TRelayParamPage {
    Q_OBJECT
  public:
    explicit TColdPage(QWidget *parent = nullptr);
};

class TDefrostPage : public TRelayParamPage {
    Q_OBJECT
  public:
    explicit TDefrostPage(QWidget *parent = nullptr);
};

class TFanPage : public TRelayParamPage {
    Q_OBJECT
  public:
    explicit TFanPage(QWidget *parent = nullptr);
};

class THeatPage : public TRelayParamPage {
    Q_OBJECT
  public:
    explicit THeatPage(QWidget *parent = nullptr);
};

class TAuxPage : public TRelayParamPage {
    Q_OBJECT
  public:
    explicit TAuxPage(QWidget *parent = nullptr);
};

class TTimerPage : public TRelayParamPage {
    Q_OBJECT
  public:
    explicit TTimerPage(QWidget *parent = nullptr);
};
