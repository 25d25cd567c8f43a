// The relay event log page against a simulated controller with a preloaded
// log: the slots a read walks, the rows it lists, how it ends, the clear and
// the export.
#include "file_size_limit.h"
#include "log_relays_page.h"
#include "screen_test_host.h"
#include "spreadsheet_rows.h"
#include "temperature.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

using Slots = QList<int>;

namespace {
constexpr int regLOG_LAST = 0xB001;
constexpr int regLOG_SELECT = 0xB003;
constexpr int regLOG_SLOT = 0xB004;

// A slot whose first sensor word is its own number in tenths, so the sensor
// column of relay 1's table tells which slots were listed, in which order.
sim::LogSlot Numbered(int n) {
    return {.event = 0x11,
            .sensor1 = uint16_t(n),
            .year = 2024,
            .month = 3,
            .day = 5,
            .hour = 14,
            .minute = 7,
            .second = 9};
}

// A ring of `count` slots, slots 0..written-1 holding events, the others
// every word `blank`, and `last` as the slot written last.
bool Preload(TestHost &host, int count, int written, int last, uint16_t blank = 0) {
    sim::Options options;
    options.logSlots = count;
    if (!host.Connect("qx4r", options))
        return false;
    for (int i = 0; i < written; ++i)
        host.sim->addLogSlot(Numbered(i));
    for (int i = written; i < count; ++i) {
        host.sim->setReg(regLOG_SELECT, uint16_t(i));
        for (int w = 0; w < 9; ++w)
            host.sim->setReg(regLOG_SLOT + w, blank);
    }
    host.sim->setReg(regLOG_LAST, uint16_t(last));
    return true;
}

QStringList Column(const QTableWidget *grid, int c) {
    QStringList texts;
    for (int r = 0; r < grid->rowCount(); ++r)
        texts << grid->item(r, c)->text();
    return texts;
}

QStringList SensorTexts(const Slots &slots) {
    QStringList texts;
    for (int n : slots)
        texts << logTempText(uint16_t(n));
    return texts;
}

int Rows(const TLogRelaysPage &page) {
    int rows = 0;
    for (const QTableWidget *grid : page.stgRL)
        rows += grid->rowCount();
    return rows;
}

// Runs `step` at every pass of the event loop (a read lets the window run
// between slots) until it returns true.
void During(QObject *context, std::function<bool()> step) {
    auto *timer = new QTimer(context);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, context, [timer, step] {
        if (step())
            timer->stop();
    });
    timer->start();
}

const QString clearQuestion =
    QStringLiteral("Esta função vai limpar o log dos eventos dos reles.\rDeseja continuar?\r");
} // namespace

