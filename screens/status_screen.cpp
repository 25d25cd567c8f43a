#include "status_screen.h"

#include "status_color_button.h"
#include "status_print.h"
#include "status_tag.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <array>

namespace {

// Sensors and relays shown by each page, pnlStatus1..pnlStatus4.
constexpr std::array<int, 4> sensorsOfPage = {1, 2, 4, 4};
constexpr std::array<int, 4> relaysOfPage = {1, 2, 3, 4};

int pageOfRelays(int nRelay) {
    return nRelay > 3 ? 4 : nRelay > 2 ? 3 : nRelay > 1 ? 2 : 1;
}

QString name(const char *prefix, int p, int k) {
    return QStringLiteral("%1%2_%3").arg(QLatin1String(prefix)).arg(p).arg(k);
}

QLabel *label(const QString &text, const QString &objectName, int pointSize, bool bold,
              QWidget *parent) {
    auto *l = new QLabel(text, parent);
    l->setObjectName(objectName);
    l->setAlignment(Qt::AlignCenter);
    QFont f = l->font();
    if (pointSize > 0)
        f.setPointSize(pointSize);
    f.setBold(bold);
    l->setFont(f);
    return l;
}

// One sensor or relay panel. All share one width, four of them fit the
// window side by side, and a shorter row stays centred.
QFrame *panel(QWidget *parent) {
    auto *f = new QFrame(parent);
    f->setFrameShape(QFrame::StyledPanel);
    f->setFrameShadow(QFrame::Raised);
    f->setFixedWidth(180);
    return f;
}

QHBoxLayout *centredRow(QVBoxLayout *outer) {
    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    row->addStretch(1);
    outer->addLayout(row);
    return row;
}

} // namespace

struct TStatusScreen::Impl {
    struct Page {
        QPointer<QWidget> widget;
        std::array<QLabel *, 4> ts{}, minTs{}, maxTs{}, rl{}, opRl{};
        std::array<TColorButton *, 4> cbt{};
        QPushButton *btnRead = nullptr;
        QPushButton *btnInitStat = nullptr;
        QCheckBox *cbxUpdate = nullptr;
    };

    explicit Impl(ScreenHost &h) : host(h) {}

    ScreenHost &host;
    std::array<Page, 4> pages;
    QTimer *timer = nullptr;
    bool autoUpdate = false;
    bool ticking = false;

    void build(TStatusScreen *q, int p);
    void displayPass();
};

void TStatusScreen::Impl::build(TStatusScreen *q, int p) {
    Page &pg = pages[p - 1];
    auto *w = new QWidget;
    pg.widget = w;
    w->setObjectName(QStringLiteral("pnlStatus%1").arg(p));

    auto *outer = new QVBoxLayout(w);
    outer->setSpacing(8);
    outer->addWidget(label(p == 1 ? QStringLiteral("Status de Temperatura e Rele")
                                  : QStringLiteral("Status de Temperaturas e Reles"),
                           QString(), 16, true, w));
    outer->addStretch(1);

    QHBoxLayout *sensors = centredRow(outer);
    for (int k = 1; k <= sensorsOfPage[p - 1]; ++k) {
        QFrame *f = panel(w);
        auto *v = new QVBoxLayout(f);
        v->setSpacing(2);
        v->addWidget(label(QStringLiteral("Sensor %1").arg(k), QString(), 12, true, f));
        pg.ts[k - 1] = label(QStringLiteral("TS"), name("lblTS", p, k), 20, true, f);
        pg.ts[k - 1]->setMinimumHeight(40);
        pg.minTs[k - 1] = label(QStringLiteral("MIN"), name("lblMinTS", p, k), 0, false, f);
        pg.maxTs[k - 1] = label(QStringLiteral("MAX"), name("lblMaxTS", p, k), 0, false, f);
        v->addWidget(pg.ts[k - 1]);
        v->addWidget(pg.minTs[k - 1]);
        v->addWidget(pg.maxTs[k - 1]);
        sensors->addWidget(f);
    }
    sensors->addStretch(1);

    QHBoxLayout *relays = centredRow(outer);
    for (int k = 1; k <= relaysOfPage[p - 1]; ++k) {
        // Lamp beside its words keeps the page within the window's height.
        QFrame *f = panel(w);
        auto *h = new QHBoxLayout(f);
        auto *lamp = new TColorButton(f);
        lamp->setObjectName(name("cbtRL", p, k));
        lamp->setToolTip(QStringLiteral("Clique para ligar ou desligar o rele"));
        pg.cbt[k - 1] = lamp;
        h->addWidget(lamp, 0, Qt::AlignVCenter);
        auto *v = new QVBoxLayout;
        v->setSpacing(2);
        v->addWidget(label(QStringLiteral("Rele %1").arg(k), QString(), 14, true, f));
        pg.rl[k - 1] = label(QStringLiteral("Desligado"), name("lblRL", p, k), 12, true, f);
        SetTag(pg.rl[k - 1], 0);
        pg.opRl[k - 1] = label(QStringLiteral("Modo"), name("lblOPRL", p, k), 0, false, f);
        pg.opRl[k - 1]->setWordWrap(true);
        v->addWidget(pg.rl[k - 1]);
        v->addWidget(pg.opRl[k - 1]);
        h->addLayout(v, 1);
        relays->addWidget(f);
        QObject::connect(lamp, &QPushButton::clicked, q, [q, p, k] { q->cbtRLClick(p, k); });
    }
    relays->addStretch(1);
    outer->addStretch(2);

    auto *bar = new QHBoxLayout;
    pg.btnRead = new QPushButton(QStringLiteral("Ler"), w);
    pg.btnRead->setObjectName(QStringLiteral("btnStatusRead%1").arg(p));
    pg.cbxUpdate = new QCheckBox(QStringLiteral("Atualização Automática"), w);
    pg.cbxUpdate->setObjectName(QStringLiteral("cbxUpdate%1").arg(p));
    pg.btnInitStat = new QPushButton(QStringLiteral("Iniciar Estatística"), w);
    pg.btnInitStat->setObjectName(QStringLiteral("btnInitStat%1").arg(p));
    for (QPushButton *b : {pg.btnRead, pg.btnInitStat})
        b->setMinimumSize(120, 30);
    bar->addWidget(pg.btnRead);
    bar->addWidget(pg.cbxUpdate);
    bar->addStretch(1);
    bar->addWidget(pg.btnInitStat);
    outer->addLayout(bar);

    QObject::connect(pg.btnRead, &QPushButton::clicked, q, [q] { q->btnStatusRead4Click(); });
    QObject::connect(pg.btnInitStat, &QPushButton::clicked, q, [q] { q->btnInitStat4Click(); });
    QObject::connect(pg.cbxUpdate, &QCheckBox::clicked, q, [q, p] { q->cbxUpdateClick(p); });
}

