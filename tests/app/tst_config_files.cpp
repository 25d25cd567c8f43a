// The configuration file group of the connection page: loading a file into
// the pages, saving what the controller holds, and writing a loaded file to
// the controller with every block read back.
#include "app_fixture.h"
#include "file_size_limit.h"
#include <QRegularExpression>

#include <QDoubleSpinBox>
#include <QPushButton>

class tst_config_files : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void loadBelongsToItsModel_data();
    void loadBelongsToItsModel();
    void pageOpenedAfterALoadShowsIt_data();
    void pageOpenedAfterALoadShowsIt();
    void saveProposesAName();
    void saveReadsWhatWasNeverRead();
    void failedSaveKeepsTheEarlierFile();
    void applyWritesAndVerifies_data();
    void applyWritesAndVerifies();
    void applyWritesTheFileAsLoaded_data();
    void applyWritesTheFileAsLoaded();
};

namespace {
const QString invalidFile = QStringLiteral(
    "warning: Arquivo de configuração inválido.\rCheque se o arquivo pertence a esse modelo "
    "de Ondrel.");

// A configuration of `model`: offset 1.5 on sensor 1, relay 1 cooling at
// SP 5.5, relay 2 defrost.
void WriteConfig(const QString &path, const QString &model) {
    tOndrel d;
    d.Model = model;
    d.System[0] = 15;
    d.System[11] = 10;
    d.Relay[0].par = {1, 55, 20, 80, -500, 1100, 20};
    d.Relay[0].par[12] = 0;
    d.Relay[1].par = {3, 80, 20, 100};
    d.Relay[1].par[10] = 480;
    QVERIFY(d.SaveConfig(path));
}

QByteArray Bytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Session {
    explicit Session(const std::string &model) : sim(model) {
        app.Start(sim.Port());
        // The recording's status reads may fall between: not counted.
        QObject::connect(&app.w->Session(), &tSession::exchanged, app.w.get(),
                         [this](const tExchange &e) { requests += e.cmd != cmdGET_STATUS; });
        app.Click("btnCnt");
        app.dialogs->shown.clear();
    }
    int Requests() const { return requests; }
    int requests = 0;
    void Load(const QString &path) {
        app.dialogs->files.push_back(path);
        app.Click("btnLoadConfig");
    }
    Sim sim;
    App app;
};
} // namespace

void tst_config_files::loadBelongsToItsModel_data() {
    QTest::addColumn<QString>("fileModel");
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("accepted");
    // Neither a clockless model nor a clock never read shows "Data inválida"
    // for a clock the file does not carry: the open dialog is the only one.
    QTest::newRow("same model, no clock") << QString("qx2n") << QString("qx2n") << true;
    QTest::newRow("same model, clock never read") << QString("qx4r") << QString("qx4r") << true;
    QTest::newRow("other model") << "qx2n"
                                 << "qx2r" << false;
}

// A file loads only into its own model; loading sends nothing, and the
// pages keep the file's values until the user reads again.
void tst_config_files::loadBelongsToItsModel() {
    QFETCH(QString, fileModel);
    QFETCH(QString, model);
    QFETCH(bool, accepted);
    Session s(model.toStdString());
    const QString path = s.app.Path("a.cfg");
    WriteConfig(path, fileModel);
    const int before = s.Requests();
    s.Load(path);
    QCOMPARE(s.Requests(), before);
    QCOMPARE(s.app.dialogs->shown.size(), accepted ? 1 : 2);
    QCOMPARE(s.app.dialogs->shown.last() == invalidFile, !accepted);
    QCOMPARE(s.app.Find<QPushButton>("btnApplyConfig")->isEnabled(), accepted);
    if (!accepted)
        return;

    auto *offset = s.app.Find<QDoubleSpinBox>("edtOffSet1");
    QCOMPARE(offset->value(), 1.5);
    s.app.Click("btnMenuPAR");
    QCOMPARE(s.Requests(), before);
    QCOMPARE(offset->value(), 1.5);
    s.app.Click("btnReadPar");
    QCOMPARE(s.Requests(), before + 1);
    QCOMPARE(offset->value(), 0.0);
}

void tst_config_files::pageOpenedAfterALoadShowsIt_data() {
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("box");
    QTest::addColumn<double>("value");
    QTest::newRow("system") << "btnMenuPAR"
                            << "pnlPAR"
                            << "edtOffSet1" << 1.5;
    QTest::newRow("relay 1") << "btnMenuRelay1"
                             << "pnlCold"
                             << "edtColdSP" << 5.5;
}

