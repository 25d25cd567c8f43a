#include "relay_param_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

TRelayParamPage::TRelayParamPage(const Layout &layout, QWidget *parent)
    : TPage(layout.page, QString(), parent, layout.caption) {
    if (!layout.tabs.isEmpty()) {
        tabs = new QTabWidget;
        tabs->setObjectName(layout.tabs);
        for (const QString &sub : layout.subPages) {
            auto *page = new QWidget;
            page->setObjectName(sub.section(u'=', 0, 0));
            tabs->addTab(page, sub.section(u'=', 1));
        }
        Body()->addWidget(tabs, 1);
    } else {
        Body()->addStretch(1);
    }
    if (layout.buttons.size() == 3) {
        read = Button(layout.buttons[0], QStringLiteral("Ler"));
        write = Button(layout.buttons[1], QStringLiteral("Gravar"));
        auto *row = new QHBoxLayout;
        row->addWidget(read);
        row->addWidget(write);
        row->addStretch(1);
        row->addWidget(Button(layout.buttons[2], QStringLiteral("Aplicar Valores Padrões")));
        Body()->addLayout(row);
    }
}
