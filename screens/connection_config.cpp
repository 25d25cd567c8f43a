// The connection page's configuration file group: loading a file into the
// pages, saving the controller's configuration, and writing a loaded one to
// the controller with a read-back of every block.
#include "config_sync.h"
#include "connection_page.h"

#include <QFileInfo>
#include <QPushButton>

namespace {
const QString fileFilter = QStringLiteral("Tarvik (*.cfg)");

// The pages that read on their first visit and would replace what a file
// has just put on them.
constexpr tMenu pagesOfTheFile[] = {tMenu::PAR,    tMenu::SetOP,  tMenu::Relay1,
                                    tMenu::Relay2, tMenu::Relay3, tMenu::Relay4};

// The sequence's steps shown in the message window, its commands through the
// window's wrapper.
tSyncIo SyncIo(ScreenHost &host) {
    return {.send = [&host](tCommand cmd) { return host.SendCommand(cmd); },
            .progress =
                [&host](const QString &step) { host.Msg(step + QStringLiteral(" no Ondrel...")); }};
}

// Where a difference line belongs: "Sistema: ..." to the system block,
// "Rele 2: Operação ..." to the operations, "Rele 2: SP ..." to relay 2.
bool DiffersIn(tCommand block, const QString &line) {
    const QString where = line.section(u':', 0, 0);
    const bool operation = line.section(u':', 1).trimmed().startsWith(QStringLiteral("Operação"));
    if (block == cmdSET_PAR_SYSTEM)
        return where == QStringLiteral("Sistema");
    if (block == cmdSET_PAR_opRELAYS)
        return operation;
    const int relay = (block - cmdSET_PAR_RELAY1) / 2 + 1;
    return !operation && where == QStringLiteral("Relé %1").arg(relay);
}
} // namespace

void TConnectionPage::btnLoadConfigClick() {
    const QString name = host.AskOpenFile(fileFilter, lastConfigFile);
    if (name.isEmpty())
        return;
    lastConfigFile = name;
    if (!QFileInfo::exists(name))
        return;
    tSession &session = host.Session();
    QString error;
    if (!session.LoadConfig(name, &error)) {
        host.Warning(error);
        return;
    }
    // What the file put on the pages stays there until the user reads or
    // writes; a first visit would silently bring the controller's values.
    for (tMenu menu : pagesOfTheFile)
        host.Visits().SetVisited(menu, true);
    FollowState(session.Ondrel());
}

bool TConnectionPage::ReadMissingBlocks() {
    tOndrel &dev = host.Ondrel();
    const tSyncResult read = ReadConfig(dev, SyncIo(host), true);
    host.HideMsg();
    if (read.result > 0)
        return true;
    host.ModbusError(read.result);
    host.Report(clERROR, QStringLiteral("Configuração não salva: falha ao ler %1")
                             .arg(ConfigBlockName(read.failed)));
    return false;
}

void TConnectionPage::btnSaveConfigClick() {
    tOndrel &dev = host.Ondrel();
    const QString proposed = QFileInfo::exists(lastConfigFile)
                                 ? lastConfigFile
                                 : dev.Model + QStringLiteral("-CLIENTE_DATA_HORA.cfg");
    const QString name = host.AskSaveFile(fileFilter, proposed);
    if (name.isEmpty())
        return;
    if (QFileInfo::exists(name) &&
        !host.AskYesNo(QStringLiteral("Há um arquivo com esse nome. Deseja reescrever?")))
        return;
    // A block never read in this connection would be saved as zeros, and
    // loading that file later would wipe a controller.
    if (!ReadMissingBlocks())
        return;
    QString error;
    if (!dev.SaveConfig(name, &error)) {
        host.Report(clERROR, QString(error).replace(u'\r', u' '));
        host.Warning(error);
    }
}

void TConnectionPage::btnApplyConfigClick() {
    if (!host.AskYesNo(QStringLiteral("Deseja gravar no Ondrel a configuração lida do arquivo?\r"
                                      "Os parâmetros de sistema, as operações e os parâmetros "
                                      "dos relés serão substituídos e conferidos.")))
        return;
    const tConfigValues *file = host.Session().LoadedConfig();
    if (!file)
        return;
    // The file as loaded, not the copy: reads and writes since the load
    // have changed the copy.
    const tConfigValues wanted = *file;
    host.Report(0, QStringLiteral("Gravando a configuração no Ondrel"));
    const tSyncResult r = WriteConfig(host.Ondrel(), wanted, true, SyncIo(host));
    host.HideMsg();
    if (r.result <= 0) {
        host.ModbusError(r.result);
        const QString step =
            IsConfigWrite(r.failed) ? QStringLiteral("gravar") : QStringLiteral("conferir");
        host.Report(clERROR, QStringLiteral("Falha ao %1 %2; gravados antes da falha: %3")
                                 .arg(step, ConfigBlockName(r.failed),
                                      r.written.isEmpty() ? QStringLiteral("nenhum")
                                                          : ConfigBlockNames(r.written)));
        return;
    }
    for (tCommand block : r.written) {
        QStringList differs;
        for (const QString &line : r.differences)
            if (DiffersIn(block, line))
                differs << line;
        if (differs.isEmpty())
            host.Report(0,
                        QStringLiteral("    Gravado e conferido: %1").arg(ConfigBlockName(block)));
        else
            for (const QString &line : differs)
                host.Report(clERROR, QStringLiteral("    Gravado, mas difere: %1").arg(line));
    }
    // The pages show what the controller kept: every block was read back
    // through the session, which had them refilled.
    host.Report(r.differences.isEmpty() ? 0 : clERROR,
                r.differences.isEmpty()
                    ? QStringLiteral("Configuração gravada e conferida")
                    : QStringLiteral("Configuração gravada; %1 campo(s) diferem do arquivo")
                          .arg(r.differences.size()));
}
