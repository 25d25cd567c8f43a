#include "show_window.h"

#include "activity_indicator.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QTimer>

TfrmShow::TfrmShow(QWidget *mainWindow)
    : QWidget(mainWindow, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      indCnt(new TActivityIndicator), lbl(new QLabel(QStringLiteral("MSG"))),
      timer(new QTimer(this)) {
    setObjectName(QStringLiteral("frmShow"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(388, 58);

    auto *Panel1 = new QFrame;
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto *Panel9 = new QFrame;
    Panel9->setObjectName(QStringLiteral("Panel9"));
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(Panel1);
    auto *middle = new QHBoxLayout(Panel1);
    middle->setContentsMargins(5, 5, 5, 5);
    middle->addWidget(Panel9);
    auto *inner = new QHBoxLayout(Panel9);
    inner->setContentsMargins(5, 0, 5, 0);

    indCnt->setObjectName(QStringLiteral("indCnt"));
    indCnt->setFixedWidth(57);
    lbl->setObjectName(QStringLiteral("lblMsg"));
    lbl->setAlignment(Qt::AlignCenter);
    QFont bold = lbl->font();
    bold.setBold(true);
    bold.setPointSize(14);
    lbl->setFont(bold);
    inner->addWidget(indCnt);
    inner->addWidget(lbl, 1);

    timer->setObjectName(QStringLiteral("AutoHide"));
    timer->setInterval(800);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &TfrmShow::AutoHideTimer);
}

void TfrmShow::Msg(const QString &s) {
    timer->stop();
    lbl->setText(s);
    CentreOverOwner();
    show();
    // Fitted once shown: before the first show the label has no size yet.
    FitText();
    timer->start();
    FHideMsg = false;
}

void TfrmShow::HideMsg() {
    FHideMsg = true;
}

void TfrmShow::AutoHideTimer() {
    if (FHideMsg)
        hide();
}

// The window keeps its size; a message too long for one line at size 14 is
// written smaller, then on two lines, rather than cut off at both ends.
void TfrmShow::FitText() {
    ensurePolished();
    layout()->activate();
    const QRect room = lbl->contentsRect().adjusted(2, 0, -2, 0);
    QFont font = lbl->font();
    auto fits = [&](int size, bool wrap) {
        font.setPointSize(size);
        const int flags = Qt::AlignCenter | (wrap ? Qt::TextWordWrap : 0);
        const QRect need = QFontMetrics(font).boundingRect(room, flags, lbl->text());
        return need.width() <= room.width() && need.height() <= room.height();
    };
    bool wrap = false;
    int size = 14;
    while (size > 9 && !fits(size, false))
        --size;
    if (!fits(size, false)) {
        wrap = true;
        size = 12;
        while (size > 6 && !fits(size, true))
            --size;
    }
    font.setPointSize(size);
    lbl->setWordWrap(wrap);
    lbl->setFont(font);
}

void TfrmShow::CentreOverOwner() {
    if (const QWidget *owner = parentWidget())
        move(owner->frameGeometry().center() - rect().center());
}
