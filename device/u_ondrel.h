#pragma once

#include "status_reading.h"
#include "transport.h"
#include "u_modbus.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QThread;
class tTCP;
class tTraceLog;
class tUART;

// Device commands; each is exactly one Modbus transaction.
enum tCommand : int32_t {
    cmdNONE = 0,
    cmdGET_INFO,
    cmdGET_STATUS,
    cmdRST_STAT_TEMP,
    cmdSET_STANDARD,
    cmdGET_LOG_INFO,
    cmdSET_LOG_READ,
    cmdGET_LOG_READ,
    cmdSET_LOG_CLEAR,
    cmdGET_RTC_DATE,
    cmdSET_RTC_DATE,
    cmdGET_RTC_TIME,
    cmdSET_RTC_TIME,
    cmdGET_RTC_FORMAT,
    cmdSET_RTC_FORMAT,
    cmdGET_RTC_CAL,
    cmdSET_RTC_CAL,
    cmdSET_RTC_CLKOUT,
    cmdGET_PAR_SYSTEM,
    cmdSET_PAR_SYSTEM,
    cmdGET_PAR_opRELAYS,
    cmdSET_PAR_opRELAYS,
    cmdSET_RELAYS,
    cmdGET_PAR_RELAY1,
    cmdSET_PAR_RELAY1,
    cmdGET_PAR_RELAY2,
    cmdSET_PAR_RELAY2,
    cmdGET_PAR_RELAY3,
    cmdSET_PAR_RELAY3,
    cmdGET_PAR_RELAY4,
    cmdSET_PAR_RELAY4,
};
constexpr int32_t tCommandCount = cmdSET_PAR_RELAY4 + 1;

// Transaction kinds: function 3, 6 and 16.
enum tcmd : int32_t { readREGS = 0, writeREG = 1, writeREGS = 2 };

struct tSensor {
    int32_t sts = -1;
    int32_t TemperatureType = 0;
    int32_t value = 0;
    int32_t valueMin = 0;
    int32_t valueMax = 0;
};

struct tRelay {
    int32_t sts = -1;
    std::array<int32_t, 20> par{};
};

struct tRTC {
    uint16_t Year = 0;
    uint16_t Month = 0;
    uint16_t Day = 0;
    uint16_t Weekday = 0;
    uint16_t Hour = 0;
    uint16_t Minute = 0;
    uint16_t Second = 0;
};

struct tSlotLog {
    uint8_t event = 0;
    uint16_t sensor1 = 0;
    uint16_t sensor2 = 0;
    uint16_t year = 0;
    uint8_t month = 0;
    uint8_t mday = 0;
    uint8_t hour = 0;
    uint8_t min = 0;
    uint8_t sec = 0;
};

// One transaction as a command sets it up: kind, start register, register
// count and the single value of a function 6 write.
struct tTransaction {
    tcmd kind = readREGS;
    int32_t start = 0;
    int32_t count = 7;
    uint16_t value = 0;
};

// What the application's copy holds for this connection: a block read from
// the controller, written to it, or loaded from a file. A page must not
// write a block it never had (it would send zeros), and bounds need the
// controller's unit.
enum tKnown : uint32_t {
    knownSYSTEM = 1u << 0, // System[0..12]
    knownUNIT = 1u << 1,   // the temperature unit (System[6], or a status read's flags)
    knownOPS = 1u << 2,    // the four operation codes
    knownRELAY1 = 1u << 3, // relay r's block: knownRELAY1 << r
    knownCLOCK = 1u << 7,  // date, time or clock format
    knownCAL = 1u << 8,    // the clock calibration
    knownFORMAT = 1u << 9, // the clock's display format, read or written alone
};
constexpr uint32_t knownRelay(int r) {
    return knownRELAY1 << r;
}

// How a command meets the controller: its kind, first register, register
// count (1 for a single write) and the blocks (tKnown) the copy holds once
// it succeeded.
struct tCommandShape {
    tcmd kind = readREGS;
    int32_t start = 0;
    int32_t count = 0;
    uint32_t known = 0;
};
tCommandShape CommandShape(tCommand cmd);

// Why a configuration file was refused or could not be written.
enum class tConfigError {
    None,
    Unreadable, // cannot be opened or read
    WrongSize,  // not exactly one configuration long
    WrongModel, // saved from another model
    Unwritable, // cannot be created, written or put in place
};

// Why OpenConnection could not open the port (its result errMODBUS_OPEN_UART),
// from what the system reported.
enum class tPortError {
    None,         // the port opened, or no OpenConnection yet
    NoSuchPort,   // no port of that name: adapter unplugged, name mistyped
    InUse,        // another program holds the port
    NoPermission, // the user may not open it
    Other,        // anything else; PortErrorText carries the system's words
    // A network address (tcp://, rtu+tcp://):
    HostNotFound, // the host name does not resolve
    Refused,      // nothing listens on that TCP port
    NoAnswer,     // the connection was not accepted within the time-out
    Unreachable,  // no route to the host
    BadAddress,   // not a name Tarvik can connect to
};

