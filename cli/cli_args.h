#pragma once

// The command line of tarvik-cli: its commands and options as tables of
// rows, one routine that reads any of them, and the help made from the same
// rows.

#include "link_settings.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Exit statuses, as --help documents them.
enum tExit : int {
    exitOK = 0,
    exitDEVICE = 1,    // a controller answered with a failure or not at all; no port
    exitUSAGE = 2,     // bad usage, a bad value, a file of the wrong size or model
    exitDIFFERENT = 3, // the configuration differs (comparar, gravar --verificar)
};

// The worse of two statuses: usage before the device, the device before a
// difference.
int WorseExit(int a, int b);

enum class tFormat { Text, Csv, Json };

struct tCliArgs {
    QString command; // "info", "config salvar", "relogio ler"...
    QString file;    // config's ARQUIVO
    QString port;    // empty: the first entry of TARVIK_PORTS
    QList<int> addresses{defADDRESS};
    int speed = defBAUD_CODE;
    int timeout = defTIMEOUT;
    bool logModbus = false;
    bool logCommands = false;
    bool fastRead = false;
    QString model; // --modelo: the controller's model, taken without identifying it
    std::optional<double> interval; // seconds
    int retentionDays = 0;          // registrar --retencao; 0: keep everything
    tFormat format = tFormat::Text;
    int max = 20;
    bool verify = false;
    bool addressGiven = false;     // -a given: historico narrows to those addresses
    std::optional<QDateTime> from; // historico --de
    std::optional<QDateTime> to;   // historico --ate (exclusive)
    QString pdf;                   // historico relatorio --pdf
    QString xlsx;                  // historico exportar, log --xlsx: the rows as a spreadsheet
    bool help = false;
    // procurar: the addresses asked, and every speed code instead of -b's.
    int scanFrom = 1;
    int scanTo = 247;
    bool allSpeeds = false;
    // The line's figures on standard error at the end of the run (and in
    // the JSON output).
    bool stats = false;
    bool version = false;
    // publicar
    QString broker; // mqtt://HOST[:PORTA] or mqtts://HOST[:PORTA]
    QString topic;  // the topics' prefix; empty: tarvik/<host>
    QString user;
    QString passwordFile; // the password is its first line
    QString caFile;
    bool homeAssistant = false;
    QString discoveryPrefix; // empty: homeassistant
    bool insecure = false;   // a password over plain mqtt:// allowed
    bool noHistory = false;  // readings wait for the broker in memory, not in the history file
    // limites definir (degrees in the controller's unit), alarmes reconhecer, --ao-alarmar
    std::optional<double> alarmLow, alarmHigh, hysteresis;
    std::optional<int> delayMin;
    QString maxText; // --max as given: log's count or a sensor's maximum
    QString comment;
    QString onAlarm; // a shell command run at each alarm opening and closing
};

// Reads `args` (without the program's name). False on bad usage, with the
// message to show in `error`.
bool ParseArgs(const QStringList &args, tCliArgs &out, QString &error);

// A command word or option name without its accents, so that "relógio" and
// "relogio", "--endereço" and "--endereco" name the same thing.
QString Unaccented(const QString &word);

// The whole help, and the one line shown with a usage error.
QString HelpText();
QString UsageLine();

// The bit rate of speed code 1..7.
int SpeedRate(int code);

// The port a command runs on: -p, else the first entry of TARVIK_PORTS.
QString DefaultPort();
