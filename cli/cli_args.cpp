#include "cli_args.h"

#include "cli_commands.h"
#include "cli_suggest.h"

#include <QRegularExpression>

#include <iterator>

namespace {

// `text` in lines of at most 79 characters after a first column of 30;
// lines after the first start under the text.
QString beside(const QString &first, const QString &text) {
    constexpr int column = 30, width = 79;
    QString out = QStringLiteral("  ") + first;
    QString line;
    auto flush = [&] {
        out += out.endsWith(u'\n') ? QString(column, u' ')
                                   : QString(qMax(1, column - int(out.size())), u' ');
        out += line + u'\n';
        line.clear();
    };
    for (const QString &word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && column + line.size() + 1 + word.size() > width)
            flush();
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    flush();
    return out;
}

bool whole(const QString &text, int lo, int hi, int &out) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool outOfRange(QString &error, const char *option, const QString &value, const char *range) {
    error = QStringLiteral("valor inválido para %1: \"%2\" (%3)")
                .arg(QLatin1String(option), value, QString::fromUtf8(range));
    return false;
}

bool setPort(tCliArgs &a, const QString &v, QString &error) {
    if (v.isEmpty()) {
        error = QStringLiteral("falta o nome da porta em --porta");
        return false;
    }
    a.port = v;
    return true;
}

bool setAddresses(tCliArgs &a, const QString &v, QString &error) {
    a.addresses.clear();
    a.addressGiven = true;
    for (const QString &item : v.split(u',')) {
        int id = 0;
        if (!whole(item, minSLAVE_ADDRESS, maxSLAVE_ADDRESS, id)) {
            error = QStringLiteral("endereço fora de %1..%2: \"%3\"")
                        .arg(minSLAVE_ADDRESS)
                        .arg(maxSLAVE_ADDRESS)
                        .arg(item);
            return false;
        }
        a.addresses << id;
    }
    return true;
}

// A local date, "AAAA-MM-DD" or "DD/MM/AAAA", with an optional time "HH:MM[:SS]"
// after a blank or a T. A date alone as the end of a range takes that day whole.
std::optional<QDateTime> dateOf(const QString &v, bool end) {
    const QString text = v.trimmed().replace(u'T', u' ');
    const QString day = text.section(u' ', 0, 0), time = text.section(u' ', 1);
    QDate d = QDate::fromString(day, Qt::ISODate);
    if (!d.isValid())
        d = QDate::fromString(day, QStringLiteral("dd/MM/yyyy"));
    QTime t(0, 0);
    if (!time.isEmpty()) {
        t = QTime::fromString(time, QStringLiteral("HH:mm:ss"));
        if (!t.isValid())
            t = QTime::fromString(time, QStringLiteral("HH:mm"));
    }
    if (!d.isValid() || !t.isValid())
        return std::nullopt;
    QDateTime at(d, t);
    return end && time.isEmpty() ? at.addDays(1) : at;
}

// --de and --até serve two commands: procurar takes an address, historico a
// date; a whole number 1..247 is the address.
bool setFrom(tCliArgs &a, const QString &v, QString &error) {
    if (whole(v, 1, 247, a.scanFrom))
        return true;
    a.from = dateOf(v, false);
    return a.from ||
           outOfRange(error, "--de", v, "data AAAA-MM-DD ou DD/MM/AAAA, hora HH:MM opcional");
}

bool setTo(tCliArgs &a, const QString &v, QString &error) {
    if (whole(v, 1, 247, a.scanTo))
        return true;
    a.to = dateOf(v, true);
    return a.to ||
           outOfRange(error, "--ate", v, "data AAAA-MM-DD ou DD/MM/AAAA, hora HH:MM opcional");
}

bool setPdf(tCliArgs &a, const QString &v, QString &) {
    a.pdf = v;
    return true;
}

bool setXlsx(tCliArgs &a, const QString &v, QString &error) {
    if (a.format != tFormat::Text) {
        error = QStringLiteral("--xlsx não vai com --csv nem --json");
        return false;
    }
    a.xlsx = v;
    return true;
}

// A speed code, or the bit rate itself.
bool setSpeed(tCliArgs &a, const QString &v, QString &error) {
    int n = 0;
    if (whole(v, minBAUD_CODE, maxBAUD_CODE, n)) {
        a.speed = n;
        return true;
    }
    for (int32_t code = minBAUD_CODE; code <= maxBAUD_CODE; ++code)
        if (whole(v, BaudRateOf(code), BaudRateOf(code), n)) {
            a.speed = code;
            return true;
        }
    error = QStringLiteral("valor inválido para --velocidade: \"%1\" (código %2 a %3, ou %4 a "
                           "%5 bit/s)")
                .arg(v)
                .arg(minBAUD_CODE)
                .arg(maxBAUD_CODE)
                .arg(BaudRateOf(minBAUD_CODE))
                .arg(BaudRateOf(maxBAUD_CODE));
    return false;
}

bool setTimeout(tCliArgs &a, const QString &v, QString &error) {
    if (whole(v, minTIMEOUT, maxTIMEOUT, a.timeout))
        return true;
    error = QStringLiteral("valor inválido para --timeout: \"%1\" (de %2 a %3)")
                .arg(v)
                .arg(minTIMEOUT)
                .arg(maxTIMEOUT);
    return false;
}

bool setLogModbus(tCliArgs &a, const QString &, QString &) {
    a.logModbus = true;
    return true;
}

bool setLogCommands(tCliArgs &a, const QString &, QString &) {
    a.logCommands = true;
    return true;
}

bool setFastRead(tCliArgs &a, const QString &, QString &) {
    a.fastRead = true;
    return true;
}

// A model string as the controller gives it: four letters or digits.
bool setModel(tCliArgs &a, const QString &v, QString &error) {
    static const QRegularExpression model(QStringLiteral("^[A-Za-z0-9]{4}$"));
    if (!model.match(v).hasMatch())
        return outOfRange(error, "--modelo", v, "quatro letras ou algarismos, como qx4r");
    a.model = v;
    return true;
}

bool setInterval(tCliArgs &a, const QString &v, QString &error) {
    bool ok = false;
    const double s = QString(v).replace(u',', u'.').toDouble(&ok);
    if (!ok || !(s >= 0 && s <= 86400))
        return outOfRange(error, "--intervalo", v, "segundos, de 0 a 86400");
    a.interval = s;
    return true;
}

bool setRetention(tCliArgs &a, const QString &v, QString &error) {
    return whole(v, 1, 36500, a.retentionDays) ||
           outOfRange(error, "--retencao", v, "dias, de 1 a 36500");
}

bool setFormat(tCliArgs &a, tFormat f, QString &error) {
    if (a.format != tFormat::Text && a.format != f) {
        error = QStringLiteral("--csv e --json não vão juntos");
        return false;
    }
    if (!a.xlsx.isEmpty()) {
        error = QStringLiteral("--xlsx não vai com --csv nem --json");
        return false;
    }
    a.format = f;
    return true;
}

bool setCsv(tCliArgs &a, const QString &, QString &error) {
    return setFormat(a, tFormat::Csv, error);
}

bool setJson(tCliArgs &a, const QString &, QString &error) {
    return setFormat(a, tFormat::Json, error);
}

bool setVerify(tCliArgs &a, const QString &, QString &) {
    a.verify = true;
    return true;
}

bool setAllSpeeds(tCliArgs &a, const QString &, QString &) {
    a.allSpeeds = true;
    return true;
}

bool setStats(tCliArgs &a, const QString &, QString &) {
    a.stats = true;
    return true;
}

// The text options of publicar: any value but an empty one.
template <QString tCliArgs::*Field> bool setText(tCliArgs &a, const QString &v, QString &error) {
    if (v.isEmpty()) {
        error = QStringLiteral("valor vazio");
        return false;
    }
    a.*Field = v;
    return true;
}

template <bool tCliArgs::*Field> bool setSwitch(tCliArgs &a, const QString &, QString &) {
    a.*Field = true;
    return true;
}

// Degrees with a decimal comma or point.
template <std::optional<double> tCliArgs::*Field, const char *Option, bool Signed>
bool setDegrees(tCliArgs &a, const QString &v, QString &error) {
    bool ok = false;
    const double d = QString(v).trimmed().replace(u',', u'.').toDouble(&ok);
    if (!ok || !(d >= (Signed ? -999.9 : 0) && d <= 999.9))
        return outOfRange(error, Option, v,
                          Signed ? "graus, de -999,9 a 999,9" : "graus, de 0 a 999,9");
    a.*Field = d;
    return true;
}
constexpr char optMin[] = "--min", optMax[] = "--max", optHysteresis[] = "--histerese";

// --max is log's count and a sensor's maximum: the value is read for both
// and the command, known only once every word is read, takes its own.
bool setMaxOrLimit(tCliArgs &a, const QString &v, QString &error) {
    a.maxText = v;
    const bool count = whole(v, 1, 32767, a.max);
    return setDegrees<&tCliArgs::alarmHigh, optMax, true>(a, v, error) || count;
}

bool setDelay(tCliArgs &a, const QString &v, QString &error) {
    int n = 0;
    if (!whole(v, 0, 1440, n))
        return outOfRange(error, "--atraso", v, "minutos, de 0 a 1440");
    a.delayMin = n;
    return true;
}

bool setHelp(tCliArgs &a, const QString &, QString &) {
    a.help = true;
    return true;
}

bool setVersion(tCliArgs &a, const QString &, QString &) {
    a.version = true;
    return true;
}

struct tOptionRow {
    const char *name;     // after "--"
    char letter;          // after "-"; 0 for none
    const char *value;    // the value's name in the help; nullptr for a switch
    const char *commands; // the commands it belongs to, '|' between; "" for all
    const char *help;
    bool (*apply)(tCliArgs &, const QString &value, QString &error);
    const char *alias = nullptr; // another name after "--", in Portuguese
};

constexpr tOptionRow optionRows[] = {
    {"porta", 'p', "PORTA", "", "porta serial (padrão: a primeira de TARVIK_PORTS)", setPort},
    {"endereço", 'a', "ENDEREÇO[,…]", "",
     "endereço do controlador, {endereços} (padrão {endereço}); vários, separados por vírgula, "
     "são atendidos um depois do outro na mesma porta",
     setAddresses},
    {"velocidade", 'b', "VELOCIDADE", "",
     "código {velocidades} ou a própria velocidade (padrão {velocidade})", setSpeed},
    {"timeout", 't', "TIMEOUT", "", "espera pela resposta, {timeout} (padrão {timeout padrão})",
     setTimeout},
    {"log-modbus", 0, nullptr, "", "grava os quadros Modbus em modbus.log, na pasta atual",
     setLogModbus},
    {"log-comandos", 0, nullptr, "", "grava os comandos em commands.log, na pasta atual",
     setLogCommands},
    {"rápido", 0, nullptr, "",
     "leitura rápida: cada resposta termina assim que chegam os bytes esperados com o CRC "
     "certo, sem esperar 50 ms de silêncio; um controlador que responde com bytes a mais deve "
     "ser lido sem ela",
     setFastRead},
    {"modelo", 0, "M", "status",
     "(status) o modelo do controlador (qx4r, qx2n...), lido sem identificá-lo antes; sem "
     "ela, o status usa o modelo guardado da última identificação enquanto o controlador "
     "responder",
     setModel},
    {"intervalo", 0, "S", "status|registrar|publicar",
     "(status, registrar, publicar) uma leitura a cada S segundos (de 0 a 86400; registrar, de "
     "1 a 86400) até Ctrl+C; 0: uma leitura logo depois da outra, tão rápido quanto a linha "
     "permite; status escreve uma linha por leitura, publicar lê a cada 10 s sem ela",
     setInterval},
    {"retencao", 0, "DIAS", "registrar",
     "(registrar) ao começar e a cada 6 horas, apaga do histórico as leituras com mais de DIAS "
     "dias (de 1 a 36500); sem ela, tudo é guardado",
     setRetention},
    {"de", 0, "DATA|N",
     "historico exportar|historico relatorio|historico alteracoes|historico "
     "verificar|alarmes|procurar",
     "(historico) desde DATA (AAAA-MM-DD ou DD/MM/AAAA, com HH:MM opcional); (procurar) o "
     "primeiro endereço perguntado, N de 1 a 247 (padrão 1)",
     setFrom},
    {"ate", 0, "DATA|N",
     "historico exportar|historico relatorio|historico alteracoes|historico "
     "verificar|alarmes|procurar",
     "(historico) até DATA (uma data sem hora inclui o dia todo); (procurar) o último endereço "
     "perguntado, N de 1 a 247 (padrão 247)",
     setTo},
    {"pdf", 0, "ARQUIVO", "historico relatorio", "(historico relatorio) o relatório em PDF",
     setPdf},
    {"csv", 0, nullptr,
     "status|log|historico exportar|historico relatorio|historico alteracoes|alarmes",
     "(status, log, historico) CSV como a exportação da tela: ';', UTF-8, linha de cabeçalho; "
     "num terminal ou pipe, linhas LF sem BOM; num arquivo, BOM e CR LF (historico exportar "
     "num arquivo escreve este CSV mesmo sem a opção)",
     setCsv},
    {"xlsx", 0, "ARQUIVO", "historico exportar|log|alarmes",
     "(historico exportar, log, alarmes) as linhas numa planilha ARQUIVO (.xlsx), com as colunas "
     "do CSV: "
     "datas como datas, temperaturas como números; nada vai para a saída padrão",
     setXlsx},
    {"json", 0, nullptr,
     "info|status|log|procurar|historico exportar|historico relatorio|historico "
     "alteracoes|alarmes",
     "(info, status, log, procurar) um objeto JSON por linha e por endereço; números com ponto, "
     "temperaturas na unidade do controlador, estados em palavras",
     setJson},
    {"max", 0, "N", "log|limites definir",
     "(log) no máximo N eventos (padrão 20); (limites definir) o limite máximo do sensor, em "
     "graus",
     setMaxOrLimit},
    {"verificar", 0, nullptr, "config gravar",
     "(config gravar) relê o que foi gravado e compara com o arquivo", setVerify},
    {"velocidades", 0, nullptr, "procurar",
     "(procurar) procura em cada velocidade, do código 1 ao 7, em vez de só na de -b",
     setAllSpeeds},
    {"estatísticas", 0, nullptr, "",
     "no fim, um resumo da linha na saída de erros, como o do ping: trocas, falhas por tipo, "
     "ida e volta mínima, mediana, 95º percentil e máxima; com --json, os mesmos números numa "
     "última linha",
     setStats},
    {"broker", 0, "URL", "publicar",
     "(publicar) mqtt://HOST[:PORTA] (padrão 1883) ou mqtts://HOST[:PORTA] (padrão 8883, "
     "certificado do broker conferido)",
     setText<&tCliArgs::broker>},
    {"tópico", 0, "PREFIXO", "publicar",
     "(publicar) tópicos em PREFIXO/PORTA/ENDEREÇO/estado e .../disponivel (padrão "
     "tarvik/<nome do computador>)",
     setText<&tCliArgs::topic>},
    {"usuário", 0, "U", "publicar", "(publicar) usuário no broker", setText<&tCliArgs::user>},
    {"senha-arquivo", 0, "ARQ", "publicar",
     "(publicar) a senha do usuário é a primeira linha de ARQ; nunca na linha de comando",
     setText<&tCliArgs::passwordFile>},
    {"ca", 0, "ARQ", "publicar",
     "(publicar) confere o certificado do broker com a autoridade de ARQ, não com as do "
     "sistema",
     setText<&tCliArgs::caFile>},
    {"homeassistant", 0, nullptr, "publicar",
     "(publicar) anuncia cada sensor e relé como uma entidade, em homeassistant/ ou no "
     "prefixo de --prefixo-descoberta",
     setSwitch<&tCliArgs::homeAssistant>},
    {"prefixo-descoberta", 0, "PREFIXO", "publicar",
     "(publicar) com --homeassistant, anuncia as entidades em PREFIXO/ (padrão homeassistant)",
     setText<&tCliArgs::discoveryPrefix>},
    {"inseguro", 0, nullptr, "publicar",
     "(publicar) deixa a senha ir sem criptografia por mqtt://, numa rede de confiança",
     setSwitch<&tCliArgs::insecure>},
    {"sem-histórico", 0, nullptr, "publicar",
     "(publicar) sem o broker, as leituras esperam na memória (até 3600 por controlador, "
     "perdidas se o programa parar), não no histórico",
     setSwitch<&tCliArgs::noHistory>},
    {"min", 0, "V", "limites definir",
     "(limites definir) o limite mínimo do sensor, em graus na unidade do controlador (vírgula "
     "ou ponto decimal)",
     setDegrees<&tCliArgs::alarmLow, optMin, true>},
    {"atraso", 0, "MIN", "limites definir",
     "(limites definir) minutos fora dos limites antes de o alarme abrir (padrão 0); com "
     "SENSOR resposta, minutos sem resposta do controlador (padrão 5)",
     setDelay},
    {"histerese", 0, "V", "limites definir",
     "(limites definir) o alarme só fecha quando o valor volta V graus para dentro dos limites "
     "(padrão 0,5)",
     setDegrees<&tCliArgs::hysteresis, optHysteresis, false>},
    {"comentario", 0, "TEXTO", "alarmes reconhecer",
     "(alarmes reconhecer) o que foi visto ou feito; guardado com o usuário e a hora",
     setText<&tCliArgs::comment>},
    {"ao-alarmar", 0, "COMANDO", "registrar|publicar",
     "(registrar, publicar) roda COMANDO (pelo sh) a cada alarme aberto ou encerrado, com o "
     "alarme nas variáveis TARVIK_ALARME_*; sua falha é avisada e não para o registro",
     setText<&tCliArgs::onAlarm>},
    {"help", 'h', nullptr, "", "mostra esta ajuda (também: tarvik-cli ajuda)", setHelp, "ajuda"},
    {"version", 0, nullptr, "", "mostra a versão", setVersion, "versão"},
};

// The README's examples, the same in the help and the manual page.
constexpr const char *examples[] = {
    "tarvik-cli portas",
    "tarvik-cli -p /dev/ttyUSB0 info",
    "tarvik-cli -a 201,202,203 config salvar bkp-%a.cfg",
    "tarvik-cli config comparar bkp-201.cfg",
    "tarvik-cli config gravar bkp-201.cfg --verificar",
    "tarvik-cli status --intervalo 60 --csv >> camara.csv",
    "tarvik-cli log --max 50 --json",
    "tarvik-cli -a 201,202 relógio acertar",
    "tarvik-cli -p /dev/ttyUSB0 procurar --velocidades",
    "tarvik-cli -a 201,202 registrar --intervalo 30 --retencao 365",
    "tarvik-cli historico exportar --de 2026-12-01 --csv > dezembro.csv",
    "tarvik-cli -a 201 historico relatorio --pdf camara-201.pdf",
    "tarvik-cli historico alteracoes --json",
    "tarvik-cli -a 201 historico verificar --de 2026-12-01 --ate 2026-12-31",
    "tarvik-cli -a 201 limites definir 1 --max 8,0 --atraso 10",
    "tarvik-cli alarmes --de 2026-12-01 --csv > alarmes.csv",
    "tarvik-cli alarmes reconhecer 12 --comentario \"porta da câmara aberta\"",
    "tarvik-cli -p /dev/ttyUSB0 -a 201 verificar",
};

const tOptionRow *optionNamed(const QString &name) {
    const QString plain = Unaccented(name);
    for (const tOptionRow &row : optionRows)
        if (plain == Unaccented(QString::fromUtf8(row.name)) ||
            (row.alias && plain == Unaccented(QString::fromUtf8(row.alias))))
            return &row;
    return nullptr;
}

// The option a misspelt name most likely meant, as "--name"; empty for none.
QString nearestOption(const QString &name) {
    QStringList names;
    for (const tOptionRow &row : optionRows)
        names << QString::fromUtf8(row.name);
    const QString found = NearestWord(name, names);
    return found.isEmpty() ? found : QStringLiteral("--") + found;
}

const tOptionRow *optionLettered(QChar letter) {
    for (const tOptionRow &row : optionRows)
        if (row.letter && letter == QLatin1Char(row.letter))
            return &row;
    return nullptr;
}

QString shown(const tOptionRow &row) {
    return QStringLiteral("--") + QString::fromUtf8(row.name);
}

bool belongs(const tOptionRow &row, const QString &command) {
    const QString commands = QString::fromUtf8(row.commands);
    return commands.isEmpty() || commands.split(u'|').contains(command);
}

// The command the words name: the row whose name they start with, or the
// one a family's first word alone names.
bool commandOf(QStringList words, tCliArgs &out, QString &error) {
    if (words.isEmpty()) {
        error = QStringLiteral("falta o comando");
        return false;
    }
    const tCliCommand *found = nullptr;
    qsizetype used = 0;
    bool family = false; // the first word starts names of several words
    QStringList plain;
    for (const QString &word : words)
        plain << Unaccented(word);
    for (const tCliCommand &row : CliCommands()) {
        const QStringList name = Unaccented(QString::fromUtf8(row.name)).split(u' ');
        family = family || (name.size() > 1 && name[0] == plain[0]);
        if (plain.mid(0, name.size()) == name && name.size() > used) {
            found = &row;
            used = name.size();
        } else if (!found && row.byFirstWord && plain == QStringList{name[0]}) {
            found = &row;
            used = 1;
        }
    }
    if (!found) {
        error = (family && words.size() > 1
                     ? QStringLiteral("comando desconhecido: %1 %2").arg(words[0], words[1])
                     : QStringLiteral("comando desconhecido: %1").arg(words[0])) +
                DidYouMean(NearestCommand(words));
        return false;
    }
    out.command = QString::fromUtf8(found->name);
    words = words.mid(used);
    if (found->operand) {
        if (words.isEmpty()) {
            error = QStringLiteral("falta %1: %2")
                        .arg(QString::fromUtf8(found->operand), QString::fromUtf8(found->synopsis));
            return false;
        }
        out.file = words.takeFirst();
    }
    if (!words.isEmpty()) {
        error = QStringLiteral("argumento a mais: %1").arg(words[0]);
        return false;
    }
    return true;
}

} // namespace

