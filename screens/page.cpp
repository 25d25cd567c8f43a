#include "page.h"

#include "screen_host.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TPage::TPage(ScreenHost &host_, const QString &name, const QString &titleText, QWidget *parent,
             const QString &titleName)
    : QWidget(parent), host(host_), body(new QVBoxLayout(this)), title(new QLabel(titleText)) {
    setObjectName(name);
    title->setObjectName(titleName);
    // The styles draw every page title alike through this property.
    title->setProperty("pageTitle", true);
    QFont font = title->font();
    font.setPointSize(13);
    font.setBold(true);
    title->setFont(font);
    body->setContentsMargins(8, 4, 8, 6);
    body->setSpacing(6);
    body->addWidget(title);
    connect(&host.Session(), &tSession::blockRead, this,
            [this](uint32_t blocks) { BlocksRead(blocks); });
}

void TPage::BlocksRead(uint32_t blocks) {
    if (blocks & Shows())
        Refill();
}

QPushButton *TPage::Button(const QString &name, const QString &text, QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    return button;
}