// What an identification reads: the model, the firmware and the relays'
// operation codes (-1: not known).
struct tIdentification {
    QString model;
    QString firmware;
    std::array<int32_t, 4> operations{-1, -1, -1, -1};
};

// One SendCommand as it ended: the command, the driver's result (negative
// when it failed; errMODBUS_BUSY when it was refused without touching the
// line) and the time from the request going out to the answer's end, in
// microseconds (0 for a refusal). A status read that went on the line
// carries its reading, failed or not.
struct tExchange {
    tCommand cmd = cmdNONE;
    int32_t result = 0;
    int64_t micros = 0;
    std::optional<tStatusReading> reading = std::nullopt;
};

// A write about to go on the line: its command, its first register, the
// registers it sends, and what the controller held there as last read or
// written in this session, register by register (-1: not seen since the
// session opened).
struct tWrite {
    tCommand cmd = cmdNONE;
    int32_t start = 0;
    std::vector<int32_t> before = {};
    std::vector<uint16_t> after = {};
};

// One command's exchange on its way through the driver: set up on the copy's
// thread (Begin), carried over the line (Transact, which touches only the
// master and the port, so it may run on another thread), and unpacked into
// the copy (Finish). The registers travel in the job, not in the copy.
struct tOndrelJob {
    tCommand cmd = cmdNONE;
    tTransaction t{};
    int32_t id = 0;
    bool fits = false;
    // Refused without touching the line: the driver was busy.
    bool refused = false;
    uint32_t epoch = 0;
    std::array<uint16_t, 121> regs{};
    int32_t result = errMODBUS_ILLEGAL_DATA_VALUE;
    int64_t micros = 0;
};

// What the port's side holds that the copy's side reads, carried over when
// the port lives on another thread (tOndrel::SetLinkPoster).
struct tLinkState {
    bool active = false;
    bool network = false;
    QString lostText{};
    tLinkStats stats{};
    // The link figures' reset this state has seen.
    uint32_t statsReset = 0;
};

// Opening a port in steps: begun on the copy's side, the port opened on its
// own side, ended on the copy's side again.
struct tOpenJob {
    QString port{};
    // The session's port is still open and healthy: purged, not reopened.
    bool samePort = false;
    // Another session's port is closed first.
    bool closeFirst = false;
    bool opened = false;
    tOpenFailure failure = tOpenFailure::None;
    QString failureText{};
    // The name the port is shown by in a failure's sentence.
    QString shown{};
};

// Sees every command a driver runs; the history and the link figures attach
// here, for the window and the command-line tool alike. Called inside
// SendCommand while the driver is busy: an observer sends no command.
class tOndrelObserver {
  public:
    virtual ~tOndrelObserver() = default;
    // Before the request of a write (functions 6 and 16) is sent.
    virtual void AboutToWrite(const tWrite &) {}
    // After every SendCommand, refusals and failures included.
    virtual void Exchanged(const tExchange &) {}
};

// The driver of one controller: owns the port and the Modbus master, keeps
// the session and the application's copy of the controller's state.
class tOndrel {
  public:
    tOndrel();
    ~tOndrel();
    tOndrel(const tOndrel &) = delete;
    tOndrel &operator=(const tOndrel &) = delete;

    void SetTimeout(int32_t Value);
    void SetBaudRate(int32_t Value);
    // The folder both trace files are created in when tracing is switched
    // on; empty (the default): the current directory.
    void SetLogFolder(const QString &folder);
    void SetSaveLog(bool Value);
    // The two traces apart: this object's "commands.log" and the master's
    // "modbus.log". SaveLog() then tells whether the commands are traced.
    void SetSaveLog(bool commands, bool modbus);
    int32_t Timeout() const { return FTimeout; }
    int32_t BaudRate() const { return FBaudRate; }
    bool Connected() const { return FConnected; }
    // The port is open and has not failed under a transaction, whether or
    // not a session is open on it (PortLost() asks the same of a session):
    // false once an adapter is pulled, which tells a vanished port from a
    // silent controller, also when an identification failed.
    bool PortActive() const;
    // The port is a network address (tcp://, rtu+tcp://), not a serial port.
    bool Network() const;
    // The sentence that tells the user the session's port failed under it:
    // the adapter pulled, or the connection lost and why.
    QString PortLostText() const;
    bool SaveLog() const { return FSaveLog; }
    // Fast read (off by default): an answer ends once the bytes its request
    // calls for are in with a valid CRC, not after the silence that follows.
    // A controller that answers with extra bytes should be read with it off.
    void SetFastRead(bool on);
    bool FastRead() const;

