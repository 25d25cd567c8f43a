#include "connection_page.h"

#include "activity_indicator.h"
#include "bus_scan_panel.h"
#include "link_health_box.h"
#include "link_settings.h"
#include "port_name.h"
#include "settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

namespace {
const QString ModelBannerIdle = QStringLiteral("Modelo do Ondrel");
// Network addresses remembered in the port list.
constexpr qsizetype recentKept = 5;

QSpinBox *SpinBox(const QString &name, int lo, int hi) {
    auto *box = new QSpinBox;
    box->setObjectName(name);
    box->setRange(lo, hi);
    return box;
}

QGroupBox *Group(const QString &title, QLayout *layout) {
    auto *group = new QGroupBox(title);
    group->setLayout(layout);
    return group;
}
} // namespace

TConnectionPage::TConnectionPage(ScreenHost &host_, QWidget *parent)
    : TPage(host_, QStringLiteral("pnlConnection"), QStringLiteral("Conexão"), parent),
      cbxPort(new QComboBox),
      btnUpDatePorts(Button(QStringLiteral("btnUpDatePorts"), QStringLiteral("Atualizar"))),
      edtID(SpinBox(QStringLiteral("edtID"), minADDRESS, maxADDRESS)),
      spiBaud(SpinBox(QStringLiteral("spiBaud"), minBAUD_CODE, maxBAUD_CODE)),
      spiTimeout(SpinBox(QStringLiteral("spiTimeout"), minTIMEOUT, maxTIMEOUT)),
      cbxFastRead(new QCheckBox(QStringLiteral("Leitura rápida (fim da resposta pelo tamanho)"))),
      btnCnt(Button(QStringLiteral("btnCnt"), QStringLiteral("Conectar"))),
      LayoutIndConnect(new QWidget),
      btnLoadConfig(Button(QStringLiteral("btnLoadConfig"), QStringLiteral("Ler Configurações"))),
      btnSaveConfig(
          Button(QStringLiteral("btnSaveConfig"), QStringLiteral("Salvar Configurações"))),
      btnApplyConfig(Button(QStringLiteral("btnApplyConfig"), QStringLiteral("Gravar no Ondrel"))),
      memoLog(new QPlainTextEdit),
      btnClear(Button(QStringLiteral("btnClear"), QStringLiteral("Limpar"))),
      btnScan(Button(QStringLiteral("btnScan"), QStringLiteral("Procurar"))),
      BusScan(new TBusScanPanel), LinkHealth(new TLinkHealthBox), tabLink(new QTabWidget),
      portPoll(new QTimer(this)), healthPoll(new QTimer(this)) {
    healthPoll->setObjectName(QStringLiteral("timerLinkHealth"));
    healthPoll->setInterval(500);
    connect(healthPoll, &QTimer::timeout, this, &TConnectionPage::ShowLinkHealth);
    btnScan->setAccessibleName(QStringLiteral("Procurar controladores na linha"));
    btnScan->setToolTip(QStringLiteral(
        "Pergunta a identificação a cada endereço, de 1 a 247, e lista quem responde. Só lê, "
        "nunca grava."));
    portPoll->setObjectName(QStringLiteral("timerPorts"));
    portPoll->setInterval(3000);
    connect(portPoll, &QTimer::timeout, this, &TConnectionPage::RefreshPorts);
    cbxPort->setObjectName(QStringLiteral("cbxPort"));
    cbxPort->setMinimumWidth(150);
    // A port from the list, or a network address typed in.
    cbxPort->setEditable(true);
    cbxPort->setInsertPolicy(QComboBox::NoInsert);
    cbxPort->lineEdit()->setAccessibleName(QStringLiteral("Porta COM ou endereço de rede"));
    cbxPort->setToolTip(QStringLiteral(
        "Uma porta serial da lista, ou um endereço de rede digitado:\ntcp://HOST[:PORTA] para "
        "Modbus TCP (porta 502 se omitida), rtu+tcp://HOST:PORTA para um gateway RTU "
        "transparente.\nOs últimos endereços usados ficam na lista."));
    // A number box: typed, not stepped.
    edtID->setButtonSymbols(QAbstractSpinBox::NoButtons);
    edtID->setToolTip(QStringLiteral("Endereço Modbus do Ondrel"));
    spiBaud->setToolTip(SpeedCodesText());
    spiTimeout->setToolTip(
        QStringLiteral("Tempo de resposta em unidades de %1 ms").arg(timeoutUnitMs));
    cbxFastRead->setObjectName(QStringLiteral("cbxFastRead"));
    cbxFastRead->setToolTip(QStringLiteral(
        "Termina cada resposta assim que chegam os bytes esperados com o CRC certo, sem esperar "
        "50 ms de silêncio na linha: leituras até 4 vezes mais rápidas.\nUm controlador que "
        "responde com bytes a mais deve ser lido com esta opção desligada."));

    auto *portRow = new QHBoxLayout;
    portRow->addWidget(cbxPort, 1);
    portRow->addWidget(btnUpDatePorts);
    // The small boxes two to a row, so the column fits the page's height.
    auto *form = new QGridLayout;
    // Each box is said by its own label, not by the group's title.
    auto label = [](const QString &text, QWidget *box) {
        auto *l = new QLabel(text);
        l->setBuddy(box);
        return l;
    };
    form->addWidget(label(QStringLiteral("Porta COM"), cbxPort), 0, 0);
    form->addLayout(portRow, 0, 1, 1, 3);
    form->addWidget(label(QStringLiteral("ID"), edtID), 1, 0);
    auto *idRow = new QHBoxLayout;
    idRow->addWidget(edtID, 1);
    idRow->addWidget(btnScan);
    form->addLayout(idRow, 1, 1);
    form->addWidget(label(QStringLiteral("Velocidade"), spiBaud), 1, 2);
    form->addWidget(spiBaud, 1, 3);
    form->addWidget(label(QStringLiteral("Timeout"), spiTimeout), 2, 0);
    form->addWidget(spiTimeout, 2, 1);
    form->addWidget(cbxFastRead, 3, 0, 1, 4);
    form->setColumnStretch(1, 1);
    form->setColumnStretch(3, 1);

    LayoutIndConnect->setObjectName(QStringLiteral("LayoutIndConnect"));
    auto *indicatorRow = new QHBoxLayout(LayoutIndConnect);
    indicatorRow->setContentsMargins(0, 0, 0, 0);
    auto *indicator = new TActivityIndicator;
    indicator->setObjectName(QStringLiteral("indConnect"));
    indicator->setFixedSize(28, 28);
    indicatorRow->addWidget(indicator);
    indicatorRow->addWidget(new QLabel(QStringLiteral("Conectando ...")), 1);
    LayoutIndConnect->hide();

    btnCnt->setMinimumHeight(34);
    auto *settings = new QVBoxLayout;
    settings->addLayout(form);
    // The indicator sits beside the button, in a slot that keeps its width
    // whether it shows or not, so the column fits the page's height.
    auto *indicatorSlot = new QWidget;
    indicatorSlot->setFixedWidth(130);
    auto *slotLayout = new QHBoxLayout(indicatorSlot);
    slotLayout->setContentsMargins(0, 0, 0, 0);
    slotLayout->addWidget(LayoutIndConnect);
    auto *connectRow = new QHBoxLayout;
    connectRow->addWidget(btnCnt, 1);
    connectRow->addWidget(indicatorSlot);
    settings->addLayout(connectRow);

    auto *configButtons = new QGridLayout;
    configButtons->addWidget(btnLoadConfig, 0, 0);
    configButtons->addWidget(btnSaveConfig, 0, 1);
    configButtons->addWidget(btnApplyConfig, 1, 0, 1, 2);
    btnApplyConfig->setToolTip(QStringLiteral(
        "Grava no Ondrel a configuração lida do arquivo (sistema, operações e relés) e confere "
        "cada bloco lendo-o de volta. O relógio não faz parte do arquivo."));
    auto *left = new QVBoxLayout;
    left->addWidget(Group(QStringLiteral("Comunicação"), settings));
    left->addStretch(1);
    left->addWidget(Group(QStringLiteral("Arquivo  de Configurações"), configButtons));

    memoLog->setObjectName(QStringLiteral("memoLog"));
    memoLog->setReadOnly(true);
    memoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    memoLog->viewport()->installEventFilter(this);
    // "Limpar" beside the memo, at its foot: the lines keep the height.
    auto *memoBox = new QGridLayout;
    memoBox->addWidget(memoLog, 0, 0, 2, 1);
    memoBox->addWidget(btnClear, 1, 1, Qt::AlignBottom);
    memoBox->setRowStretch(0, 1);
    memoBox->setColumnStretch(0, 1);

    // The line's figures and the scan share one place above the memo: the
    // page is too short for both beside a memo that still reads. A scan
    // brings its list forward, a session its figures.
    tabLink->setObjectName(QStringLiteral("tabLink"));
    tabLink->addTab(LinkHealth, QStringLiteral("Saúde da comunicação"));
    tabLink->addTab(BusScan, QStringLiteral("Procurar controladores"));
    tabLink->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto *right = new QVBoxLayout;
    right->addWidget(tabLink);
    right->addWidget(Group(QStringLiteral("LOG de Eventos"), memoBox), 1);
    auto *columns = new QHBoxLayout;
    columns->addLayout(left, 0);
    columns->addLayout(right, 1);
    Body()->addLayout(columns, 1);

    connect(btnUpDatePorts, &QPushButton::clicked, this, &TConnectionPage::btnUpDatePortsClick);
    connect(spiBaud, &QSpinBox::valueChanged, this, &TConnectionPage::spiBaudChange);
    connect(spiTimeout, &QSpinBox::valueChanged, this, &TConnectionPage::spiTimeoutChange);
    // Takes effect from the next exchange, also during a session.
    connect(cbxFastRead, &QCheckBox::toggled, this,
            [this](bool on) { host.Ondrel().SetFastRead(on); });
    connect(btnCnt, &QPushButton::clicked, this, &TConnectionPage::btnCntClick);
    connect(btnClear, &QPushButton::clicked, this, &TConnectionPage::btnClearClick);
    connect(btnLoadConfig, &QPushButton::clicked, this, &TConnectionPage::btnLoadConfigClick);
    tSession &session = host.Session();
    connect(&session, &tSession::connectionChanged, this, &TConnectionPage::ConnectionChanged);
    connect(&session, &tSession::portLost, this, &TConnectionPage::RefreshPorts);
    connect(btnSaveConfig, &QPushButton::clicked, this, &TConnectionPage::btnSaveConfigClick);
    BindKey(tPageKey::SaveConfig, btnSaveConfig);
    BindKey(tPageKey::LoadConfig, btnLoadConfig);
    connect(btnApplyConfig, &QPushButton::clicked, this, &TConnectionPage::btnApplyConfigClick);
    connect(btnScan, &QPushButton::clicked, this, &TConnectionPage::btnScanClick);
    connect(BusScan, &TBusScanPanel::runningChanged, this, [this] { FollowState(host.Ondrel()); });
    connect(BusScan, &TBusScanPanel::chosen, this, [this](int id, int speed) {
        edtID->setValue(id);
        spiBaud->setValue(speed);
    });
    connect(LinkHealth, &TLinkHealthBox::resetRequested, this, [this] {
        host.Ondrel().ResetLinkStats();
        ShowLinkHealth();
    });
}