// A page is built when first opened. One opened only after a file was
// loaded (its visit reads nothing then) shows the file, not its blank
// fields, which its "Gravar" would send.
void tst_config_files::pageOpenedAfterALoadShowsIt() {
    QFETCH(QString, menu);
    QFETCH(QString, page);
    QFETCH(QString, box);
    QFETCH(double, value);
    Session s("qx2r");
    const QString path = s.app.Path("a.cfg");
    WriteConfig(path, "qx2r");
    TfrmMain &w = *s.app.w;
    QVERIFY(!w.findChild<QWidget *>(page));
    s.Load(path);
    const int before = s.Requests();
    s.app.Click(menu);
    QCOMPARE(s.Requests(), before);
    auto *shown = w.findChild<QWidget *>(page);
    QVERIFY(shown);
    QCOMPARE(w.CurrentPage(), shown);
    QCOMPARE(shown->findChild<QDoubleSpinBox *>(box)->value(), value);
}

void tst_config_files::saveProposesAName() {
    Session s("qx4r");
    s.app.Click("btnSaveConfig");
    QCOMPARE(s.app.dialogs->shown.last(),
             QStringLiteral("save: Tarvik (*.cfg) qx4r-CLIENTE_DATA_HORA.cfg"));

    // After a load, its file is proposed, and overwriting it is asked first.
    const QString path = s.app.Path("cliente.cfg");
    WriteConfig(path, "qx4r");
    const QByteArray saved = Bytes(path);
    s.Load(path);
    s.app.dialogs->files.push_back(path);
    s.app.dialogs->answers.push_back(false);
    const int before = s.Requests();
    s.app.Click("btnSaveConfig");
    QCOMPARE(s.app.dialogs->shown.mid(s.app.dialogs->shown.size() - 2),
             (QStringList{QStringLiteral("save: Tarvik (*.cfg) ") + path,
                          "question: Há um arquivo com esse nome. Deseja reescrever?"}));
    QCOMPARE(s.Requests(), before);
    QCOMPARE(Bytes(path), saved);
}

// Saving right after connecting reads the blocks not read yet, so the file
// never holds zeros for them; a failed read saves nothing.
void tst_config_files::saveReadsWhatWasNeverRead() {
    Session s("qx2r");
    s.sim.controller->setReg(0x0020 + 11, 25);
    s.sim.controller->setReg(0x0500 + 1, uint16_t(-35));
    const QString path = s.app.Path("novo.cfg");
    s.app.dialogs->files.push_back(path);
    const int before = s.Requests();
    s.app.Click("btnSaveConfig");
    // System parameters and the two relay blocks; the operations came with
    // the identification.
    QCOMPARE(s.Requests(), before + 3);
    tOndrel check;
    check.Model = "qx2r";
    QVERIFY(check.LoadConfig(path));
    QCOMPARE(check.System[11], 25);
    QCOMPARE(check.Relay[1].par[1], -35);

    s.app.Click("btnCnt");
    s.app.Click("btnCnt");
    s.sim.controller->setFault(sim::Fault::Exception, 4, 1);
    const QString other = s.app.Path("falhou.cfg");
    s.app.dialogs->files.push_back(other);
    s.app.dialogs->shown.clear();
    s.app.Click("btnSaveConfig");
    QVERIFY(!QFile::exists(other));
    QCOMPARE(s.app.dialogs->shown.last(), "warning: SLAVE DEVICE FAILURE");
    QCOMPARE(s.app.MemoLines().last(),
             "Configuração não salva: falha ao ler parâmetros de sistema");
}

// A save that cannot be written (here the disk is "full") says so and leaves
// the earlier file as it was.
void tst_config_files::failedSaveKeepsTheEarlierFile() {
    Session s("qx4r");
    const QString path = s.app.Path("cheio.cfg");
    WriteConfig(path, "qx4r");
    const QByteArray earlier = Bytes(path);
    s.app.dialogs->files.push_back(path);
    s.app.dialogs->shown.clear();

    {
        FileSizeLimit full(100);
        QVERIFY(full.ok);
        s.app.Click("btnSaveConfig");
    }

    // The system's reason follows, on a line of its own in the dialog.
    QVERIFY(s.app.dialogs->shown.last().startsWith(
        "warning: Não foi possível salvar o arquivo de configuração.\r"));
    QVERIFY(!s.app.MemoLines()
                 .filter(QRegularExpression("^Não foi possível salvar o arquivo de configuração. "))
                 .isEmpty());
    QCOMPARE(Bytes(path), earlier);
}