    // The system's serial ports by the names they are opened with; with
    // `Descriptions`, what the system knows of the adapter behind each, in
    // the same order (empty when nothing). One enumeration serves both.
    int32_t GetPorts(QStringList &PortsList, QStringList *Descriptions = nullptr);
    int32_t OpenConnection(const QString &PortCOM, int32_t id);
    // A session with a controller identified before (what an earlier
    // identification gave), opened without the identification exchange: 1,
    // or errMODBUS_OPEN_UART. What the model implies (relays, clock) is set
    // as OpenConnection sets it.
    int32_t OpenIdentified(const QString &PortCOM, int32_t id, const tIdentification &known);
    // What the session's identification gave (or was given).
    tIdentification Identification() const;
    // Why the last OpenConnection could not open its port, and a sentence for
    // the user naming the port and what to do; None and empty once a port opened.
    tPortError PortError() const { return FPortError; }
    QString PortErrorText() const { return FPortErrorText; }
    void CloseConnection();
    // One command: Begin, Transact and Finish in a row, on the caller's
    // thread.
    int32_t SendCommand(tCommand cmd);
    // A command in three steps. Begin packs the request and tells the
    // observers of a write; the driver is Busy from then until Finish.
    // Transact reaches only the master and the port. Finish unpacks the
    // answer into the copy, tells the observers and gives the result.
    tOndrelJob Begin(tCommand cmd);
    void Transact(tOndrelJob &job);
    int32_t Finish(tOndrelJob &job);

    // The port's side on a thread of its own. `post` runs a function there
    // after every one posted before it; from then on every port operation
    // asked on the copy's side (speed, time-out, fast read, traces, the
    // figures' reset, closing) is posted, and what the copy's side reads of
    // the port (PortActive, Network, PortLostText, LinkStats) is the state
    // last handed back with SetLinkState. Transact, OpenLink and the bus scan
    // then run on that thread only. Empty: everything inline, as before.
    // `back` runs a function on the copy's thread (a trace failure on the
    // port's side is told there).
    void SetLinkPoster(std::function<void(std::function<void()>)> post,
                       std::function<void(std::function<void()>)> back);
    // The serial port's object goes to `thread`; called on its present one.
    void MoveLinkTo(QThread *thread);
    // The port's side now, read on its own thread; handed to the copy's.
    tLinkState LinkState() const;
    void SetLinkState(const tLinkState &state);
    // OpenConnection's first step, without the identification: the old
    // session ends, the copy is forgotten. OpenLink opens on the port's side,
    // OpenEnd gives the result as OpenPort would (1 or errMODBUS_OPEN_UART).
    // After a good identification, Identified opens the session.
    tOpenJob OpenBegin(const QString &PortCOM, int32_t id);
    void OpenLink(tOpenJob &job);
    int32_t OpenEnd(const tOpenJob &job);
    void Identified() { SetIdentity(); }
    // Changes at every session's start and end; a job begun under another
    // value belongs to a session that is over.
    uint32_t Epoch() const { return FEpoch; }
    // The session's port has failed under it (adapter unplugged): every
    // command fails until the session is closed and opened again.
    bool PortLost() const;
    // The port the session was opened on.
    QString PortName() const { return FPort; }
    // The address of the controller the session was opened with.
    int32_t Address() const { return Fid; }

    // Observers see every command from the next one on; an observer removes
    // itself before it goes. Not owned.
    void AddObserver(tOndrelObserver *observer);
    void RemoveObserver(tOndrelObserver *observer);
    // Register `reg` as last read from or written to the controller in this
    // session; -1 when not seen since it opened.
    int32_t Seen(int32_t reg) const;

    // Device configuration file. SaveConfig and LoadConfig return false with
    // a text the user can be shown in `error` and the kind of failure in
    // `why`. A refused load changes no field; a failed save leaves the file
    // it was replacing as it was.
    bool SaveConfig(const QString &name, QString *error = nullptr, tConfigError *why = nullptr);
    bool LoadConfig(const QString &name, QString *error = nullptr, tConfigError *why = nullptr);

    // Called once per trace file when a line of it cannot be written; that
    // file is closed then and the commands go on untraced in it.
    std::function<void(const QString &why)> OnTraceError;

    // How the line has done since the owner last reset it (the driver never
    // does, so a program reports a whole run): every exchange by how it
    // ended, and the round trips of the good ones.
    const tLinkStats &LinkStats() const;
    void ResetLinkStats();