void TConnectionPage::ShowLinkHealth() {
    const tLinkStats &stats = host.Ondrel().LinkStats();
    LinkHealth->Show(stats);
    Q_EMIT linkSummaryChanged(QStringLiteral("Saúde da comunicação: ") + stats.Summary());
}

void TConnectionPage::btnScanClick() {
    const QString port = PortChosen();
    if (BusScan->Running() || host.Ondrel().Connected() || port.isEmpty())
        return;
    const tTask<int32_t> scanning = Scan(port);
}

tTask<int32_t> TConnectionPage::Scan(QString port) {
    tabLink->setCurrentWidget(BusScan);
    host.Report(clOK, QStringLiteral("Procurando controladores na porta %1").arg(port));
    host.Ondrel().ResetLinkStats();
    btnCnt->setEnabled(false);
    tTask<int32_t> scanning = BusScan->Run(host.Session(), port, spiBaud->value());
    const int32_t found = co_await scanning;
    btnCnt->setEnabled(true);
    ShowLinkHealth();
    if (found < 0)
        host.Report(clERROR, host.Ondrel().PortErrorText());
    else
        host.Report(
            found > 0 ? clOK : clERROR,
            QStringLiteral("Procura terminada: %1 controlador(es) encontrado(s)").arg(found));
    co_return found;
}

