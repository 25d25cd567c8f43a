#include "status_screen.h"

#include "page_action.h"
#include "status_color_button.h"
#include "status_print.h"
#include "status_tag.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <array>

namespace {

// Relays shown by each page, pnlStatus1..pnlStatus4; the sensors are the
// model's for that many relays.
constexpr std::array<int, 4> relaysOfPage = {1, 2, 3, 4};
int sensorsOfPage(int p) {
    return ShownSensors(relaysOfPage[size_t(p - 1)]);
}

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

TStatusPage::TStatusPage(ScreenHost &host_, TStatusScreen &screen_, int p, QWidget *parent)
    : TPage(host_, QStringLiteral("pnlStatus%1").arg(p),
            p == 1 ? QStringLiteral("Status de Temperatura e Rele")
                   : QStringLiteral("Status de Temperaturas e Reles"),
            parent),
      number(p), screen(screen_) {
    QVBoxLayout *outer = Body();
    Title()->setAlignment(Qt::AlignCenter);
    outer->addStretch(1);

    QHBoxLayout *sensors = centredRow(outer);
    for (int k = 1; k <= sensorsOfPage(p); ++k) {
        QFrame *f = panel(this);
        auto *v = new QVBoxLayout(f);
        v->setSpacing(2);
        v->addWidget(label(QStringLiteral("Sensor %1").arg(k), QString(), 12, true, f));
        ts[k - 1] = label(QStringLiteral("TS"), name("lblTS", p, k), 20, true, f);
        ts[k - 1]->setMinimumHeight(40);
        minTs[k - 1] = label(QStringLiteral("MIN"), name("lblMinTS", p, k), 0, false, f);
        maxTs[k - 1] = label(QStringLiteral("MAX"), name("lblMaxTS", p, k), 0, false, f);
        v->addWidget(ts[k - 1]);
        v->addWidget(minTs[k - 1]);
        v->addWidget(maxTs[k - 1]);
        sensors->addWidget(f);
    }
    sensors->addStretch(1);

    QHBoxLayout *relays = centredRow(outer);
    for (int k = 1; k <= relaysOfPage[p - 1]; ++k) {
        // Lamp beside its words keeps the page within the window's height.
        QFrame *f = panel(this);
        auto *h = new QHBoxLayout(f);
        auto *lamp = new TColorButton(f);
        lamp->setObjectName(name("cbtRL", p, k));
        lamp->setToolTip(QStringLiteral("Clique para ligar ou desligar o relé"));
        cbt[k - 1] = lamp;
        h->addWidget(lamp, 0, Qt::AlignVCenter);
        auto *v = new QVBoxLayout;
        v->setSpacing(2);
        v->addWidget(label(QStringLiteral("Rele %1").arg(k), QString(), 14, true, f));
        rl[k - 1] = label(QStringLiteral("Desligado"), name("lblRL", p, k), 12, true, f);
        SetTag(rl[k - 1], 0);
        opRl[k - 1] = label(QStringLiteral("Modo"), name("lblOPRL", p, k), 0, false, f);
        opRl[k - 1]->setWordWrap(true);
        v->addWidget(rl[k - 1]);
        v->addWidget(opRl[k - 1]);
        h->addLayout(v, 1);
        relays->addWidget(f);
        connect(lamp, &QPushButton::clicked, &screen, [this, k] { screen.cbtRLClick(number, k); });
    }
    relays->addStretch(1);
    outer->addStretch(2);

    auto *bar = new QHBoxLayout;
    btnRead = Button(QStringLiteral("btnStatusRead%1").arg(p), QStringLiteral("Ler"), this);
    cbxUpdate = new QCheckBox(QStringLiteral("Atualização Automática"), this);
    cbxUpdate->setObjectName(QStringLiteral("cbxUpdate%1").arg(p));
    btnInitStat =
        Button(QStringLiteral("btnInitStat%1").arg(p), QStringLiteral("Iniciar Estatística"), this);
    for (QPushButton *b : {btnRead, btnInitStat})
        b->setMinimumSize(120, 30);
    bar->addWidget(btnRead);
    bar->addWidget(cbxUpdate);
    bar->addStretch(1);
    bar->addWidget(btnInitStat);
    outer->addLayout(bar);

    connect(btnRead, &QPushButton::clicked, &screen, [this] { screen.btnStatusRead4Click(); });
    BindKey(tPageKey::Read, btnRead);
    connect(btnInitStat, &QPushButton::clicked, &screen, [this] { screen.btnInitStat4Click(); });
    connect(cbxUpdate, &QCheckBox::clicked, &screen, [this] { screen.cbxUpdateClick(number); });
}

void TStatusPage::VisitRead() {
    screen.btnStatusRead4Click();
}

TStatusScreen::TStatusScreen(ScreenHost &host_, QWidget *pageParent, QObject *parent)
    : QObject(parent), host(host_) {
    for (int p = 1; p <= 4; ++p)
        pages[size_t(p - 1)] = new TStatusPage(host, *this, p, pageParent);
    tSession &session = host.Session();
    connect(session.timerProcess(), &QTimer::timeout, this, [this] { timerProcessTimer(); });
    // A controller just identified: its relays' operations on its page.
    connect(&session, &tSession::connectionChanged, this, [this](bool connected) {
        if (connected)
            PrintOpRelays();
    });
    // Built during a session: as if it had been there when it began.
    if (session.Connected())
        PrintOpRelays();
}

TStatusPage *TStatusScreen::page(int nRelay) const {
    return pages[size_t(pageOfRelays(nRelay) - 1)];
}

QTimer *TStatusScreen::timerProcess() const {
    return host.Session().timerProcess();
}

QWidget *TStatusScreen::PageToShow(int) {
    return page(host.Ondrel().nRelay);
}

void TStatusScreen::displayPass() {
    const tStatusReading &r = host.Ondrel().LastReading();
    const TStatusPage &pg = *page(host.Ondrel().nRelay);
    for (int k = 0; k < sensorsOfPage(pg.number); ++k)
        PrintTemp(pg.ts[k], pg.minTs[k], pg.maxTs[k], r, k);
    for (int k = 0; k < relaysOfPage[size_t(pg.number - 1)]; ++k)
        printRelay(pg.rl[k], pg.cbt[k], r.relay[size_t(k)]);
}

void TStatusScreen::btnStatusRead4Click() {
    RunAction(host, {.progress = QStringLiteral("Lendo temperatura e estados dos reles"),
                     .popup = true,
                     .commands = {cmdGET_STATUS},
                     .done = [this] { displayPass(); },
                     .success = QStringLiteral("Leituras feitas com sucesso")});
}

void TStatusScreen::PrintOpRelays() {
    const tOndrel &dev = host.Ondrel();
    const TStatusPage &pg = *page(dev.nRelay);
    for (int k = 0; k < relaysOfPage[pg.number - 1]; ++k)
        PrintOpRelay(pg.opRl[k], dev.Relay[k].par[0]);
}

void TStatusScreen::timerProcessTimer() {
    const tOndrel &dev = host.Ondrel();
    if (!autoUpdate || ticking || !dev.Connected())
        return;
    // One read waiting at a time: a slow line gets no pile of them.
    ticking = true;
    RunAction(host, {.commands = {cmdGET_STATUS},
                     .background = true,
                     .silent = true,
                     .done = [this] { displayPass(); }})
        .Then([this](int32_t) { ticking = false; });
}

void TStatusScreen::btnInitStat4Click() {
    RunAction(host, {.progress = QStringLiteral("Envio de comando de reinicio da estatísticas"),
                     .commands = {cmdRST_STAT_TEMP},
                     .done = [this] { btnStatusRead4Click(); },
                     .success = QStringLiteral("Reinicio da estatística feito com sucesso")});
}

void TStatusScreen::cbxUpdateClick(int) {
    autoUpdate = !autoUpdate;
    // Under automatic update a manual read would only collide with the ticks.
    for (TStatusPage *pg : pages) {
        pg->cbxUpdate->setChecked(autoUpdate);
        pg->btnRead->setEnabled(!autoUpdate);
    }
}

void TStatusScreen::cbtRLClick(int p, int relay) {
    if (!checkModeSlave(host))
        return;
    tRelay &r = host.Ondrel().Relay[relay - 1];
    const int32_t before = r.sts;
    r.sts = r.sts > 0 ? 0 : 1;
    UpdateRelay().Then([this, p, relay, before](int32_t result) {
        tRelay &now = host.Ondrel().Relay[relay - 1];
        if (result < 0) {
            // Keep memory in step with the controller, or the next switch of
            // any other relay would send this unconfirmed state along with it.
            now.sts = before;
            return;
        }
        TStatusPage &pg = *pages[size_t(p - 1)];
        printRelay(pg.rl[relay - 1], pg.cbt[relay - 1], now.sts);
    });
}

tTask<int32_t> TStatusScreen::UpdateRelay() {
    return RunAction(host, {.progress = QStringLiteral("Atualizando estados dos reles"),
                            .commands = {cmdSET_RELAYS},
                            .success = QStringLiteral("Atualizando feita com sucesso")});
}