int WorseExit(int a, int b) {
    for (int s : {exitUSAGE, exitDEVICE, exitDIFFERENT})
        if (a == s || b == s)
            return s;
    return exitOK;
}

bool ParseArgs(const QStringList &args, tCliArgs &out, QString &error) {
    QStringList words;
    QList<const tOptionRow *> given;
    bool wordsOnly = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (wordsOnly || arg.size() < 2 || !arg.startsWith(u'-')) {
            words << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            wordsOnly = true;
            continue;
        }
        const tOptionRow *row = nullptr;
        std::optional<QString> attached;
        if (arg.startsWith(QLatin1String("--"))) {
            const qsizetype eq = arg.indexOf(u'=');
            row = optionNamed(arg.mid(2, eq < 0 ? -1 : eq - 2));
            if (eq >= 0)
                attached = arg.mid(eq + 1);
        } else {
            row = optionLettered(arg[1]);
            if (arg.size() > 2)
                attached = arg.mid(2);
        }
        if (!row) {
            error = QStringLiteral("opção desconhecida: %1").arg(arg);
            if (arg.startsWith(QLatin1String("--")))
                error += DidYouMean(nearestOption(arg.mid(2).section(u'=', 0, 0)));
            return false;
        }
        QString value;
        if (row->value && attached) {
            value = *attached;
        } else if (row->value) {
            if (i + 1 >= args.size()) {
                error = QStringLiteral("falta o valor de %1").arg(shown(*row));
                return false;
            }
            value = args[++i];
        } else if (attached) {
            error = QStringLiteral("%1 não leva valor").arg(shown(*row));
            return false;
        }
        if (!row->apply(out, value, error))
            return false;
        given << row;
    }
    // "tarvik-cli ajuda" as well as --ajuda and --help.
    if (!words.isEmpty() && Unaccented(words[0]).toLower() == QLatin1String("ajuda"))
        out.help = true;
    if (out.help || out.version)
        return true;
    if (!commandOf(words, out, error))
        return false;
    for (const tOptionRow *row : given)
        if (!belongs(*row, out.command)) {
            error = QStringLiteral("%1 não vale para o comando %2").arg(shown(*row), out.command);
            return false;
        }
    if (!out.maxText.isEmpty() && out.command == QLatin1String("log") &&
        !whole(out.maxText, 1, 32767, out.max))
        return outOfRange(error, "--max", out.maxText, "de 1 a 32767");
    const tCliCommand *command = CliCommandNamed(out.command);
    return !command->check || command->check(out, error);
}

