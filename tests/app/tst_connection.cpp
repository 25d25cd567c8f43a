// The connection page against a simulated controller, and the control
// states and first-visit reads that follow the connection.
#include "activity_indicator.h"
#include "app_fixture.h"
#include "relay_operations.h"
#include "u_uart.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QProgressBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "status_screen.h"

class tst_connection : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void startsDisconnectedOnConnectionPage();
    void connectAndDisconnectEachModel_data();
    void connectAndDisconnectEachModel();
    void firstVisitReadsOncePerConnection();
    void relayPageFollowsOperation_data();
    void relayPageFollowsOperation();
    void commandDuringAnotherWaitsItsTurn();
    void silentControllerGivesLongDialog();
    void portInUseGivesOpenError();
    void unpluggedAdapterEndsTheSessionOnce();
    void connectWithoutPortSelected();
    void typedNetworkAddressIsKept();
    void listsEveryPortInTheMemo();
    void modbusErrorTexts_data();
    void modbusErrorTexts();
    void closeWaitsForTransaction();
    void memoClears_data();
    void memoClears();
    void scanSetsAddressAndHealthFollowsTheSession();
    void scanAndFiguresReadInEveryStyle();
};

namespace {
const QStringList deviceMenus = {"btnMenuStatus", "btnMenuLog",    "btnMenuPAR",
                                 "btnMenuRTC",    "btnMenuSetOP",  "btnMenuRelay1",
                                 "btnMenuRelay2", "btnMenuRelay3", "btnMenuRelay4"};

bool Enabled(const App &app, const QString &name) {
    const QWidget *w = app.Find<QWidget>(name);
    return w && w->isEnabled();
}

// Checks every control whose state follows the connection and the model.
void ExpectState(const App &app, bool connected, int nRelay, bool rtc) {
    for (const QString &name : deviceMenus) {
        bool expected = connected;
        if (name == "btnMenuRTC")
            expected = connected && rtc;
        else if (name.startsWith("btnMenuRelay"))
            expected = connected && nRelay >= name.right(1).toInt();
        QVERIFY2(Enabled(app, name) == expected, qPrintable(name));
    }
    for (const char *name : {"btnMenuMain", "btnMenuHist", "btnMenuAbout", "btnMenuSair"})
        QVERIFY2(Enabled(app, name), name);
    for (const char *name : {"btnStandard", "btnLoadConfig", "btnSaveConfig"})
        QVERIFY2(Enabled(app, name) == connected, name);
    for (const char *name : {"cbxPort", "edtID", "spiBaud", "spiTimeout", "btnUpDatePorts"})
        QVERIFY2(Enabled(app, name) == !connected, name);
    for (int k = 2; k <= 4; ++k) {
        QVERIFY2(Enabled(app, QStringLiteral("cbxOpRelay%1").arg(k)) == (nRelay >= k), "combo");
        QVERIFY2(Enabled(app, QStringLiteral("tabRelay%1").arg(k)) == (nRelay >= k), "tab");
    }
    QCOMPARE(app.w->StatusScreen()->timerProcess()->isActive(), connected);
    QCOMPARE(app.Find<QPushButton>("btnCnt")->text(), connected ? "Desconectar" : "Conectar");
    QVERIFY(Enabled(app, "btnCnt"));
    QVERIFY(!app.Find<QWidget>("LayoutIndConnect")->isVisible());
}

// The pages of the host that are visible: exactly one is expected.
QStringList ShownPages(const App &app) {
    QStringList shown;
    for (QWidget *page : app.Find<QWidget>("pnlMain")->findChildren<QWidget *>(
             QString(), Qt::FindDirectChildrenOnly))
        if (page->isVisibleTo(app.w.get()) && !page->objectName().isEmpty())
            shown << page->objectName();
    return shown;
}

int Tag(const App &app, const QString &button) {
    return app.Find<QPushButton>(button)->property("tag").toInt();
}
} // namespace