    // Finding controllers (bus_scan.h) without a session. OpenPort opens
    // the port as OpenConnection does (an open session ends first), with
    // the same result and PortError, and identifies nothing; ClosePort
    // closes it, or ends the session open on it.
    int32_t OpenPort(const QString &PortCOM);
    void ClosePort();
    // Sweep mode for the exchanges that follow (tModBus::SetSweep): a
    // time-out of `timeoutMs` ms, the port's byte wait cut to match; 0 ends
    // it, and the next exchange drains any late answer first.
    void SetSweep(int32_t timeoutMs);
    QList<int32_t> TakeStrays() { return FModBus->TakeStrays(); }
    // Waits out the late answers still due after a time-out or a sweep.
    void DrainLateAnswers() { FModBus->DrainLateAnswers(); }
    // The identification read sent to `id`, leaving the application's copy,
    // the session and ErrorCom alone; model and firmware on success.
    int32_t Identify(int32_t id, QString &model, QString &firmware);

    // The last status read of this session as its exchange carried it; a
    // reading with result 0 before the first.
    const tStatusReading &LastReading() const { return FLastReading; }

    // Read-only view of the register buffer, for tests and traces.
    const uint16_t *Regs() const { return FRegs; }
    tUART &Uart() { return *FUart; }

    int32_t nRelay = 0;
    bool HaveRTC = false;
    int32_t ErrorCom = 0;
    bool Busy = false;
    QString Fimware;
    QString Model;
    std::array<tSensor, 4> Temperature{};
    std::array<int32_t, 17> System{};
    std::array<tRelay, 4> Relay{};
    int32_t CalVal = 0;
    int32_t CalDir = 0;
    tRTC RTC;
    tSlotLog Log;
    int32_t LogCountSlots = -1;
    int32_t LogLastSlot = -1;
    int32_t LogSlotRead = 0;
    // tKnown bits; cleared when a session opens or closes. A relay's block
    // stops counting as known when its operation code changes (read or
    // written): its parameters belong to the old operation.
    uint32_t Known = 0;
    bool IsKnown(uint32_t what) const { return (Known & what) == what; }
    // The controller's temperature unit as this connection last learned it,
    // from a status read's flags or from System[6] read or written; -1 until
    // then (cleared with Known).
    int32_t ControllerUnit = -1;
    // The unit fixed bounds are given in: ControllerUnit once learned, else
    // System[6] (1 = Fahrenheit, anything else Celsius).
    int32_t TempUnit() const;

  private:
    int32_t Open(const QString &PortCOM);
    // On the port's side: now, or posted when it lives on another thread.
    void OnLink(std::function<void()> f);
    bool Deferred() const { return bool(FPost); }

    // Command map (ondrel_commands.cpp): set up the transaction of `cmd`,
    // packing FRegs for a multiple write; after success, unpack into fields.
    tTransaction Prepare(tCommand cmd);
    int32_t OpenPort(const QString &PortCOM, int32_t id);
    void SetIdentity();
    void Unpack(tCommand cmd);

    void Trace(const QString &line);
    // What the controller holds at `start`..: remembered, and a relay whose
    // operation code changes loses its block.
    void Saw(int32_t start, const uint16_t *regs, int32_t count);
    void ForgetChangedOps(int32_t start, const uint16_t *regs, int32_t count);
    void Notify(const tExchange &exchange);
    // What a status read that ended with `result` gives, from the fields
    // it unpacked into.
    tStatusReading StatusReading(int32_t result, int64_t micros) const;

    std::unique_ptr<tTraceLog> flog;
    uint16_t FRegs[121] = {};
    int32_t FBaudRate = 0;
    bool FConnected = false;
    bool FSaveLog = false;
    QString FLogFolder;
    int32_t FTimeout = 0;
    std::unique_ptr<tUART> FUart;
    std::unique_ptr<tTCP> FTcp;
    // The transport the master's callbacks reach: FUart or FTcp, chosen by
    // the name the port is opened with.
    tTransport *FLink;
    std::unique_ptr<tModBus> FModBus;
    int32_t Fid = 0;
    QString FPort;
    tPortError FPortError = tPortError::None;
    QString FPortErrorText;
    // The port's byte wait outside sweep mode.
    int32_t FByteWait = 0;
    std::vector<tOndrelObserver *> observers;
    std::map<int32_t, uint16_t> FSeen;
    tStatusReading FLastReading;
    std::function<void(std::function<void()>)> FPost;
    std::function<void(std::function<void()>)> FBack;
    // The copy's side's view of the port while it lives on another thread.
    tLinkState FLinkState;
    bool FFastRead = false;
    uint32_t FStatsReset = 0;     // copy's side: resets asked
    uint32_t FLinkStatsReset = 0; // port's side: resets done
    // Changes at every session's start and end: an exchange begun in
    // another session leaves the copy alone.
    uint32_t FEpoch = 0;
};

// Model and firmware from the identification block's first three words.
void DecodeIdentity(const uint16_t *w, QString &model, QString &firmware);

// The sensors a model's screens show: four with three relays or more, two
// with two, else one (the inputs beyond read "open" on the line).
int32_t SensorsOfModel(const QString &model);
