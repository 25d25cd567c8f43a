#include "relay_param_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

TRelayParamPage::TRelayParamPage(ScreenHost &host, const tRelayPageLayout &layout, QWidget *parent)
    : TPage(host, QString::fromUtf8(layout.page), QString(), parent,
            QString::fromUtf8(layout.caption)) {
    if (*layout.tabs) {
        tabs = new QTabWidget(this);
        tabs->setObjectName(QString::fromUtf8(layout.tabs));
        for (const char *sub : layout.subPages) {
            if (!sub)
                break;
            const QString row = QString::fromUtf8(sub);
            auto *page = new QWidget;
            page->setObjectName(row.section(u'=', 0, 0));
            new QVBoxLayout(page);
            tabs->addTab(page, row.section(u'=', 1));
            subPages << page;
        }
        Body()->addWidget(tabs, 1);
    } else if (*layout.text) {
        auto *text = new QLabel(QString::fromUtf8(layout.text), this);
        text->setAlignment(Qt::AlignCenter);
        text->setWordWrap(true);
        Body()->addWidget(text, 1);
    } else {
        auto *area = new QWidget(this);
        new QVBoxLayout(area);
        Body()->addWidget(area, 1);
        subPages << area;
    }
    if (layout.buttons[0]) {
        read = Button(QString::fromUtf8(layout.buttons[0]), QStringLiteral("Ler"), this);
        write = Button(QString::fromUtf8(layout.buttons[1]), QStringLiteral("Gravar"), this);
        defaults = Button(QString::fromUtf8(layout.buttons[2]),
                          QStringLiteral("Aplicar Valores Padrões"), this);
        auto *row = new QHBoxLayout;
        row->addWidget(read);
        row->addWidget(write);
        row->addStretch(1);
        row->addWidget(defaults);
        Body()->addLayout(row);
    }
}