void tst_connection::startsDisconnectedOnConnectionPage() {
    Sim sim;
    QVERIFY(sim.started);
    App app;
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    QCOMPARE(ShownPages(app), QStringList{"pnlConnection"});
    ExpectState(app, false, 0, false);
    QCOMPARE(app.Find<QLabel>("lblModel")->text(), "Modelo do Ondrel");
    QCOMPARE(w.windowTitle(), "Tarvik v1.1");
    QCOMPARE(w.size(), QSize(915, 451));
}

void tst_connection::connectAndDisconnectEachModel_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("nRelay");
    QTest::addColumn<bool>("rtc");
    QTest::newRow("qx1n") << "qx1n" << 1 << false;
    QTest::newRow("qx1r") << "qx1r" << 1 << true;
    QTest::newRow("qx2n") << "qx2n" << 2 << false;
    QTest::newRow("qx2r") << "qx2r" << 2 << true;
    QTest::newRow("qx3r") << "qx3r" << 3 << true;
    QTest::newRow("qx4r") << "qx4r" << 4 << true;
    QTest::newRow("unknown") << "zz9k" << 1 << false;
    QTest::newRow("upper case") << "QX4R" << 1 << false;
}

void tst_connection::connectAndDisconnectEachModel() {
    QFETCH(QString, model);
    QFETCH(int, nRelay);
    QFETCH(bool, rtc);
    Sim sim(model.toStdString());
    QVERIFY(sim.started);
    App app;
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Click("btnCnt");
    QCOMPARE(app.Status(),
             QStringLiteral("Conectado ao dispositivo %1i firmware versão 1.2").arg(model));
    QCOMPARE(app.Find<QLabel>("lblModel")->text(),
             QStringLiteral("Ondrel %1i - Firmware 1.2").arg(model));
    ExpectState(app, true, nRelay, rtc);

    app.Click("btnMenuStatus");
    QCOMPARE(ShownPages(app), QStringList{QStringLiteral("pnlStatus%1").arg(nRelay)});
    // Built on this first visit, after the identification: it names the
    // operations the identification brought.
    for (int k = 0; k < nRelay; ++k)
        QCOMPARE(app.Find<QLabel>(QStringLiteral("lblOPRL%1_%2").arg(nRelay).arg(k + 1))->text(),
                 OpRelayName(w.Ondrel().Relay[size_t(k)].par[0]));

    app.Click("btnCnt");
    QCOMPARE(app.Status(), "Desconectado do dispositivo");
    QCOMPARE(app.Find<QLabel>("lblModel")->text(), "Modelo do Ondrel");
    // The relay count outlives the session; the device buttons do not.
    ExpectState(app, false, nRelay, rtc);
    QCOMPARE(ShownPages(app), QStringList{QStringLiteral("pnlStatus%1").arg(nRelay)});
    QVERIFY(app.dialogs->shown.isEmpty());
}