QString UsageLine() {
    return QStringLiteral("uso: tarvik-cli [opções] COMANDO [ARQUIVO]; tarvik-cli --help para "
                          "a ajuda");
}

// Prose in lines of at most 79 characters; paragraphs split at blank lines.
QString paragraphs(const QString &text) {
    QString out;
    for (const QString &para : text.split(QStringLiteral("\n\n"))) {
        QString line;
        for (const QString &word : para.split(u' ', Qt::SkipEmptyParts)) {
            if (!line.isEmpty() && line.size() + 1 + word.size() > 79) {
                out += line + u'\n';
                line.clear();
            }
            line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
        }
        out += line + QStringLiteral("\n\n");
    }
    return out;
}

// The options' help with the connection settings' bounds filled in.
QString withBounds(QString text) {
    QStringList rates;
    for (int32_t rate : baudRates)
        rates << QString::number(rate);
    const QString speeds = QStringLiteral("%1 a %2 (%3 bit/s)")
                               .arg(minBAUD_CODE)
                               .arg(maxBAUD_CODE)
                               .arg(rates.join(QStringLiteral(", ")));
    return text.replace(QStringLiteral("{velocidades}"), speeds)
        .replace(QStringLiteral("{velocidade}"), QString::number(defBAUD_CODE))
        .replace(QStringLiteral("{timeout}"), QStringLiteral("de %1 a %2 vezes %3 ms")
                                                  .arg(minTIMEOUT)
                                                  .arg(maxTIMEOUT)
                                                  .arg(timeoutUnitMs))
        .replace(QStringLiteral("{timeout padrão}"), QString::number(defTIMEOUT))
        .replace(QStringLiteral("{endereços}"),
                 QStringLiteral("%1 a %2").arg(minSLAVE_ADDRESS).arg(maxSLAVE_ADDRESS))
        .replace(QStringLiteral("{endereço}"), QString::number(defADDRESS));
}