void tst_config_files::applyWritesAndVerifies_data() {
    QTest::addColumn<QString>("trouble"); // "", "held", "failure"
    QTest::addColumn<QStringList>("memo");
    QTest::newRow("all verified") << ""
                                  << QStringList{"    Gravado e conferido: parâmetros de sistema",
                                                 "    Gravado e conferido: operações dos relés",
                                                 "    Gravado e conferido: parâmetros do relé 1",
                                                 "    Gravado e conferido: parâmetros do relé 2",
                                                 "Configuração gravada e conferida"};
    QTest::newRow("controller keeps another SP")
        << "held"
        << QStringList{"    Gravado e conferido: parâmetros de sistema",
                       "    Gravado e conferido: operações dos relés",
                       "    Gravado, mas difere: Relé 1: SP arquivo 5,5 ≠ controlador 6,0",
                       "    Gravado e conferido: parâmetros do relé 2",
                       "Configuração gravada; 1 campo(s) diferem do arquivo"};
    QTest::newRow("relay 1 refused")
        << "failure"
        << QStringList{"Modbus error SLAVE DEVICE FAILURE",
                       "Falha ao gravar parâmetros do relé 1; gravados antes da falha: "
                       "parâmetros de sistema, operações dos relés"};
}

// "Gravar no Ondrel" writes the loaded file block by block, reads every
// block back and names what the controller did not keep; a failure stops
// it and names the blocks written before.
void tst_config_files::applyWritesAndVerifies() {
    QFETCH(QString, trouble);
    QFETCH(QStringList, memo);
    Session s("qx2r");
    const QString path = s.app.Path("aplicar.cfg");
    WriteConfig(path, "qx2r");
    s.Load(path);
    const int before = s.Requests();
    // Trouble comes while the sequence runs: the window's events go on
    // during each exchange.
    QTimer meddle;
    meddle.setInterval(0);
    QObject::connect(&meddle, &QTimer::timeout, &meddle, [&] {
        const int sent = s.Requests() - before;
        if (trouble == "held" && sent >= 4) {
            s.sim.controller->setReg(0x0401, 60); // relay 1 written, relay 2 under way
            meddle.stop();
        } else if (trouble == "failure" && sent >= 2) {
            s.sim.controller->setFault(sim::Fault::Exception, 4, 1); // the next one: relay 1
            meddle.stop();
        }
    });
    meddle.start();
    s.app.Click("btnApplyConfig");
    const QStringList lines = s.app.MemoLines();
    QCOMPARE(lines.mid(lines.size() - memo.size()), memo);
    if (trouble == "failure") {
        QCOMPARE(s.Requests(), before + 3);
        QCOMPARE(s.app.dialogs->shown.last(), "warning: SLAVE DEVICE FAILURE");
        return;
    }
    // Four writes, four reads back; the clock is never touched.
    QCOMPARE(s.Requests(), before + 8);
    QCOMPARE(s.sim.controller->reg(0x0020), uint16_t(15));
    QCOMPARE(s.sim.controller->reg(0x050A), uint16_t(480));
}

void tst_config_files::applyWritesTheFileAsLoaded_data() {
    QTest::addColumn<QString>("since"); // what the technician did after loading
    QTest::newRow("Ajustes read") << "read";
    QTest::newRow("relay 1 written") << "write";
}

// Whatever was read or written since the load, "Gravar no Ondrel" sends the
// file's values and checks the controller against them.
void tst_config_files::applyWritesTheFileAsLoaded() {
    QFETCH(QString, since);
    Session s("qx2r");
    const QString path = s.app.Path("aplicar.cfg");
    WriteConfig(path, "qx2r");
    s.Load(path);
    if (since == "read") {
        s.sim.controller->setReg(0x0020, 30);
        s.app.Click("btnMenuPAR");
        s.app.Click("btnReadPar");
        QCOMPARE(s.app.Status(), QStringLiteral("Leitura dos parâmetros feita com sucesso"));
    } else {
        s.app.Click("btnMenuRelay1");
        auto *page = s.app.Find<QWidget>("pnlCold");
        page->findChild<QDoubleSpinBox *>("edtColdSP")->setValue(7.0);
        for (QPushButton *b : page->findChildren<QPushButton *>())
            if (b->text() == "Gravar")
                b->click();
        s.app.Settle();
        QCOMPARE(int(s.sim.controller->reg(0x0401)), 70);
    }
    s.app.Click("btnApplyConfig");
    QCOMPARE(s.app.MemoLines().last(), QStringLiteral("Configuração gravada e conferida"));
    QCOMPARE(int(s.sim.controller->reg(0x0020)), 15);
    QCOMPARE(int(s.sim.controller->reg(0x0401)), 55);
    QCOMPARE(int(s.sim.controller->reg(0x050A)), 480);
}

QTEST_MAIN(tst_config_files)
#include "tst_config_files.moc"