void tst_connection::firstVisitReadsOncePerConnection() {
    Sim sim;
    QVERIFY(sim.started);
    App app;
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Click("btnCnt");
    sim::Controller &ctl = *sim.controller;
    // The recording's and the refresh's status reads may fall between: the
    // pages' reads are counted apart.
    int pageReads = 0;
    int statusReads = 0;
    connect(&w.Session(), &tSession::exchanged, &w,
            [&](const tExchange &e) { ++(e.cmd == cmdGET_STATUS ? statusReads : pageReads); });
    auto requestsFor = [&](const QString &button) {
        const int before = pageReads;
        app.Click(button);
        return pageReads - before;
    };
    auto statusReadsFor = [&](const QString &button) {
        const int before = statusReads;
        app.Click(button);
        return statusReads - before;
    };
    // Button, requests of the first visit.
    const std::pair<QString, int> pages[] = {
        {"btnMenuPAR", 1}, {"btnMenuRTC", 3}, {"btnMenuSetOP", 1}, {"btnMenuRelay2", 1}};
    for (const auto &[button, reads] : pages) {
        QCOMPARE(requestsFor(button), reads);
        QCOMPARE(requestsFor(button), 0);
        QCOMPARE(Tag(app, button), 1);
    }
    QCOMPARE(ShownPages(app).size(), 1);
    // The status page reads on every visit.
    QVERIFY(statusReadsFor("btnMenuStatus") >= 1);
    QVERIFY(statusReadsFor("btnMenuStatus") >= 1);

    app.Click("btnMenuMain");
    app.Click("btnCnt");
    for (const auto &[button, reads] : pages)
        QCOMPARE(Tag(app, button), 0);
    app.Click("btnCnt");
    QCOMPARE(requestsFor("btnMenuPAR"), 1);

    // A failed first read is reported and still counts as the visit.
    ctl.setFault(sim::Fault::Exception, 2, 1);
    QCOMPARE(requestsFor("btnMenuRTC"), 1);
    QCOMPARE(app.dialogs->shown, QStringList{"warning: ILLEGAL DATA ADDRESS"});
    QCOMPARE(app.Status(), "Modbus error ILLEGAL DATA ADDRESS");
    QCOMPARE(requestsFor("btnMenuRTC"), 0);
    QCOMPARE(app.dialogs->shown.size(), 1);
}

void tst_connection::relayPageFollowsOperation_data() {
    QTest::addColumn<int>("relay");
    QTest::addColumn<int>("opAtConnect");
    QTest::addColumn<int>("opInBlock");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("title");
    QTest::newRow("cooling") << 1 << 1 << 1 << "pnlCold"
                             << "lblCaptionCold"
                             << "Rele1 - Refrigeração";
    QTest::newRow("conditional timer") << 2 << 8 << 8 << "pnlCold"
                                       << "lblCaptionCold"
                                       << "Rele2 - Timer Condicional";
    QTest::newRow("defrost") << 3 << 3 << 3 << "pnlDefrost"
                             << "lblCaptionDefrost"
                             << "Rele3 - Degelo";
    QTest::newRow("changed on the controller") << 4 << 3 << 4 << "pnlFan"
                                               << "lblCaptionFan"
                                               << "Rele4 - Ventilador";
    QTest::newRow("no page") << 1 << 9 << 9 << ""
                             << ""
                             << "";
}

void tst_connection::relayPageFollowsOperation() {
    QFETCH(int, relay);
    QFETCH(int, opAtConnect);
    QFETCH(int, opInBlock);
    QFETCH(QString, page);
    QFETCH(QString, caption);
    QFETCH(QString, title);
    Sim sim;
    QVERIFY(sim.started);
    sim.controller->setReg(0x0003 + relay - 1, uint16_t(opAtConnect));
    sim.controller->setReg(0x0400 + 0x100 * (relay - 1), uint16_t(opInBlock));
    App app;
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Click("btnCnt");
    w.StatusScreen()->timerProcess()->stop();
    int blockReads = 0;
    connect(&w.Session(), &tSession::exchanged, &w,
            [&](const tExchange &e) { blockReads += e.cmd != cmdGET_STATUS; });
    app.Click(QStringLiteral("btnMenuRelay%1").arg(relay));
    // The block, and the unit its bounds need: read with it unless the
    // recording's status read brought it first.
    QCOMPARE(blockReads, 1);
    QVERIFY(w.Ondrel().ControllerUnit >= 0);
    QCOMPARE(ShownPages(app), page.isEmpty() ? QStringList() : QStringList{page});
    if (!caption.isEmpty())
        QCOMPARE(app.Find<QLabel>(caption)->text(), title);
    // The "Timer" sub-page belongs to the conditional timer alone.
    if (page == "pnlCold")
        QCOMPARE(app.Find<QTabWidget>("tabCold")->isTabVisible(3), opInBlock == 8);
}

