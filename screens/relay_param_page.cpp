#include "relay_param_page.h"

#include "field_form.h"
#include "page_action.h"
#include "relay_params.h"
#include "u_ondrel.h"

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
    for (auto table : layout.tables)
        if (table)
            forms.emplace_back(table(), new TFieldForm(table(), subPages, this));
    if (layout.buttons[0]) {
        read = Button(QString::fromUtf8(layout.buttons[0]), QStringLiteral("Ler"), this);
        write = Button(QString::fromUtf8(layout.buttons[1]), QStringLiteral("Gravar"), this);
        BindKey(tPageKey::Read, read);
        auto *row = new QHBoxLayout;
        row->addWidget(read);
        row->addWidget(write);
        row->addStretch(1);
        Body()->addLayout(row);
    }
}

TFieldForm *TRelayParamPage::Form(tFieldTable table) const {
    for (const auto &[t, form] : forms)
        if (t.data() == table.data())
            return form;
    return nullptr;
}

void TRelayParamPage::Fill(int32_t op, const int32_t *block, const tOndrel &dev) {
    for (tFieldTable table : RelayFieldTables(op))
        if (TFieldForm *form = Form(table))
            form->Fill(block, dev);
}

void TRelayParamPage::Collect(int32_t op, int32_t *block) const {
    for (tFieldTable table : RelayFieldTables(op))
        if (TFieldForm *form = Form(table))
            form->Collect(block);
}

void TRelayParamPage::FollowState(const tOndrel &dev) {
    if (!read)
        return;
    read->setEnabled(dev.Connected());
    const bool known = dev.IsKnown(knownRelay(shownRelay));
    write->setEnabled(dev.Connected() && known);
    write->setToolTip(known
                          ? QString()
                          : NotKnownText(knownRelay(shownRelay)) +
                                QStringLiteral(" (Ler, ou carregue um arquivo de configurações)"));
}
