#include "u_ondrel.h"

#include "link_settings.h"
#include "port_name.h"
#include "trace_log.h"
#include "u_tcp.h"
#include "u_uart.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <iterator>

namespace {

struct tModelRow {
    const char *model;
    int32_t relays;
    bool rtc;
};

// Models the driver knows; any other string is taken for a one-relay model
// without a clock. Matched exactly, case included.
constexpr tModelRow modelTable[] = {
    {"qx4r", 4, true}, {"qx3r", 3, true}, {"qx2r", 2, true}, {"qx2n", 2, false}, {"qx1r", 1, true},
};

// What the user is told when the port does not open; %1 is the port, %2 the
// system's own words.
struct tPortErrorRow {
    tOpenFailure failure;
    tPortError error;
    const char *text;
};

constexpr tPortErrorRow portErrorTable[] = {
    {tOpenFailure::NoDevice, tPortError::NoSuchPort, "A porta %1 não existe."},
    {tOpenFailure::InUse, tPortError::InUse, "A porta %1 está em uso por outro programa."},
#ifdef Q_OS_LINUX
    {tOpenFailure::NoPermission, tPortError::NoPermission,
     "Sem permissão para abrir a porta %1: adicione o usuário ao grupo dialout e entre novamente."},
#else
    {tOpenFailure::NoPermission, tPortError::NoPermission, "Sem permissão para abrir a porta %1."},
#endif
    {tOpenFailure::Other, tPortError::Other, "Não foi possível abrir a porta %1: %2"},
    {tOpenFailure::HostNotFound, tPortError::HostNotFound,
     "Host não encontrado em %1: confira o nome e a rede (%2)."},
    {tOpenFailure::Refused, tPortError::Refused,
     "Conexão recusada por %1: nada atende nessa porta TCP; confira a porta e se o gateway está "
     "ligado."},
    {tOpenFailure::NoAnswer, tPortError::NoAnswer,
     "%1 não aceitou a conexão no tempo limite: confira a rede, o endereço e o firewall."},
    {tOpenFailure::Unreachable, tPortError::Unreachable,
     "Sem caminho de rede até %1: confira o endereço e a rede (%2)."},
    {tOpenFailure::BadAddress, tPortError::BadAddress, "Endereço de rede inválido em %1: %2."},
};

// Now, and the local offset from UTC now. Offsets change on whole minutes
// only, so the system (whose answer can cost more than a fast exchange) is
// asked once a minute.
void stampNow(tStatusReading &r) {
    thread_local int64_t minute = -1;
    thread_local int32_t offset = 0;
    r.utcMs = QDateTime::currentMSecsSinceEpoch();
    if (r.utcMs / 60'000 != minute) {
        minute = r.utcMs / 60'000;
        offset = QDateTime::fromMSecsSinceEpoch(r.utcMs).offsetFromUtc();
    }
    r.offsetSec = offset;
}

} // namespace

tOndrel::tOndrel()
    : flog(std::make_unique<tTraceLog>()), FUart(std::make_unique<tUART>()),
      FTcp(std::make_unique<tTCP>()), FLink(FUart.get()) {
    FModBus = std::make_unique<tModBus>(
        [this](const uint8_t *buffer, int32_t n) { return FLink->Write(buffer, n); },
        [this](uint8_t &c) { return FLink->GetC(c); }, [this] { FLink->Purge(); });
    FModBus->PortLost = [this] { return !FLink->Active(); };
    auto report = [this](const QString &why) {
        if (OnTraceError)
            OnTraceError(why);
    };
    flog->OnError = report;
    FModBus->OnTraceError = [this, report](const QString &why) {
        if (FBack)
            FBack([report, why] { report(why); });
        else
            report(why);
    };
    SetBaudRate(defBAUD_CODE);
}

tOndrel::~tOndrel() {
    // The master (and its trace) goes first, then the port, then this trace.
    FModBus.reset();
    FLink = nullptr;
    FTcp.reset();
    FUart.reset();
    flog.reset();
}

void tOndrel::OnLink(std::function<void()> f) {
    if (FPost)
        FPost(std::move(f));
    else
        f();
}

void tOndrel::SetLinkPoster(std::function<void(std::function<void()>)> post,
                            std::function<void(std::function<void()>)> back) {
    FPost = std::move(post);
    FBack = std::move(back);
    if (FPost)
        FLinkState = LinkState();
}

void tOndrel::MoveLinkTo(QThread *thread) {
    FUart->MoveToThread(thread);
}