void tst_connection::commandDuringAnotherWaitsItsTurn() {
    Sim sim;
    QVERIFY(sim.started);
    App app;
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Find<QSpinBox>("spiTimeout")->setValue(1);
    app.Click("btnCnt");
    sim.controller->setFault(sim::Fault::Silence);
    QList<tCommand> sent;
    connect(&w.Session(), &tSession::exchanged, &w, [&](const tExchange &e) { sent << e.cmd; });
    // "Ajustes" pressed while the status read waits: its read goes on the
    // line once the status read has ended, and each says its own failure.
    QTimer::singleShot(200, &w, [&] { app.Press("btnMenuPAR"); });
    app.Press("btnMenuStatus");
    QTRY_VERIFY_WITH_TIMEOUT(sent.size() >= 2, 10000);
    app.Settle();
    QCOMPARE(sent.mid(0, 2), (QList<tCommand>{cmdGET_STATUS, cmdGET_PAR_SYSTEM}));
    QCOMPARE(app.dialogs->shown, (QStringList{"warning: TIMEOUT", "warning: TIMEOUT"}));
    QCOMPARE(ShownPages(app), QStringList{"pnlPAR"});
}

void tst_connection::silentControllerGivesLongDialog() {
    Sim sim;
    QVERIFY(sim.started);
    sim.controller->setFault(sim::Fault::Silence);
    App app;
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    app.Find<QSpinBox>("spiTimeout")->setValue(1);
    // The window keeps working while the identification waits: sample the
    // connection indicator twice during the wait.
    auto *indicator = app.Find<TActivityIndicator>("indConnect");
    QList<int> frames;
    bool indicatorShown = false;
    QTimer::singleShot(200, &w, [&] {
        indicatorShown = app.Find<QWidget>("LayoutIndConnect")->isVisible();
        frames << indicator->Frame();
    });
    QTimer::singleShot(600, &w, [&] { frames << indicator->Frame(); });
    app.Click("btnCnt");

    QVERIFY(indicatorShown);
    QCOMPARE(frames.size(), 2);
    QVERIFY(frames[0] != frames[1]);
    QCOMPARE(app.dialogs->shown,
             QStringList{"warning: Não foi possível fazer conexão com o Ondrel, por favor cheque "
                         "os seguintes itens:\r1 - Se o Ondrel está ligado\r2 - Se há porta de "
                         "comunicação COM\r3 - Se o cabo está conectado entre o computador ao "
                         "Ondrel\r4 - Se a porta de comunicação esteja sendo usado por outro "
                         "software"});
    QCOMPARE(app.Status(), "Erro [-6] de conexão ao Ondrel");
    ExpectState(app, false, 0, false);
}

void tst_connection::portInUseGivesOpenError() {
    Sim sim;
    QVERIFY(sim.started);
    tUART other;
    QVERIFY(other.Open(sim.Port()));
    App app;
    app.Start(sim.Port());
    app.Click("btnCnt");
    QCOMPARE(app.Status(), "Erro [-14] de conexão ao Ondrel");
    QCOMPARE(app.dialogs->shown.size(), 1);
    ExpectState(app, false, 0, false);
    // The reason comes first in the dialog and just before the error line.
    const QString why =
        QStringLiteral("A porta %1 está em uso por outro programa.").arg(sim.Port());
    QVERIFY(app.dialogs->shown.first().startsWith(QStringLiteral("warning: ") + why + "\r\r"));
    QCOMPARE(app.MemoLines().mid(app.MemoLines().size() - 2),
             (QStringList{why, "Erro [-14] de conexão ao Ondrel"}));

    // A port that has gone says so.
    other.Close();
    app.Find<QComboBox>("cbxPort")->addItem("/dev/tarvik-nenhuma");
    app.Find<QComboBox>("cbxPort")->setCurrentIndex(app.Find<QComboBox>("cbxPort")->count() - 1);
    app.Click("btnCnt");
    QVERIFY(app.MemoLines().contains("A porta /dev/tarvik-nenhuma não existe."));
}