void TStatusScreen::Impl::displayPass() {
    const tOndrel &dev = host.Ondrel();
    const int p = pageOfRelays(dev.nRelay);
    Page &pg = pages[p - 1];
    if (!pg.widget)
        return;
    for (int k = 0; k < sensorsOfPage[p - 1]; ++k)
        PrintTemp(pg.ts[k], pg.minTs[k], pg.maxTs[k], dev.Temperature[k]);
    for (int k = 0; k < relaysOfPage[p - 1]; ++k)
        printRelay(pg.rl[k], pg.cbt[k], dev.Relay[k]);
}

TStatusScreen::TStatusScreen(ScreenHost &host, QObject *parent)
    : QObject(parent), d(new Impl(host)) {
    for (int p = 1; p <= 4; ++p)
        d->build(this, p);
    d->timer = new QTimer(this);
    d->timer->setObjectName(QStringLiteral("timerProcess"));
    d->timer->setInterval(1000);
    connect(d->timer, &QTimer::timeout, this, [this] { timerProcessTimer(); });
}

TStatusScreen::~TStatusScreen() {
    // A page placed in the window is owned by it and may be gone already.
    for (auto &pg : d->pages)
        delete pg.widget.data();
    delete d;
}

QWidget *TStatusScreen::page(int nRelay) const {
    return d->pages[pageOfRelays(nRelay) - 1].widget;
}

QTimer *TStatusScreen::timerProcess() const {
    return d->timer;
}

void TStatusScreen::btnStatusRead4Click() {
    const int32_t r = RunCommand(
        d->host, QStringLiteral("Lendo temperatura e estados dos reles"),
        QStringLiteral("Lendo temperatura e estados dos reles no Ondrel..."), cmdGET_STATUS);
    if (r > 0)
        d->displayPass();
    if (r >= 0)
        d->host.Report(0, QStringLiteral("Leituras feitas com sucesso"));
}

void TStatusScreen::PrintOpRelays() {
    const tOndrel &dev = d->host.Ondrel();
    const int p = pageOfRelays(dev.nRelay);
    if (!d->pages[p - 1].widget)
        return;
    for (int k = 0; k < relaysOfPage[p - 1]; ++k)
        PrintOpRelay(d->pages[p - 1].opRl[k], dev.Relay[k].par[0]);
}

void TStatusScreen::timerProcessTimer() {
    const tOndrel &dev = d->host.Ondrel();
    if (!d->autoUpdate || d->ticking || dev.Busy || !dev.Connected())
        return;
    d->ticking = true;
    if (d->host.SendCommand(cmdGET_STATUS) > 0)
        d->displayPass();
    d->ticking = false;
}

void TStatusScreen::btnInitStat4Click() {
    d->host.Report(0, QStringLiteral("Envio de comando de reinicio da estatísticas"));
    const int32_t r = d->host.SendCommand(cmdRST_STAT_TEMP);
    if (r < 0) {
        d->host.ModbusError(r);
        return;
    }
    btnStatusRead4Click();
    d->host.Report(0, QStringLiteral("Reinicio da estatística feito com sucesso"));
}

void TStatusScreen::cbxUpdateClick(int page) {
    Q_UNUSED(page);
    d->autoUpdate = !d->autoUpdate;
    // Under automatic update a manual read would only collide with the ticks.
    for (auto &pg : d->pages) {
        if (!pg.widget)
            continue;
        pg.cbxUpdate->setChecked(d->autoUpdate);
        pg.btnRead->setEnabled(!d->autoUpdate);
    }
}

bool TStatusScreen::AutoUpdate() const {
    return d->autoUpdate;
}

void TStatusScreen::cbtRLClick(int page, int relay) {
    if (!checkModeSlave(d->host))
        return;
    tRelay &r = d->host.Ondrel().Relay[relay - 1];
    const int32_t before = r.sts;
    r.sts = r.sts > 0 ? 0 : 1;
    if (!UpdateRelay()) {
        // Keep memory in step with the controller, or the next switch of any
        // other relay would send this unconfirmed state along with it.
        r.sts = before;
        return;
    }
    Impl::Page &pg = d->pages[page - 1];
    printRelay(pg.rl[relay - 1], pg.cbt[relay - 1], r);
}

bool TStatusScreen::UpdateRelay() {
    d->host.Report(0, QStringLiteral("Atualizando estados dos reles"));
    const int32_t r = d->host.SendCommand(cmdSET_RELAYS);
    if (r < 0) {
        d->host.ModbusError(r);
        return false;
    }
    d->host.Report(0, QStringLiteral("Atualizando feita com sucesso"));
    return true;
}