tLinkState tOndrel::LinkState() const {
    return {.active = FLink->Active(),
            .network = FLink == FTcp.get(),
            .lostText = FTcp->LostText(),
            .stats = FModBus->Stats(),
            .statsReset = FLinkStatsReset};
}

void tOndrel::SetLinkState(const tLinkState &state) {
    // Figures counted before a reset asked since stay reset.
    const tLinkStats stats = FLinkState.stats;
    FLinkState = state;
    if (state.statsReset != FStatsReset)
        FLinkState.stats = stats;
}

const tLinkStats &tOndrel::LinkStats() const {
    return Deferred() ? FLinkState.stats : FModBus->Stats();
}

void tOndrel::ResetLinkStats() {
    const uint32_t reset = ++FStatsReset;
    FLinkState.stats.Reset();
    OnLink([this, reset] {
        FModBus->ResetStats();
        FLinkStatsReset = reset;
    });
}

void tOndrel::SetTimeout(int32_t Value) {
    if (Value < minTIMEOUT || Value > maxTIMEOUT)
        Value = defTIMEOUT;
    FTimeout = Value;
    OnLink([this, Value] { FModBus->SetTimeout(Value); });
}

void tOndrel::SetBaudRate(int32_t Value) {
    FBaudRate = Value;
    OnLink([this, Value] { FUart->SetBaud(BaudRateOf(Value)); });
}

void tOndrel::SetLogFolder(const QString &folder) {
    FLogFolder = folder;
    OnLink([this, folder] { FModBus->SetLogFolder(folder); });
}

void tOndrel::SetSaveLog(bool Value) {
    SetSaveLog(Value, Value);
}

void tOndrel::SetSaveLog(bool commands, bool modbus) {
    if (commands)
        flog->Open(FileInFolder(FLogFolder, QStringLiteral("commands.log")),
                   QStringLiteral("INICIAÇÃO DO LOG DE COMANDOS"));
    FSaveLog = commands;
    OnLink([this, modbus] { FModBus->SetSaveLog(modbus); });
}

bool tOndrel::PortActive() const {
    return Deferred() ? FLinkState.active : FLink->Active();
}

bool tOndrel::Network() const {
    return Deferred() ? FLinkState.network : FLink == FTcp.get();
}

QString tOndrel::PortLostText() const {
    if (Network())
        return QStringLiteral("Conexão com %1 perdida: %2")
            .arg(FPort, Deferred() ? FLinkState.lostText : FTcp->LostText());
    return QStringLiteral("Porta %1 perdida: o adaptador foi desconectado").arg(FPort);
}

void tOndrel::SetFastRead(bool on) {
    FFastRead = on;
    OnLink([this, on] { FModBus->SetFastRead(on); });
}

bool tOndrel::FastRead() const {
    return FFastRead;
}

int32_t tOndrel::GetPorts(QStringList &PortsList, QStringList *Descriptions) {
    PortsList.clear();
    if (Descriptions)
        Descriptions->clear();
    for (const tPortInfo &p : uart_GetCommInfo()) {
        PortsList.append(p.name);
        if (Descriptions)
            Descriptions->append(p.description);
    }
    return int32_t(PortsList.size());
}

int32_t tOndrel::OpenConnection(const QString &PortCOM, int32_t id) {
    if (const int32_t r = OpenPort(PortCOM, id); r < 0)
        return r;
    const int32_t result = SendCommand(cmdGET_INFO);
    if (result <= 0) {
        FConnected = false;
        return result;
    }
    SetIdentity();
    return 1;
}

int32_t tOndrel::OpenIdentified(const QString &PortCOM, int32_t id, const tIdentification &known) {
    if (const int32_t r = OpenPort(PortCOM, id); r < 0)
        return r;
    Model = known.model;
    Fimware = known.firmware;
    for (size_t r = 0; r < Relay.size(); ++r)
        Relay[r].par[0] = known.operations[r];
    SetIdentity();
    return 1;
}

tIdentification tOndrel::Identification() const {
    tIdentification i{Model, Fimware, {}};
    for (size_t r = 0; r < Relay.size(); ++r)
        i.operations[r] = Relay[r].par[0];
    return i;
}

// The session's start up to the identification: the old session closed,
// the copy forgotten, the port opened. 1, or errMODBUS_OPEN_UART.
int32_t tOndrel::OpenPort(const QString &PortCOM, int32_t id) {
    tOpenJob job = OpenBegin(PortCOM, id);
    OpenLink(job);
    return OpenEnd(job);
}

