#include "page.h"

#include "screen_host.h"

#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {
struct tPageKeyRow {
    tPageKey key;
    const char *keys;
};
constexpr tPageKeyRow pageKeyRows[] = {
    {tPageKey::Read, "F5"},
    {tPageKey::SaveConfig, "Ctrl+S"},
    {tPageKey::LoadConfig, "Ctrl+O"},
};

// A box, a button, a list: something Tab stops at and whose insides are its own.
bool TakesTab(const QWidget *w) {
    return (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus &&
           !qobject_cast<const QTabWidget *>(w) && !qobject_cast<const QScrollArea *>(w);
}

struct tUnit {
    QRect at;
    QList<QWidget *> stops; // in reading order
};

QList<QWidget *> Stops(QWidget *container);

// Reading order of the units: rows from the top where no unit spans two of
// them, else columns from the left where none does, each cut again; what
// can be cut neither way is read by its top, then from the left.
QList<QWidget *> Read(std::vector<tUnit> units) {
    QList<QWidget *> out;
    if (units.size() == 1)
        return units.front().stops;
    for (bool rows : {true, false}) {
        std::stable_sort(units.begin(), units.end(), [rows](const tUnit &a, const tUnit &b) {
            return rows ? a.at.top() < b.at.top() : a.at.left() < b.at.left();
        });
        std::vector<std::vector<tUnit>> groups;
        int end = 0;
        for (const tUnit &u : units) {
            const int from = rows ? u.at.top() : u.at.left();
            // Two pixels of overlap still part rows or columns.
            const int to = rows ? u.at.bottom() : u.at.right();
            if (groups.empty() || from > end - 2) {
                groups.emplace_back();
                end = to;
            }
            end = std::max(end, to);
            groups.back().push_back(u);
        }
        if (groups.size() > 1) {
            for (auto &group : groups)
                out << Read(std::move(group));
            return out;
        }
    }
    std::stable_sort(units.begin(), units.end(), [](const tUnit &a, const tUnit &b) {
        return std::pair(a.at.top(), a.at.left()) < std::pair(b.at.top(), b.at.left());
    });
    for (const tUnit &u : units)
        out << u.stops;
    return out;
}

QList<QWidget *> Stops(QWidget *container) {
    if (auto *tabs = qobject_cast<QTabWidget *>(container)) {
        QList<QWidget *> out{tabs->tabBar()};
        if (QWidget *page = tabs->currentWidget())
            out << Stops(page);
        return out;
    }
    if (auto *area = qobject_cast<QScrollArea *>(container); area && area->widget())
        return Stops(area->widget());
    std::vector<tUnit> units;
    for (QObject *child : container->children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (!w || w->isWindow() || !w->isVisibleTo(container))
            continue;
        tUnit u{w->geometry(), TakesTab(w) ? QList<QWidget *>{w} : Stops(w)};
        if (!u.stops.isEmpty())
            units.push_back(std::move(u));
    }
    return units.empty() ? QList<QWidget *>() : Read(std::move(units));
}
} // namespace

QKeySequence KeyOf(tPageKey key) {
    for (const tPageKeyRow &row : pageKeyRows)
        if (row.key == key)
            return QKeySequence(QLatin1String(row.keys));
    return {};
}

QString ShortcutText(const QKeySequence &keys) {
    return QStringLiteral("Atalho: %1").arg(keys.toString(QKeySequence::NativeText));
}

QList<QWidget *> TabStops(QWidget *container) {
    return Stops(container);
}

void SetReadingOrder(QWidget *container) {
    const QList<QWidget *> stops = Stops(container);
    for (qsizetype i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops[i - 1], stops[i]);
}

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

void TPage::BindKey(tPageKey key, QPushButton *button) {
    keys[key] = button;
    const QString said = ShortcutText(KeyOf(key));
    const QString tip = button->toolTip();
    button->setToolTip(tip.isEmpty() ? said : tip + u'\n' + said);
}

bool TPage::PressKey(tPageKey key) {
    const auto bound = keys.find(key);
    if (bound == keys.end() || !bound->second->isEnabled())
        return false;
    bound->second->click();
    return true;
}

void TPage::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    SetReadingOrder(this);
    if (tabsFollowed)
        return;
    tabsFollowed = true;
    for (QTabWidget *tabs : findChildren<QTabWidget *>())
        connect(tabs, &QTabWidget::currentChanged, this, [this] { SetReadingOrder(this); });
}