// The adapter pulled out while automatic update runs: said once, the
// session closed as a disconnection closes it, and a controller that comes
// back on another port is found and connected without restarting.
void tst_connection::unpluggedAdapterEndsTheSessionOnce() {
    auto sim = std::make_unique<Sim>("qx2r");
    QVERIFY(sim->started);
    const QString first = sim->Port();
    App app;
    TfrmMain &w = app.Start(first);
    w.show();
    app.Click("btnCnt");
    ExpectState(app, true, 2, true);
    app.Click("btnMenuStatus");
    app.Find<QCheckBox>("cbxUpdate2")->click();
    app.dialogs->shown.clear();

    sim->controller->stop();
    QTRY_VERIFY_WITH_TIMEOUT(!app.w->Ondrel().Connected(), 15000);
    QCOMPARE(app.dialogs->shown,
             QStringList{QStringLiteral("warning: O adaptador da porta %1 foi desconectado.\r"
                                        "Reconecte o adaptador, escolha a porta e clique em "
                                        "Conectar.")
                             .arg(first)});
    QVERIFY(app.MemoLines().contains(
        QStringLiteral("Porta %1 perdida: o adaptador foi desconectado").arg(first)));
    // Disconnected as by the button: the refresh stopped, so no tick can
    // bring another dialog.
    ExpectState(app, false, 2, true);

    sim.reset(); // before the next one names its port in the environment
    // The old pty's number stays taken, so the controller comes back under
    // a name the list does not hold yet.
    const int held = posix_openpt(O_RDWR | O_NOCTTY);
    sim = std::make_unique<Sim>("qx2r");
    QVERIFY(sim->Port() != first);
    QVERIFY(sim->started);
    auto *ports = app.Find<QComboBox>("cbxPort");
    QTRY_VERIFY_WITH_TIMEOUT(ports->findText(sim->Port()) >= 0, 15000);
    ports->setCurrentIndex(ports->findText(sim->Port()));
    app.Click("btnCnt");
    ExpectState(app, true, 2, true);
    QCOMPARE(app.dialogs->shown.size(), 1);
    if (held >= 0)
        ::close(held);
}

void tst_connection::connectWithoutPortSelected() {
    App app;
    app.Start();
    app.Find<QComboBox>("cbxPort")->setCurrentIndex(-1);
    app.Click("btnCnt");
    QCOMPARE(app.MemoLines().last(), "Não há porta serial selecionada.");
    QCOMPARE(app.dialogs->shown,
             QStringList{"warning: Não há porta serial selecionada.\rCheque se há porta serial "
                         "disponível no seu PC, ou se o adaptador USB<>seri0l está conectado à "
                         "porta USB."});
    QVERIFY(!app.w->Ondrel().Connected());
}

// A gateway's address typed into the port's box is opened, and offered
// again, chosen, at the next start.
void tst_connection::typedNetworkAddressIsKept() {
    sim::Controller gateway;
    QVERIFY(gateway.listenTcp(sim::TcpFront::ModbusTcp, "127.0.0.1", 0) && gateway.start());
    const QString address = QStringLiteral("tcp://127.0.0.1:%1").arg(gateway.tcpPort());
    App app;
    TfrmMain &w = app.Start();
    auto *ports = app.Find<QComboBox>("cbxPort");
    QVERIFY(ports->isEditable());
    ports->setEditText(address);
    app.Find<QSpinBox>("edtID")->setValue(201);
    app.Click("btnCnt");
    QTRY_VERIFY_WITH_TIMEOUT(w.Ondrel().Connected(), 20000);
    QCOMPARE(w.Ondrel().PortName(), address);
    QVERIFY(w.Ondrel().Model.startsWith(u"qx"));
    app.Click("btnCnt");
    QTRY_VERIFY_WITH_TIMEOUT(!w.Ondrel().Connected(), 20000);
    app.Stop();
    QVERIFY(app.ReadFile(QStringLiteral("tarvik.ini")).contains(address.toUtf8()));

    app.Start();
    ports = app.Find<QComboBox>("cbxPort");
    QVERIFY(ports->findText(address) >= 0);
    QCOMPARE(ports->currentText(), address);
    app.Stop();
}