tOpenJob tOndrel::OpenBegin(const QString &PortCOM, int32_t id) {
    tOpenJob job{.port = PortCOM};
    Fid = id;
    ++FEpoch;
    // Another address on the same healthy port keeps the port open: reopening
    // costs each switch milliseconds (and a real adapter its lock file and
    // line settings) when a program goes round a bus.
    // So does an address that did not answer: the port is as healthy as it
    // was, and the next address on the bus goes out at once.
    job.samePort = PortCOM == FPort && PortActive();
    if (FConnected) {
        job.closeFirst = !job.samePort;
        // Whatever happens next, the old session is over.
        FConnected = false;
    }
    Known = 0;
    ControllerUnit = -1;
    FSeen.clear();
    FLastReading = {};
    if (!job.samePort) {
        FPort = PortCOM;
        Trace(QStringLiteral("Abrindo porta %1").arg(PortCOM));
    }
    return job;
}

void tOndrel::OpenLink(tOpenJob &job) {
    if (job.closeFirst)
        FLink->Close();
    if (job.samePort) {
        FLink->Purge();
        job.opened = true;
        return;
    }
    // The name chooses the transport and how frames travel on it.
    const tPortName name = ParsePortName(job.port);
    tTransport *link = name.network() ? static_cast<tTransport *>(FTcp.get()) : FUart.get();
    if (link != FLink)
        FLink->Close();
    FLink = link;
    FModBus->SetFraming(name.kind == tPortKind::ModbusTcp ? tFraming::Mbap : tFraming::Rtu);
    // Connecting waits as long as an answer would.
    FTcp->SetConnectTimeout(FModBus->Timeout() * 864);
    job.opened = FLink->Open(job.port);
    if (!job.opened) {
        job.failure = FLink->OpenFailure();
        job.failureText = FLink->OpenFailureText();
        job.shown = name.network() ? job.port : FUart->port;
    }
}

int32_t tOndrel::OpenEnd(const tOpenJob &job) {
    if (job.samePort)
        return 1;
    if (!job.opened) {
        FPortError = tPortError::Other;
        const char *text = "Não foi possível abrir a porta %1: %2";
        for (const tPortErrorRow &row : portErrorTable) {
            if (row.failure == job.failure) {
                FPortError = row.error;
                text = row.text;
                break;
            }
        }
        const QString sentence = QString::fromUtf8(text);
        FPortErrorText = sentence.contains(QLatin1String("%2"))
                             ? sentence.arg(job.shown, job.failureText)
                             : sentence.arg(job.shown);
        ErrorCom = errMODBUS_OPEN_UART;
        return errMODBUS_OPEN_UART;
    }
    FPortError = tPortError::None;
    FPortErrorText.clear();
    return 1;
}

int32_t tOndrel::OpenPort(const QString &PortCOM) {
    CloseConnection();
    return Open(PortCOM);
}

void tOndrel::ClosePort() {
    if (FConnected)
        CloseConnection();
    else
        OnLink([this] { FLink->Close(); });
}

void tOndrel::SetSweep(int32_t timeoutMs) {
    // The byte wait bounds how finely the time-out is kept.
    constexpr int32_t sweepByteWaitMs = 2;
    if (timeoutMs > 0 && FModBus->Sweep() == 0)
        FByteWait = FLink->ByteWait();
    if (timeoutMs <= 0 && FModBus->Sweep() > 0)
        FLink->SetByteWait(FByteWait);
    else if (timeoutMs > 0)
        FLink->SetByteWait(std::min(sweepByteWaitMs, FByteWait));
    FModBus->SetSweep(timeoutMs);
}

int32_t tOndrel::Identify(int32_t id, QString &model, QString &firmware) {
    if (Busy)
        return errMODBUS_BUSY;
    Busy = true;
    Trace(QString::asprintf("Procurando controlador no id %d", id));
    uint16_t w[7] = {};
    const int32_t result = FModBus->Read_Registers(id, 0, w, int32_t(std::size(w)));
    if (result > 0) {
        DecodeIdentity(w, model, firmware);
        Trace(QStringLiteral("    %1 firmware %2").arg(model, firmware));
    } else {
        Trace(QString::asprintf("    Erro %d", result));
    }
    Busy = false;
    return result;
}

// Opens the port; on failure says why in PortError and PortErrorText.
int32_t tOndrel::Open(const QString &PortCOM) {
    tOpenJob job{.port = PortCOM};
    FPort = PortCOM;
    Trace(QStringLiteral("Abrindo porta %1").arg(PortCOM));
    OpenLink(job);
    return OpenEnd(job);
}

// What the model says of the controller; the session is open from here.
void tOndrel::SetIdentity() {
    FConnected = true;
    HaveRTC = false;
    nRelay = 1;
    for (const tModelRow &row : modelTable) {
        if (Model == QLatin1String(row.model)) {
            nRelay = row.relays;
            HaveRTC = row.rtc;
            break;
        }
    }
}