bool TConnectionPage::eventFilter(QObject *watched, QEvent *event) {
    if (watched == memoLog->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        btnClearClick();
        return true;
    }
    return TPage::eventFilter(watched, event);
}

void TConnectionPage::LoadSettings(const tSettings &s) {
    tOndrel &dev = host.Ondrel();
    recent = s.RecentPorts.split(u' ', Qt::SkipEmptyParts).mid(0, recentKept);
    btnUpDatePortsClick();
    if (s.Port >= 0 && s.Port < cbxPort->count())
        cbxPort->setCurrentIndex(s.Port);
    dev.SetBaudRate(s.BaudRate);
    dev.SetTimeout(s.Timeout);
    spiBaud->setValue(dev.BaudRate());
    edtID->setValue(s.Address);
    spiTimeout->setValue(dev.Timeout());
    cbxFastRead->setChecked(s.FastRead);
    dev.SetFastRead(s.FastRead);
    if (!s.StartPort.isEmpty() && !SelectPort(s.StartPort))
        host.Report(clERROR, QStringLiteral("Porta %1 não encontrada").arg(s.StartPort));
}

void TConnectionPage::StoreSettings(tSettings &s) const {
    const tOndrel &dev = host.Ondrel();
    s.Port = int32_t(cbxPort->findText(PortChosen()));
    s.RecentPorts = recent.join(u' ');
    s.BaudRate = dev.BaudRate();
    s.Address = edtID->value();
    s.Timeout = dev.Timeout();
    s.FastRead = cbxFastRead->isChecked();
}