void tst_connection::listsEveryPortInTheMemo() {
    const QStringList names = {"/dev/tarvik-a", "/dev/tarvik-b", "/dev/tarvik-c"};
    qputenv("TARVIK_PORTS", names.join(':').toLocal8Bit());
    App app;
    app.Start();
    qunsetenv("TARVIK_PORTS");
    auto *ports = app.Find<QComboBox>("cbxPort");
    const int n = ports->count();
    QVERIFY(n >= 3);
    QStringList expected = {"Portas COMs encontradas:"};
    for (int i = 0; i < n; ++i)
        expected << "    " + ports->itemText(i);
    expected << QStringLiteral("Encontrado %1 portas COMs").arg(n);
    QCOMPARE(app.MemoLines(), expected);
    for (const QString &name : names)
        QVERIFY(expected.contains("    " + name));
    QCOMPARE(ports->currentIndex(), 0);
    QCOMPARE(app.Status(), expected.last());
}

void tst_connection::modbusErrorTexts_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("-2") << -2 << "ILLEGAL DATA ADDRESS";
    QTest::newRow("-6") << -6 << "TIMEOUT";
    QTest::newRow("-9") << -9 << "Unknow -9";
}

void tst_connection::modbusErrorTexts() {
    QFETCH(int, code);
    QFETCH(QString, text);
    App app;
    app.Start().ModbusError(code);
    QCOMPARE(app.Status(), "Modbus error " + text);
    QCOMPARE(app.MemoLines().last(), "Modbus error " + text);
    QCOMPARE(app.dialogs->shown, QStringList{"warning: " + text});
}

void tst_connection::closeWaitsForTransaction() {
    Sim sim;
    QVERIFY(sim.started);
    sim.controller->setFault(sim::Fault::Silence);
    App app;
    TfrmMain &w = app.Start(sim.Port());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    app.Find<QSpinBox>("spiTimeout")->setValue(2);
    bool closedDuringWait = true;
    QTimer::singleShot(200, &w, [&] { closedDuringWait = w.close(); });
    QTimer::singleShot(400, &w, [&] { app.Press("btnMenuSair"); });
    QTimer::singleShot(600, &w, [&] { closedDuringWait = closedDuringWait || !w.isVisible(); });
    app.Click("btnCnt");
    QVERIFY(!closedDuringWait);
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 10000);
    app.Stop();
    QVERIFY(app.ReadFile("tarvik.ini").contains("TIMEOUT=2\r\n"));
}

void tst_connection::memoClears_data() {
    QTest::addColumn<bool>("doubleClick");
    QTest::newRow("Limpar") << false;
    QTest::newRow("double click") << true;
}

void tst_connection::memoClears() {
    QFETCH(bool, doubleClick);
    App app;
    TfrmMain &w = app.Start();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.Report(clOK, "linha");
    auto *memo = app.Find<QPlainTextEdit>("memoLog");
    QVERIFY(!memo->toPlainText().isEmpty());
    if (doubleClick)
        QTest::mouseDClick(memo->viewport(), Qt::LeftButton);
    else
        app.Click("btnClear");
    QVERIFY(memo->toPlainText().isEmpty());
    QCOMPARE(app.Status(), "linha");
}