QString HelpText() {
    QString help = QStringLiteral("Uso: tarvik-cli [opções] COMANDO [ARQUIVO]\n\n");
    help += paragraphs(QStringLiteral(
        "O controlador de temperatura Ondrel pelo terminal e por scripts, pela porta serial "
        "(Modbus RTU). Resultados na saída padrão; mensagens e erros, com o endereço e o código "
        "de erro, na saída de erros."));
    help += QStringLiteral("Comandos:\n");
    for (const tCliCommand &row : CliCommands())
        help += beside(QString::fromUtf8(row.synopsis), QString::fromUtf8(row.about));
    help += QStringLiteral("\nOpções:\n");
    for (const tOptionRow &row : optionRows) {
        QString names = row.letter ? QStringLiteral("-%1, ").arg(QLatin1Char(row.letter))
                                   : QStringLiteral("    ");
        names += shown(row);
        if (row.alias)
            names += QStringLiteral(", --") + QString::fromUtf8(row.alias);
        if (row.value)
            names += u' ' + QString::fromUtf8(row.value);
        help += beside(names, withBounds(QString::fromUtf8(row.help)));
    }
    help += u'\n';
    help += paragraphs(QStringLiteral(
        "Vários endereços (-a 201,202,203) rodam o comando para cada um, em ordem, na mesma "
        "porta, como controladores num barramento RS-485; cada resultado começa pelo endereço. "
        "Com vários endereços, o ARQUIVO de \"config salvar\" leva %a, trocado pelo endereço "
        "(backup-%a.cfg); em \"config gravar\" e \"config comparar\" o %a é opcional: sem ele, "
        "o mesmo arquivo vale para todos.\n\n"
        "Com --intervalo, Ctrl+C termina depois da leitura em curso, com a última linha inteira. "
        "Se a porta sumir (adaptador desconectado), isso é avisado uma vez e a porta é reaberta "
        "a cada 3 segundos até voltar; o que já foi escrito fica como está. Com --csv, o "
        "cabeçalho só é escrito quando a saída não é um arquivo que já tem dados (tarvik-cli "
        "status --csv >> temperaturas.csv, de minuto em minuto). Num terminal ou pipe o CSV sai "
        "sem BOM e com fim de linha LF; num arquivo vazio, com BOM e CR LF, como as planilhas "
        "esperam. Campos com vírgula, ';', tabulação, aspas ou quebra de linha vão entre aspas; "
        "a última coluna, \"Data e hora\", é ISO 8601.\n\n"
        "Toda escrita na saída padrão é conferida: se falhar (disco cheio, saída fechada), o "
        "comando para com a mensagem do sistema e o código 2, e um arquivo termina sempre numa "
        "linha inteira.\n\n"
        "Os textos e números seguem o português do Brasil (vírgula decimal, dd/mm/aaaa); o JSON "
        "usa ponto decimal e datas ISO 8601. Comandos e opções valem com ou sem acento "
        "(relógio, relogio; --endereço, --endereco). \"relógio ler\" dá a diferença como "
        "relógio do controlador menos relógio do computador, em segundos."));
    help += QStringLiteral(
        "Códigos de saída:\n"
        "  0  tudo certo\n"
        "  1  um controlador respondeu com falha ou não respondeu, ou a porta não abriu\n"
        "  2  uso incorreto: comando ou opção desconhecidos, valor fora da faixa\n"
        "     (endereço fora de 1..247), arquivo que não pode ser lido ou escrito,\n"
        "     de tamanho errado ou de outro modelo; saída padrão que não pôde ser escrita\n"
        "  3  a configuração difere (config comparar; config gravar --verificar)\n");
    help += paragraphs(QStringLiteral(
        "Com vários endereços vale o pior: 2, depois 1, depois 3; com status --intervalo, o pior "
        "do período todo (uma leitura perdida dá 1). registrar e publicar parados com Ctrl+C ou "
        "SIGTERM terminam com 0 e contam na saída de erros as leituras perdidas."));
    help += QStringLiteral("Exemplos:\n");
    for (const char *example : examples)
        help += QStringLiteral("  ") + QString::fromUtf8(example) + u'\n';
    return help;
}

int SpeedRate(int code) {
    return code >= minBAUD_CODE && code <= maxBAUD_CODE ? BaudRateOf(code) : 0;
}

QString Unaccented(const QString &word) {
    QString out;
    for (QChar c : word.normalized(QString::NormalizationForm_D))
        if (c.category() != QChar::Mark_NonSpacing)
            out += c;
    return out;
}

QString DefaultPort() {
    const QStringList ports =
        qEnvironmentVariable("TARVIK_PORTS")
            .split(QRegularExpression(QStringLiteral("[:;]")), Qt::SkipEmptyParts);
    return ports.isEmpty() ? QString() : ports.first();
}