int32_t SensorsOfModel(const QString &model) {
    int32_t relays = 1;
    for (const tModelRow &row : modelTable)
        if (model == QLatin1String(row.model))
            relays = row.relays;
    return relays >= 3 ? 4 : relays == 2 ? 2 : 1;
}

bool tOndrel::PortLost() const {
    return FConnected && !PortActive();
}

void tOndrel::CloseConnection() {
    if (!FConnected)
        return;
    ErrorCom = 0;
    Busy = false;
    ++FEpoch;
    Known = 0;
    ControllerUnit = -1;
    FSeen.clear();
    FLinkState.active = false;
    OnLink([this] { FLink->Close(); });
    FConnected = false;
    Fimware.clear();
    Model.clear();
    HaveRTC = false;
    LogCountSlots = -1;
    LogLastSlot = -1;
    LogSlotRead = 0;
    for (tSensor &s : Temperature)
        s.sts = -1;
    for (tRelay &r : Relay)
        r.sts = -1;
    FLastReading = {};
}

int32_t tOndrel::SendCommand(tCommand cmd) {
    tOndrelJob job = Begin(cmd);
    Transact(job);
    return Finish(job);
}

// The trace lines are formatted only when traced: formatting costs more than
// the rest of an exchange.
tOndrelJob tOndrel::Begin(tCommand cmd) {
    tOndrelJob job{.cmd = cmd};
    if (Busy) {
        job.refused = true;
        job.result = errMODBUS_BUSY;
        return job;
    }
    Busy = true;
    job.t = Prepare(cmd);
    job.id = Fid;
    job.epoch = FEpoch;
    const tTransaction &t = job.t;
    job.fits = t.count >= 1 && t.count <= int32_t(job.regs.size());
    std::copy(std::begin(FRegs), std::end(FRegs), job.regs.begin());
    // The registers a write sends: the packed buffer, or the one value.
    const uint16_t *sent = t.kind == writeREG ? &t.value : FRegs;
    const int32_t sentCount = t.kind == writeREG ? 1 : t.count;
    if (t.kind != readREGS && job.fits && !observers.empty()) {
        tWrite w{.cmd = cmd, .start = t.start, .before = {}, .after = {}};
        for (int32_t i = 0; i < sentCount; ++i) {
            w.before.push_back(Seen(t.start + i));
            w.after.push_back(sent[i]);
        }
        for (tOndrelObserver *o : observers)
            o->AboutToWrite(w);
    }
    if (FSaveLog) {
        switch (t.kind) {
        case writeREG:
            Trace(QString::asprintf("Enviando comando de escrita REG addr 0x%X = valor",
                                    unsigned(t.start)));
            break;
        case writeREGS:
            Trace(QString::asprintf("Enviando comando de escrita REGS addr 0x%X len %d",
                                    unsigned(t.start), t.count));
            break;
        case readREGS:
            Trace(QString::asprintf("Enviando comando de leitura REGS addr 0x%X len %d",
                                    unsigned(t.start), t.count));
            break;
        }
    }
    return job;
}

void tOndrel::Transact(tOndrelJob &job) {
    if (job.refused)
        return;
    const tTransaction &t = job.t;
    QElapsedTimer clock;
    clock.start();
    job.result = errMODBUS_ILLEGAL_DATA_VALUE;
    switch (t.kind) {
    case writeREG:
        job.result = FModBus->Write_Register(job.id, t.start, t.value);
        break;
    case writeREGS:
        if (job.fits)
            job.result = FModBus->Write_Registers(job.id, t.start, job.regs.data(), t.count);
        break;
    case readREGS:
        // The register buffer bounds what a read may bring in.
        if (job.fits)
            job.result = FModBus->Read_Registers(job.id, t.start, job.regs.data(), t.count);
        break;
    }
    job.micros = clock.nsecsElapsed() / 1000;
}