// "Procurar" lists the controllers on the line; a line chosen sets address
// and speed. The session's link figures then show live, reset with
// "Zerar", and are summed up in the memo when the session ends.
void tst_connection::scanSetsAddressAndHealthFollowsTheSession() {
    sim::Controller line({.model = "qx4r", .slaveId = 5});
    QVERIFY(line.addToBus({.model = "qx2n", .slaveId = 201}));
    QVERIFY(line.start());
    const QString port = QString::fromStdString(line.portName());
    qputenv("TARVIK_PORTS", port.toLocal8Bit());
    App app;
    TfrmMain &w = app.Start(port);
    w.show();
    app.Find<QSpinBox>("edtID")->setValue(17);
    app.Find<QSpinBox>("spiTimeout")->setValue(1);

    app.Click("btnScan");
    auto *found = app.Find<QListWidget>("lstFound");
    QVERIFY(found->isVisible());
    QCOMPARE(found->count(), 2);
    QCOMPARE(found->item(0)->text(), "ID 5 — qx4r firmware 1.2 — velocidade 7 (115200 bit/s)");
    QCOMPARE(found->item(1)->text(), "ID 201 — qx2n firmware 1.2 — velocidade 7 (115200 bit/s)");
    QVERIFY(app.MemoLines().contains("Procura terminada: 2 controlador(es) encontrado(s)"));
    QVERIFY(Enabled(app, "btnCnt") && Enabled(app, "btnScan"));
    QTest::mouseClick(found->viewport(), Qt::LeftButton, {},
                      found->visualItemRect(found->item(0)).center());
    QCOMPARE(app.Find<QSpinBox>("edtID")->value(), 5);

    app.Click("btnCnt");
    QCOMPARE(app.Find<QLabel>("lblModel")->text(), "Ondrel qx4ri - Firmware 1.2");
    QVERIFY(!Enabled(app, "btnScan"));
    // The identification, and the status refresh's reads since: all good.
    QTRY_VERIFY(app.Find<QLabel>("lblLink_boas")->text().toInt() >= 1);
    QCOMPARE(app.Find<QLabel>("lblLinkTotal")->text(), app.Find<QLabel>("lblLink_boas")->text());
    const QRegularExpression allGood(
        "^Saúde da comunicação: (\\d+) trocas, \\1 boas; ida e volta mín/mediana/p95/máx "
        "\\d+,\\d/\\d+,\\d/\\d+,\\d/\\d+,\\d ms$");
    const QString tip = app.Find<QLabel>("lblStatus")->toolTip();
    QVERIFY2(allGood.match(tip).hasMatch(), qPrintable(tip));
    app.Click("btnLinkReset");
    QCOMPARE(app.Find<QLabel>("lblLinkTotal")->text(), "0");
    line.setFault(sim::Fault::Silence, 0, 1);
    app.Click("btnMenuStatus"); // its read times out
    app.Click("btnMenuMain");
    app.Click("btnCnt");
    const QStringList memo = app.MemoLines();
    QVERIFY(memo.size() > 2);
    const QString summary = memo[memo.size() - 2];
    QVERIFY2(summary.startsWith("Saúde da comunicação: ") && summary.contains(", 1 timeout"),
             qPrintable(summary));
    QCOMPARE(memo.last(), "Desconectado do dispositivo");
}

// Whether `w` shows whole: as high as its text needs, inside its parent.
bool Whole(QWidget *w) {
    const QRect inParent = w->parentWidget()->rect();
    return w->height() >= w->sizeHint().height() &&
           inParent.contains(QRect(w->mapToParent(QPoint(0, 0)), w->size()));
}

QString SaidName(QWidget *w) {
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Name) : QString();
}

