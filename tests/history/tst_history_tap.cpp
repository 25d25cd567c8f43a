// What the audit trail says of a write: the command in words and each field
// by its code, the old value as last seen and the new one as the pages show
// them; and the tap pairing a write with its outcome.
#include "history_tap.h"

#include "relay_operations.h"
#include "relay_params.h"
#include "system_params.h"

#include <QTest>

namespace {

// A write as the driver announces it; `before` -1: never seen.
tWrite Write(tCommand cmd, std::vector<int32_t> before, std::vector<uint16_t> after) {
    return {.cmd = cmd, .start = CommandShape(cmd).start, .before = before, .after = after};
}

// A relay block's words from its entries (par[16..19] in two words each).
std::vector<uint16_t> RelayWords(const std::array<int32_t, 20> &par) {
    std::vector<uint16_t> w;
    for (int i = 0; i < 16; ++i)
        w.push_back(uint16_t(par[size_t(i)]));
    for (int i = 16; i < 20; ++i) {
        w.push_back(uint16_t(uint32_t(par[size_t(i)]) & 0xFFFF));
        w.push_back(uint16_t(uint32_t(par[size_t(i)]) >> 16));
    }
    return w;
}

std::vector<int32_t> Seen(const std::vector<uint16_t> &words) {
    return {words.begin(), words.end()};
}

QString Fields(const tHistAudit &a) {
    QStringList out;
    for (const tHistAuditField &f : a.fields)
        out << QStringLiteral("%1 %2→%3").arg(f.code, f.oldValue, f.newValue);
    return out.join(QStringLiteral("; "));
}

} // namespace

class tst_history_tap : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }
    void describesWrites_data();
    void describesWrites();
    void failedWriteRecordedWithItsResult();
};

void tst_history_tap::describesWrites_data() {
    QTest::addColumn<tWrite>("write");
    QTest::addColumn<QString>("command"); // empty: no audit at all
    QTest::addColumn<QString>("fields");

    std::array<int32_t, 20> cold{};
    cold[idxOP] = opCOLD;
    cold[idxTEMP_SP] = 50;
    cold[idxTEMP_DT] = 10;
    std::array<int32_t, 20> colder = cold;
    colder[idxTEMP_SP] = -25;
    const std::vector<uint16_t> coldWords = RelayWords(cold);
    const std::vector<uint16_t> colderWords = RelayWords(colder);

    std::vector<uint16_t> system(nSYSTEM_REGS, 0);
    std::vector<uint16_t> fahrenheit = system;
    fahrenheit[idxTEMP_OFFSET_SENSOR1] = 18;
    fahrenheit[idxTST] = 1;

    QTest::newRow("one relay switched on")
        << Write(cmdSET_RELAYS, {0b0001}, {0b0011}) << "Relé 2 ligado"
        << "R2 desligado→ligado";
    QTest::newRow("two relays switched off")
        << Write(cmdSET_RELAYS, {0b0011}, {0b0000}) << "Relés 1 desligado, 2 desligado"
        << "R1 ligado→desligado; R2 ligado→desligado";
    QTest::newRow("relays never seen")
        << Write(cmdSET_RELAYS, {-1}, {0b0001}) << "Relés 1 ligado, 2 desligado"
        << "R1 desconhecido→ligado; R2 desconhecido→desligado";
    QTest::newRow("set-point lowered")
        << Write(cmdSET_PAR_RELAY2, Seen(coldWords), colderWords) << "Parâmetros do relé 2"
        << "R2.SP 5,0ºC→-2,5ºC";
    QTest::newRow("unit and offset, each in its own unit")
        << Write(cmdSET_PAR_SYSTEM, Seen(system), fahrenheit) << "Parâmetros de sistema"
        << "OFS1 0,0ºC→1,8ºF; TT Celsius→Fahrenheit";
    QTest::newRow("clock date") << Write(cmdSET_RTC_DATE, {2026, 1, 2, 5}, {2026, 12, 10, 4})
                                << "Relógio: data"
                                << "Data 02/01/2026→10/12/2026";
    QTest::newRow("clock time never read")
        << Write(cmdSET_RTC_TIME, {-1, -1, -1}, {8, 5, 0}) << "Relógio: hora"
        << "Hora desconhecido→08:05:00";
    QTest::newRow("same values sent again")
        << Write(cmdSET_PAR_RELAY1, Seen(coldWords), coldWords) << "Parâmetros do relé 1"
        << "";
    QTest::newRow("factory defaults") << Write(cmdSET_STANDARD, {-1}, {0}) << "Padrão de fábrica"
                                      << "";
    QTest::newRow("statistics restart")
        << Write(cmdRST_STAT_TEMP, {-1}, {0}) << "Reiniciar estatísticas"
        << "";
    QTest::newRow("selecting a log slot is no user's write")
        << Write(cmdSET_LOG_READ, {-1}, {3}) << ""
        << "";
}

void tst_history_tap::describesWrites() {
    QFETCH(tWrite, write);
    QFETCH(QString, command);
    QFETCH(QString, fields);
    tOndrel dev;
    dev.nRelay = 2;
    dev.ControllerUnit = tempCELSIUS;
    const std::optional<tHistAudit> a = AuditOf(write, dev);
    QCOMPARE(a.has_value(), !command.isEmpty());
    if (!a)
        return;
    QCOMPARE(a->command, command);
    QCOMPARE(Fields(*a), fields);
}

// Every write a user can cause is described; a write sent on a line that
// fails is recorded with the failure.
void tst_history_tap::failedWriteRecordedWithItsResult() {
    for (int c = 0; c < tCommandCount; ++c) {
        const tCommand cmd = tCommand(c);
        if (CommandShape(cmd).kind == readREGS || cmd == cmdSET_LOG_READ)
            continue;
        const size_t count = size_t(CommandShape(cmd).count);
        const tWrite w = Write(cmd, std::vector<int32_t>(count, -1), std::vector<uint16_t>(count));
        QVERIFY2(AuditOf(w, tOndrel()).has_value(), qPrintable(QString::number(c)));
    }

    tOndrel dev; // no session: every command fails
    std::vector<tHistAudit> audits;
    tHistoryTap tap(
        dev, {.audit = [&](const tHistController &, const tHistAudit &a) { audits.push_back(a); },
              .slot = {}});
    tap.SetUser(QStringLiteral("tecnico"));
    QVERIFY(dev.SendCommand(cmdGET_STATUS) < 0);
    const int32_t result = dev.SendCommand(cmdSET_STANDARD);
    QVERIFY(result < 0);
    QCOMPARE(audits.size(), size_t(1));
    QCOMPARE(audits[0].command, QStringLiteral("Padrão de fábrica"));
    QCOMPARE(audits[0].result, result);
    QCOMPARE(audits[0].user, QStringLiteral("tecnico"));
    QVERIFY(audits[0].utcMs > 0);
}

QTEST_GUILESS_MAIN(tst_history_tap)
#include "tst_history_tap.moc"