void TConnectionPage::FollowState(const tOndrel &dev) {
    const bool on = dev.Connected();
    const bool scanning = BusScan->Running();
    btnScan->setEnabled(!on && !scanning);
    LinkHealth->btnLinkReset->setEnabled(on);
    if (on && !healthPoll->isActive())
        healthPoll->start();
    else if (!on)
        healthPoll->stop();
    btnLoadConfig->setEnabled(on);
    btnSaveConfig->setEnabled(on);
    btnApplyConfig->setEnabled(on && host.Session().LoadedConfig());
    for (QWidget *w :
         std::initializer_list<QWidget *>{cbxPort, edtID, spiBaud, spiTimeout, btnUpDatePorts})
        w->setEnabled(!on && !scanning);
    if (on || scanning)
        portPoll->stop();
    else if (!portPoll->isActive())
        portPoll->start();
}

void TConnectionPage::AppendLog(const QString &text) {
    memoLog->appendPlainText(text);
    QScrollBar *bar = memoLog->verticalScrollBar();
    bar->setValue(bar->maximum());
}

QString TConnectionPage::PortChosen() const {
    return cbxPort->currentText().trimmed();
}

// The system's ports, then the network addresses used last that are not
// among them.
QStringList TConnectionPage::Listed(const QStringList &names) const {
    QStringList all = names;
    for (const QString &r : recent)
        if (!all.contains(r))
            all << r;
    return all;
}

void TConnectionPage::FillPorts(const QStringList &names, const QStringList &descriptions) {
    cbxPort->clear();
    cbxPort->addItems(Listed(names));
    // The entry's text stays the name it is opened by; what the system knows
    // of the adapter behind it is offered as the entry's tooltip.
    for (int at = 0; at < descriptions.size(); ++at)
        if (!descriptions[at].isEmpty())
            cbxPort->setItemData(at, descriptions[at], Qt::ToolTipRole);
    for (int at = int(names.size()); at < cbxPort->count(); ++at)
        cbxPort->setItemData(at, QStringLiteral("Endereço de rede usado há pouco"),
                             Qt::ToolTipRole);
}

void TConnectionPage::Remember(const QString &port) {
    if (!ParsePortName(port).network())
        return;
    recent.removeAll(port);
    recent.prepend(port);
    recent = recent.mid(0, recentKept);
    QStringList names, descriptions;
    host.Ondrel().GetPorts(names, &descriptions);
    FillPorts(names, descriptions);
    cbxPort->setCurrentIndex(int(cbxPort->findText(port)));
}

void TConnectionPage::btnUpDatePortsClick() {
    QStringList names, descriptions;
    const int32_t n = host.Ondrel().GetPorts(names, &descriptions);
    FillPorts(names, descriptions);
    cbxPort->setCurrentIndex(cbxPort->count() > 0 ? 0 : -1);
    if (n <= 0) {
        host.Report(clERROR, QStringLiteral("Nenhuma porta COM foi encontrada"));
        return;
    }
    host.Report(clOK, QStringLiteral("Portas COMs encontradas:"));
    for (const QString &name : names)
        host.Report(clOK, QStringLiteral("    %1").arg(name));
    host.Report(clOK, QStringLiteral("Encontrado %1 portas COMs").arg(n));
}

void TConnectionPage::RefreshPorts() {
    QStringList names, descriptions;
    host.Ondrel().GetPorts(names, &descriptions);
    QStringList shown;
    for (int i = 0; i < cbxPort->count(); ++i)
        shown << cbxPort->itemText(i);
    if (Listed(names) == shown)
        return;
    const QString selected = PortChosen();
    FillPorts(names, descriptions);
    const int at = int(cbxPort->findText(selected));
    // An address being typed stays as typed.
    if (at < 0 && ParsePortName(selected).network())
        cbxPort->setEditText(selected);
    else
        cbxPort->setCurrentIndex(cbxPort->count() == 0 ? -1 : qMax(0, at));
    host.Report(
        clOK,
        names.isEmpty()
            ? QStringLiteral("Nenhuma porta COM foi encontrada")
            : QStringLiteral("Portas COMs atualizadas: %1").arg(names.join(QStringLiteral(", "))));
}