// Three controllers found: at the window's fixed size and in each style the
// list shows all three, the line's figures read whole and the memo keeps
// lines to read. While the scan runs, what would change it is disabled. A
// screen reader hears each figure with its caption and its value.
void tst_connection::scanAndFiguresReadInEveryStyle() {
    sim::Controller line({.model = "qx4r", .slaveId = 5});
    QVERIFY(line.addToBus({.model = "qx2n", .slaveId = 17}));
    QVERIFY(line.addToBus({.model = "qx1r", .slaveId = 201}));
    QVERIFY(line.start());
    const QString port = QString::fromStdString(line.portName());
    qputenv("TARVIK_PORTS", port.toLocal8Bit());
    App app;
    TfrmMain &w = app.Start(port);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    app.Find<QSpinBox>("spiTimeout")->setValue(1);

    // The controls as the scan's first progress finds them.
    QStringList enabledWhileScanning;
    auto *progress = app.Find<QProgressBar>("prgScan");
    auto probe = connect(progress, &QProgressBar::valueChanged, progress, [&] {
        if (!enabledWhileScanning.isEmpty())
            return;
        enabledWhileScanning << QStringLiteral("-");
        for (const char *name :
             {"btnScan", "edtID", "spiBaud", "cbxPort", "btnCnt", "btnScanCancel"})
            if (Enabled(app, QLatin1String(name)))
                enabledWhileScanning << QLatin1String(name);
    });
    app.Click("btnScan");
    disconnect(probe);
    QCOMPARE(enabledWhileScanning, (QStringList{"-", "btnScanCancel"}));
    QVERIFY(Enabled(app, "btnScan") && Enabled(app, "edtID") && Enabled(app, "spiBaud"));

    auto *found = app.Find<QListWidget>("lstFound");
    QCOMPARE(found->count(), 3);
    auto *memo = app.Find<QPlainTextEdit>("memoLog");
    auto *tabs = app.Find<QTabWidget>("tabLink");
    auto *styles = app.Find<QComboBox>("cbxStyle");
    const QList<QLabel *> figures = app.Find<QWidget>("grpLinkHealth")->findChildren<QLabel *>();
    for (int style = 0; style < styles->count(); ++style) {
        styles->setCurrentIndex(style);
        app.Click("btnMenuMain");
        tabs->setCurrentWidget(app.Find<QWidget>("grpBusScan"));
        QTest::qWait(20);
        const QString where = styles->itemText(style);
        for (int row = 0; row < 3; ++row)
            QVERIFY2(found->viewport()->rect().contains(found->visualItemRect(found->item(row))),
                     qPrintable(where));
        QVERIFY2(memo->viewport()->height() >= 3 * memo->fontMetrics().lineSpacing(),
                 qPrintable(where));
        tabs->setCurrentWidget(app.Find<QWidget>("grpLinkHealth"));
        QTest::qWait(20);
        for (QLabel *figure : figures)
            QVERIFY2(Whole(figure), qPrintable(where + u' ' + figure->text()));
        QVERIFY2(Whole(app.Find<QPushButton>("btnLinkReset")), qPrintable(where));
    }

    QTest::mouseClick(found->viewport(), Qt::LeftButton, {},
                      found->visualItemRect(found->item(2)).center());
    app.Click("btnCnt");
    QVERIFY(w.Ondrel().Connected());
    QCOMPARE(tabs->currentWidget(), app.Find<QWidget>("grpLinkHealth"));
    QTRY_VERIFY(app.Find<QLabel>("lblLink_boas")->text().toInt() >= 1);
    const QString good = app.Find<QLabel>("lblLink_boas")->text();
    QCOMPARE(SaidName(app.Find<QLabel>("lblLink_boas")), "Boas: " + good);
    QCOMPARE(SaidName(app.Find<QLabel>("lblLink_timeout")), "Timeout: 0");
    const QRegularExpression trip("^Ida e volta (mínimo|mediana|p95|máximo): \\d+,\\d ms$");
    QStringList said;
    for (const char *name : {"lblLinkRtMin", "lblLinkRtMedian", "lblLinkRtP95", "lblLinkRtMax"}) {
        const QString name_ = SaidName(app.Find<QLabel>(QLatin1String(name)));
        QVERIFY2(trip.match(name_).hasMatch(), qPrintable(name_));
        said << trip.match(name_).captured(1);
    }
    QCOMPARE(said, (QStringList{"mínimo", "mediana", "p95", "máximo"}));
}

QTEST_MAIN(tst_connection)
#include "tst_connection.moc"