class TestLogRelaysPage : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QStringLiteral("pt_BR"))); }

    void readsNewestFirst_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("blank");
        QTest::addColumn<Slots>("fetched");
        QTest::addColumn<bool>("lastIsEmpty");
        QTest::addColumn<int>("boxAfter");
        Slots from50;
        for (int s = 50; s >= 30; --s)
            from50 << s;
        QTest::newRow("limit n reads n + 1")
            << 100 << 100 << 5 << 3 << 0 << Slots{5, 4, 3, 2} << false << 3;
        QTest::newRow("wraps below slot 0")
            << 100 << 100 << 1 << 3 << 0 << Slots{1, 0, 99, 98} << false << 3;
        QTest::newRow("a slot is listed once")
            << 3 << 3 << 2 << 5 << 0 << Slots{2, 1, 0} << false << 5;
        QTest::newRow("limit 0 means 20") << 100 << 100 << 50 << 0 << 0 << from50 << false << 20;
        QTest::newRow("stops at a cleared slot")
            << 100 << 3 << 2 << 20 << 0 << Slots{2, 1, 0, 99} << true << 20;
        QTest::newRow("stops at an erased slot")
            << 100 << 3 << 2 << 20 << 0xFFFF << Slots{2, 1, 0, 99} << true << 20;
    }
    void readsNewestFirst() {
        QFETCH(int, count);
        QFETCH(int, written);
        QFETCH(int, last);
        QFETCH(int, limit);
        QFETCH(int, blank);
        QFETCH(Slots, fetched);
        QFETCH(bool, lastIsEmpty);
        TestHost host;
        QVERIFY(Preload(host, count, written, last, uint16_t(blank)));
        TLogRelaysPage page(host);
        page.edtLogMax->setValue(limit);
        const int requests = host.sim->requestCount();

        page.btnLogGet->click();

        Slots listed = fetched;
        if (lastIsEmpty)
            listed.removeLast();
        QCOMPARE(Column(page.stgRL[0], 2), SensorTexts(listed));
        QCOMPARE(page.stgRL[0]->property("tag").toInt(), listed.size());
        for (int r = 1; r < 4; ++r)
            QCOMPARE(page.stgRL[r]->rowCount(), 0);
        QStringList selections;
        for (int s : fetched)
            selections << QStringLiteral("lendo LOG %1").arg(s);
        QCOMPARE(host.logLines.filter(QStringLiteral("lendo LOG")), selections);
        QCOMPARE(host.sim->requestCount() - requests, 1 + 2 * fetched.size());
        QTEST(page.edtLogMax->value(), "boxAfter");

        QCOMPARE(host.reports.mid(0, 4),
                 (QStringList{"Lendo LOG de eventos",
                              QStringLiteral("    Quantidade de SLOTs %1 ").arg(count),
                              QStringLiteral("    Último SLOT garavado %1").arg(last),
                              "Finalizado a leitura do LOG"}));
        QCOMPARE(host.reports.size(), 5);
        QVERIFY2(
            host.reports[4].startsWith(QStringLiteral("Eventos lidos: %1 em ").arg(listed.size())),
            qPrintable(host.reports[4]));
        QCOMPARE(host.logLines.mid(0, 2),
                 (QStringList{"Iniciado a leitura do LOG", "Finalizado a leitura do LOG"}));
        QVERIFY(host.warnings.isEmpty());
        QVERIFY(host.timerRunning());
        QVERIFY(page.btnLogGet->isEnabled() && page.btnLogClear->isEnabled() &&
                page.edtLogMax->isEnabled() && page.btnLogExport->isEnabled());
        QCOMPARE(page.prgLog->value(), fetched.size());
    }

    void noLogReadsNothingMore_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("last");
        QTest::newRow("empty ring") << 100 << -1;
        QTest::newRow("no slots") << 0 << -1;
        QTest::newRow("no slots, a last slot") << 0 << 5;
    }
    void noLogReadsNothingMore() {
        QFETCH(int, count);
        QFETCH(int, last);
        TestHost host;
        QVERIFY(Preload(host, count, 0, last));
        TLogRelaysPage page(host);
        const int requests = host.sim->requestCount();

        page.btnLogGet->click();

        QCOMPARE(host.sim->requestCount() - requests, 1);
        QCOMPARE(host.reports,
                 (QStringList{"Lendo LOG de eventos", "    Não há informações de LOG"}));
        QCOMPARE(host.logLines,
                 (QStringList{"Iniciado a leitura do LOG",
                              QStringLiteral("    Quantidade de SLOTs %1 ").arg(count),
                              QStringLiteral("    Último SLOT garavado %1").arg(last)}));
        QCOMPARE(Rows(page), 0);
        QVERIFY(host.timerRunning());
        QVERIFY(page.btnLogGet->isEnabled());
    }

    void eventRows_data() {
        QTest::addColumn<int>("event");
        QTest::addColumn<int>("sensor1");
        QTest::addColumn<int>("sensor2");
        QTest::addColumn<Slots>("dateTime"); // year, month, day, hour, minute, second
        QTest::addColumn<int>("grid");
        QTest::addColumn<QStringList>("cells");
        const Slots when{2024, 3, 5, 14, 7, 9};
        QTest::newRow("0x52 heat exchanger, both sensors")
            << 0x52 << 0x00FA << 0x907D << when << 0
            << QStringList{"Trocador de Calor", "Ligado",     "25,0 ºC",
                           "-12,5 ºF",          "05/03/2024", "14:07:09"};
        QTest::newRow("0x1C relay 4 off, no auxiliary")
            << 0x1C << 0x0032 << 0x00FA << when << 3
            << QStringList{"Refrigeração", "Desligado",  "5,0 ºC",
                           "Não usado",    "05/03/2024", "14:07:09"};
        QTest::newRow("0x61 auxiliary, no sensor")
            << 0x61 << 0x0032 << 0x00FA << when << 0
            << QStringList{"Auxiliar",  "Ligado",     "Não usado",
                           "Não usado", "05/03/2024", "14:07:09"};
        QTest::newRow("code 12 has no name")
            << 0xC6 << 0x2000 << 0 << when << 1
            << QStringList{"Operação 12", "Ligado",     "Em curto",
                           "Não usado",   "05/03/2024", "14:07:09"};
        QTest::newRow("auxiliary initialising")
            << 0x58 << 0x4000 << 0x6000 << when << 2
            << QStringList{"Trocador de Calor", "Desligado",  "Aberto",
                           "Inicializando",     "05/03/2024", "14:07:09"};
        QTest::newRow("month 13") << 0x11 << 0x0032 << 0 << Slots{2024, 13, 5, 14, 7, 9} << 0
                                  << QStringList{"Refrigeração", "Ligado",   "5,0 ºC",
                                                 "Não usado",    "inválida", "14:07:09"};
        QTest::newRow("30 February")
            << 0x11 << 0x0032 << 0 << Slots{2024, 2, 30, 14, 7, 9} << 0
            << QStringList{"Refrigeração", "Ligado", "5,0 ºC", "Não usado", "inválida", "14:07:09"};
        QTest::newRow("hour 24") << 0x11 << 0x0032 << 0 << Slots{2024, 3, 5, 24, 0, 0} << 0
                                 << QStringList{"Refrigeração", "Ligado",     "5,0 ºC",
                                                "Não usado",    "05/03/2024", "inválida"};
    }
    void eventRows() {
        QFETCH(int, event);
        QFETCH(int, sensor1);
        QFETCH(int, sensor2);
        QFETCH(Slots, dateTime);
        QFETCH(int, grid);
        QFETCH(QStringList, cells);
        TestHost host;
        sim::Options options;
        options.logSlots = 1;
        QVERIFY(host.Connect("qx4r", options));
        auto w = [&](int i) { return uint16_t(dateTime[i]); };
        host.sim->addLogSlot({uint16_t(event), uint16_t(sensor1), uint16_t(sensor2), w(0), w(1),
                              w(2), w(3), w(4), w(5)});
        TLogRelaysPage page(host);
        page.btnLogGet->click();
        for (int g = 0; g < 4; ++g) {
            QCOMPARE(page.stgRL[g]->rowCount(), g == grid ? 1 : 0);
            QCOMPARE(page.stgRL[g]->property("tag").toInt(), g == grid ? 1 : 0);
        }
        QStringList shown;
        for (int c = 0; c < 6; ++c)
            shown << page.stgRL[grid]->item(0, c)->text();
        QCOMPARE(shown, cells);
    }

    void cancelOrDisconnectionKeepsTheRows_data() {
        QTest::addColumn<bool>("disconnect");
        QTest::newRow("Cancelar") << false;
        QTest::newRow("connection closed") << true;
    }
    void cancelOrDisconnectionKeepsTheRows() {
        QFETCH(bool, disconnect);
        TestHost host;
        // The line on its own thread: the page runs between slots.
        host.session.UseLineThread();
        QVERIFY(Preload(host, 100, 100, 99));
        TLogRelaysPage page(host);
        page.edtLogMax->setValue(50);
        const int requests = host.sim->requestCount();
        bool timerStopped = false, readDisabled = false;
        During(&page, [&] {
            if (page.stgRL[0]->rowCount() < 3)
                return false;
            timerStopped = !host.timerRunning();
            readDisabled = !page.btnLogGet->isEnabled();
            if (disconnect)
                host.btnCntClick();
            else
                page.btnLogCancel->click();
            return true;
        });

        page.btnLogGet->click();
        QTRY_VERIFY_WITH_TIMEOUT(!page.Reading() && host.session.Idle(), 20000);

        const int rows = page.stgRL[0]->rowCount();
        QVERIFY2(rows == 3 || rows == 4, qPrintable(QString::number(rows)));
        QCOMPARE(Column(page.stgRL[0], 2), SensorTexts(Slots{99, 98, 97, 96}.mid(0, rows)));
        QCOMPARE(host.sim->requestCount() - requests, 1 + 2 * rows);
        QVERIFY(timerStopped && readDisabled);
        // The refresh runs again only while the connection is open.
        QCOMPARE(host.timerRunning(), !disconnect);
        QVERIFY(host.warnings.isEmpty());
        QVERIFY(page.btnLogGet->isEnabled() && page.btnLogCancel->isEnabled());
        QVERIFY(!page.Reading());
    }

    void failedExchangeEndsTheRead_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("afterRows"); // -1: before the read
        QTest::addColumn<bool>("dialog");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("information read") << int(sim::Fault::Exception) << -1 << true << QString();
        // A wrong echo spoils a write only (the selection), a wrong byte
        // count a read only (the slot).
        QTest::newRow("slot selection")
            << int(sim::Fault::WrongEcho) << 2 << true << "erro no envio do slot para ler [";
        QTest::newRow("slot read, silent") << int(sim::Fault::WrongByteCount) << 2 << false
                                           << "erro no envio do comando para ler o slot [";
    }
    void failedExchangeEndsTheRead() {
        QFETCH(int, fault);
        QFETCH(int, afterRows);
        QFETCH(bool, dialog);
        QFETCH(QString, logLine);
        TestHost host;
        // The line on its own thread: the page runs between slots.
        host.session.UseLineThread();
        QVERIFY(Preload(host, 100, 100, 99));
        TLogRelaysPage page(host);
        page.edtLogMax->setValue(20);
        if (afterRows < 0)
            host.sim->setFault(sim::Fault(fault), 0, 1);
        else
            During(&page, [&] {
                if (page.stgRL[0]->rowCount() < afterRows)
                    return false;
                host.sim->setFault(sim::Fault(fault), 0, 1);
                return true;
            });

        page.btnLogGet->click();
        QTRY_VERIFY_WITH_TIMEOUT(!page.Reading() && host.session.Idle(), 20000);

        QCOMPARE(page.stgRL[0]->rowCount(), std::max(afterRows, 0));
        QCOMPARE(host.warnings.size(), dialog ? 1 : 0);
        QCOMPARE(host.errors.size(), dialog ? 1 : 0);
        const QStringList failures = host.logLines.filter(QStringLiteral("erro no envio"));
        if (logLine.isEmpty()) {
            QVERIFY(failures.isEmpty());
        } else {
            QCOMPARE(failures.size(), 1);
            QVERIFY2(failures[0].startsWith(logLine), qPrintable(failures[0]));
            QCOMPARE(failures[0], logLine + QString::number(host.dev.ErrorCom) + u']');
            QVERIFY(host.reports.last().startsWith(
                QStringLiteral("Eventos lidos: %1 em ").arg(afterRows)));
        }
        QVERIFY(host.timerRunning());
        QVERIFY(page.btnLogGet->isEnabled() && page.btnLogClear->isEnabled());
    }

    // Whatever ended a read, the bar shows it over and the line says why:
    // a bar left at "4 de 21" looked like an interrupted read.
    void theEndSaysWhy_data() {
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("trouble"); // "", "cancel", "fault"
        QTest::addColumn<QString>("why");
        QTest::newRow("first empty slot") << 3 << 20 << ""
                                          << "fim do LOG";
        QTest::newRow("every slot of a small ring") << 10 << 20 << ""
                                                    << "fim do LOG";
        QTest::newRow("limit") << 100 << 3 << ""
                               << "limite";
        QTest::newRow("Cancelar") << 100 << 50 << "cancel"
                                  << "cancelado";
        QTest::newRow("failed exchange") << 100 << 50 << "fault"
                                         << "falha";
    }
    void theEndSaysWhy() {
        QFETCH(int, written);
        QFETCH(int, limit);
        QFETCH(QString, trouble);
        QFETCH(QString, why);
        TestHost host;
        // The line on its own thread: the page runs between slots.
        host.session.UseLineThread();
        QVERIFY(Preload(host, written == 10 ? 10 : 100, written, written - 1));
        TLogRelaysPage page(host);
        page.edtLogMax->setValue(limit);
        if (!trouble.isEmpty())
            During(&page, [&] {
                if (page.stgRL[0]->rowCount() < 2)
                    return false;
                if (trouble == "cancel")
                    page.btnLogCancel->click();
                else
                    host.sim->setFault(sim::Fault::WrongEcho, 0, 1);
                return true;
            });

        page.btnLogGet->click();
        QTRY_VERIFY_WITH_TIMEOUT(!page.Reading() && host.session.Idle(), 20000);

        QVERIFY(page.prgLog->maximum() > 0);
        QCOMPARE(page.prgLog->value(), page.prgLog->maximum());
        const QString line = page.lblLogProgress->text();
        QVERIFY2(line.startsWith(QStringLiteral("Eventos lidos: %1 em ").arg(Rows(page))) &&
                     line.endsWith(QStringLiteral(" (%1)").arg(why)),
                 qPrintable(line));
        QCOMPARE(host.reports.last(), line);
    }

    void clearAsksFirst_data() {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<int>("sent");
        QTest::addColumn<QStringList>("reports");
        const QString sending = QStringLiteral("Envio de comando para limpar o log dos reles");
        QTest::newRow("No sends nothing") << false << false << 0 << QStringList{};
        QTest::newRow("Yes clears")
            << true << false << 1 << QStringList{sending, "Comando executado com sucesso"};
        QTest::newRow("refused") << true << true << 1 << QStringList{sending, "Modbus error -4"};
    }
    void clearAsksFirst() {
        QFETCH(bool, answer);
        QFETCH(bool, refused);
        QFETCH(int, sent);
        TestHost host;
        QVERIFY(Preload(host, 10, 10, 9));
        TLogRelaysPage page(host);
        page.edtLogMax->setValue(2);
        page.btnLogGet->click();
        host.Clear();
        host.answer = answer;
        if (refused)
            host.sim->setFault(sim::Fault::Exception, 0, 1);
        const int requests = host.sim->requestCount();

        page.btnLogClear->click();

        QCOMPARE(host.questions, QStringList{clearQuestion});
        QCOMPARE(host.sim->requestCount() - requests, sent);
        QTEST(host.reports, "reports");
        const bool cleared = answer && !refused;
        QCOMPARE(host.sim->reg(regLOG_LAST), cleared ? 0xFFFF : 9);
        QCOMPARE(Rows(page), 3); // the tables keep their rows
    }

    void exportName_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("name");
        QTest::newRow("model") << "qx4r"
                               << "qx4r-LOG-20240305-1407.csv";
        QTest::newRow("no folders from the controller") << "../x"
                                                        << "___x-LOG-20240305-1407.csv";
        QTest::newRow("no model") << ""
                                  << "Ondrel-LOG-20240305-1407.csv";
    }
    void exportName() {
        QFETCH(QString, model);
        TestHost host;
        host.dev.Model = model;
        TLogRelaysPage page(host);
        QTEST(page.ExportName(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 59))), "name");
    }

    void exportWritesTheTables_data() {
        QTest::addColumn<bool>("diskFull");
        QTest::newRow("written") << false;
        QTest::newRow("disk full keeps the earlier file") << true;
    }
    void exportWritesTheTables() {
        QFETCH(bool, diskFull);
        TestHost host;
        sim::Options options;
        options.logSlots = 3;
        QVERIFY(host.Connect("qx4r", options));
        auto event = [](int event, int minute) {
            return sim::LogSlot{.event = uint16_t(event),
                                .sensor1 = 0x8032,
                                .sensor2 = 0x00FA,
                                .year = 2024,
                                .month = 3,
                                .day = 5,
                                .hour = 14,
                                .minute = uint16_t(minute),
                                .second = 9};
        };
        host.sim->addLogSlot(event(0x11, 7));
        host.sim->addLogSlot(event(0x59, 17)); // relay 3, heat exchanger
        host.sim->addLogSlot(event(0x10, 27));
        TLogRelaysPage page(host);
        page.btnLogGet->click();
        host.dev.CloseConnection(); // the rows outlive the session
        host.Clear();

        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("log.csv"));
        const QByteArray earlier = "earlier export\r\n";
        {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(earlier) == earlier.size());
        }
        host.saveAnswer = name;
        if (diskFull) {
            FileSizeLimit limit(40);
            QVERIFY(limit.ok);
            page.btnLogExport->click();
        } else {
            page.btnLogExport->click();
        }

        QCOMPARE(host.saveProposals.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^Planilha CSV \\(\\*\\.csv\\) "
                                                   "qx4r-LOG-\\d{8}-\\d{4}\\.csv$"))
                     .match(host.saveProposals[0])
                     .hasMatch(),
                 qPrintable(host.saveProposals[0]));
        QFile f(name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (diskFull) {
            QCOMPARE(bytes, earlier);
            QCOMPARE(host.warnings.size(), 1);
            QVERIFY(
                host.warnings[0].startsWith(QStringLiteral("Não foi possível salvar o arquivo ") +
                                            name + QStringLiteral(".\r")));
            QCOMPARE(
                host.reports,
                QStringList{QStringLiteral("Não foi possível salvar o LOG dos relés em ") + name});
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"log.csv"});
            return;
        }
        const QByteArray expected =
            QByteArray("\xEF\xBB\xBF") +
            QStringLiteral(
                "Relé;Operação;Status;Sensor;Sensor Auxiliar;Data;Hora;Data e hora;Sensor valor;"
                "Sensor unidade ou estado;Sensor Auxiliar valor;Sensor Auxiliar unidade ou "
                "estado\r\n"
                "1;Refrigeração;Desligado;\"-5,0 ºC\";Não usado;05/03/2024;14:27:09;"
                "2024-03-05 14:27:09;\"-5,0\";ºC;;Não usado\r\n"
                "1;Refrigeração;Ligado;\"-5,0 ºC\";Não usado;05/03/2024;14:07:09;"
                "2024-03-05 14:07:09;\"-5,0\";ºC;;Não usado\r\n"
                "3;Trocador de Calor;Ligado;\"-5,0 ºC\";\"25,0 ºC\";05/03/2024;14:17:09;"
                "2024-03-05 14:17:09;\"-5,0\";ºC;\"25,0\";ºC\r\n")
                .toUtf8();
        QCOMPARE(bytes, expected);
        // A spreadsheet splitting on every separator sees the header's cells on each row.
        for (const QStringList &row : SpreadsheetRows(QString::fromUtf8(bytes)))
            QCOMPARE(row.size(), 12);
        QVERIFY(host.warnings.isEmpty());
        QCOMPARE(host.reports, QStringList{QStringLiteral("LOG dos relés salvo em ") + name});
    }
};

QTEST_MAIN(TestLogRelaysPage)
#include "tst_log_relays_page.moc"