bool TConnectionPage::SelectPort(const QString &name) {
    const int at = cbxPort->findText(name);
    if (at >= 0)
        cbxPort->setCurrentIndex(at);
    else if (ParsePortName(name).network())
        cbxPort->setEditText(name);
    return at >= 0 || ParsePortName(name).network();
}

void TConnectionPage::spiBaudChange() {
    host.Ondrel().SetBaudRate(spiBaud->value());
}

void TConnectionPage::spiTimeoutChange() {
    host.Ondrel().SetTimeout(spiTimeout->value());
}

void TConnectionPage::btnCntClick() {
    Q_EMIT bannerChanged(ModelBannerIdle);
    if (host.Ondrel().Connected()) {
        host.Session().End();
        return;
    }
    if (PortChosen().isEmpty()) {
        const QString none = QStringLiteral("Não há porta serial selecionada.");
        host.LogLine(QStringLiteral("  ") + none);
        host.Report(clOK, none);
        host.Warning(none + QStringLiteral("\rCheque se há porta serial disponível no seu PC, ou "
                                           "se o adaptador USB<>seri0l está conectado à porta "
                                           "USB."));
        return;
    }
    const tTask<int32_t> connecting = Connect();
}

void TConnectionPage::ConnectionChanged(bool connected) {
    if (connected) {
        tabLink->setCurrentWidget(LinkHealth);
        return;
    }
    LayoutIndConnect->hide();
    btnCnt->setText(QStringLiteral("Conectar"));
    Q_EMIT bannerChanged(ModelBannerIdle);
}

tTask<int32_t> TConnectionPage::Connect() {
    tOndrel &dev = host.Ondrel();
    btnCnt->setEnabled(false);
    const QString port = PortChosen();
    const int32_t id = edtID->value();
    LayoutIndConnect->show();
    const QString attempt = QStringLiteral("Conectando ao Ondrel id %1 porta %2").arg(id).arg(port);
    host.LogLine(QStringLiteral("ABRINDO CONEXÃO"));
    host.LogLine(QStringLiteral("  ") + attempt);
    host.Report(clOK, attempt);

    tTask<int32_t> opening = host.Session().Open(port, id);
    const int32_t result = co_await opening;
    ShowLinkHealth();
    if (result < 0) {
        // A port that would not open says why, ahead of the general advice.
        const QString why = dev.PortError() != tPortError::None ? dev.PortErrorText() : QString();
        const QString items =
            ParsePortName(port).network()
                ? QStringLiteral("1 - Se o Ondrel está ligado\r2 - Se o gateway está ligado e "
                                 "na rede\r3 - Se o ID é o endereço do Ondrel atrás do gateway\r"
                                 "4 - Se o Timeout basta para a rede")
                : QStringLiteral("1 - Se o Ondrel está ligado\r2 - Se há porta de comunicação "
                                 "COM\r3 - Se o cabo está conectado entre o computador ao "
                                 "Ondrel\r4 - Se a porta de comunicação esteja sendo usado por "
                                 "outro software");
        host.Warning((why.isEmpty() ? QString() : why + QStringLiteral("\r\r")) +
                     QStringLiteral("Não foi possível fazer conexão com o Ondrel, por favor "
                                    "cheque os seguintes itens:\r") +
                     items);
        btnCnt->setText(QStringLiteral("Conectar"));
        if (!why.isEmpty()) {
            host.Report(clERROR, why);
            host.LogLine(QStringLiteral("  ") + why);
        }
        const QString failed = QStringLiteral("Erro [%1] de conexão ao Ondrel").arg(dev.ErrorCom);
        host.Report(clERROR, failed);
        host.LogLine(QStringLiteral("  Não estabelecido a comunicação"));
        host.LogLine(QStringLiteral("  ") + failed);
    } else {
        host.Report(clERROR, QStringLiteral("Conectado ao dispositivo %1i firmware versão %2")
                                 .arg(dev.Model, dev.Fimware));
        host.LogLine(QStringLiteral("Conectado ao dispositivo %1 firmware versão %2")
                         .arg(dev.Model, dev.Fimware));
        Q_EMIT bannerChanged(
            QStringLiteral("Ondrel %1i - Firmware %2").arg(dev.Model, dev.Fimware));
        btnCnt->setText(QStringLiteral("Desconectar"));
        Remember(port);
    }
    LayoutIndConnect->hide();
    btnCnt->setEnabled(true);
    co_return result;
}

void TConnectionPage::btnClearClick() {
    memoLog->clear();
}