int32_t tOndrel::Finish(tOndrelJob &job) {
    const tCommand cmd = job.cmd;
    if (job.refused) {
        Notify({.cmd = cmd, .result = errMODBUS_BUSY, .micros = 0});
        return errMODBUS_BUSY;
    }
    const tTransaction &t = job.t;
    const int32_t result = job.result;
    // Begun in a session that has ended since: what came belongs to none.
    if (job.epoch != FEpoch) {
        Busy = false;
        Notify({.cmd = cmd, .result = result, .micros = job.micros});
        return result;
    }
    std::copy(job.regs.begin(), job.regs.end(), std::begin(FRegs));
    // The end of every exchange that went on the line: a status read
    // becomes the last reading, and the observers see it.
    auto ended = [this, cmd, &job] {
        Busy = false;
        tExchange e{.cmd = cmd, .result = job.result, .micros = job.micros};
        if (cmd == cmdGET_STATUS) {
            FLastReading = StatusReading(job.result, job.micros);
            e.reading = FLastReading;
        }
        Notify(e);
    };
    if (result < 0) {
        if (FSaveLog)
            Trace(QString::asprintf("    Erro %d", result));
        ErrorCom = result;
        // A write that may or may not have landed still changes what the
        // copy holds against the controller's operation codes.
        if (t.kind == writeREGS && job.fits)
            ForgetChangedOps(t.start, FRegs, t.count);
        ended();
        return result;
    }
    ErrorCom = 0;
    if (FSaveLog) {
        Trace(QString::asprintf("    RX %d regs", t.count));
        const int32_t shown = qBound(0, t.count, int32_t(std::size(FRegs)));
        for (int32_t i = 0; i < shown; ++i)
            Trace(QString::asprintf("        0x%X", unsigned(FRegs[i])));
    }
    Unpack(cmd);
    if (t.kind == writeREG)
        Saw(t.start, &t.value, 1);
    else if (job.fits)
        Saw(t.start, FRegs, t.count);
    ended();
    return result;
}

tStatusReading tOndrel::StatusReading(int32_t result, int64_t micros) const {
    tStatusReading r{
        .port = FPort, .address = Fid, .result = result, .roundTripMs = int32_t(micros / 1000)};
    stampNow(r);
    if (FConnected) {
        r.model = Model;
        r.firmware = Fimware;
    }
    if (!r.ok())
        return r;
    r.unit = Temperature[0].TemperatureType ? tempFAHRENHEIT : tempCELSIUS;
    r.sensors = ShownSensors(nRelay);
    r.relays = std::clamp(nRelay, 0, int32_t(Relay.size()));
    for (size_t k = 0; k < 4; ++k) {
        r.state[k] = Temperature[k].sts;
        r.value[k] = Temperature[k].value;
        r.min[k] = Temperature[k].valueMin;
        r.max[k] = Temperature[k].valueMax;
        if (int32_t(k) < r.relays) {
            r.relay[k] = Relay[k].sts;
            r.operation[k] = Relay[k].par[0];
        }
    }
    return r;
}

void tOndrel::AddObserver(tOndrelObserver *observer) {
    observers.push_back(observer);
}

void tOndrel::RemoveObserver(tOndrelObserver *observer) {
    std::erase(observers, observer);
}

void tOndrel::Notify(const tExchange &exchange) {
    // A copy: an observer may remove itself on the way.
    const std::vector<tOndrelObserver *> now = observers;
    for (tOndrelObserver *o : now)
        o->Exchanged(exchange);
}

int32_t tOndrel::Seen(int32_t reg) const {
    const auto at = FSeen.find(reg);
    return at == FSeen.end() ? -1 : at->second;
}

// Registers 0x0003..0x0006 hold the relays' operation codes; relay r's block
// starts at 0x0400 + 0x100 * r.
constexpr int32_t regOPS = 0x0003;
constexpr int32_t regRELAY1 = 0x0400;
constexpr int32_t regRELAY_STEP = 0x0100;

void tOndrel::ForgetChangedOps(int32_t start, const uint16_t *regs, int32_t count) {
    for (int r = 0; r < 4; ++r) {
        const int32_t at = regOPS + r - start;
        if (at < 0 || at >= count)
            continue;
        const int32_t before = Seen(regOPS + r);
        if (before >= 0 && before != regs[at])
            Known &= ~knownRelay(r);
    }
}

void tOndrel::Saw(int32_t start, const uint16_t *regs, int32_t count) {
    ForgetChangedOps(start, regs, count);
    for (int32_t i = 0; i < count; ++i)
        FSeen[start + i] = regs[i];
    // A relay's block starts with its operation code, the same the
    // controller shows among the codes: the block and its code agree.
    for (int r = 0; r < 4; ++r) {
        const int32_t at = regRELAY1 + regRELAY_STEP * r - start;
        if (at >= 0 && at < count)
            FSeen[regOPS + r] = regs[at];
    }
}

int32_t tOndrel::TempUnit() const {
    if (ControllerUnit >= 0)
        return ControllerUnit;
    return System[6] == 1 ? tempFAHRENHEIT : tempCELSIUS;
}

void tOndrel::Trace(const QString &line) {
    if (FSaveLog)
        flog->Line(line);
}
