#include "op_relay_page.h"

#include "op_help_text.h"
#include "relay_operations.h"
#include "status_tag.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

struct TOpRelayPage::Impl {
    explicit Impl(ScreenHost &h) : host(h) {}

    ScreenHost &host;
    std::array<QComboBox *, 4> cbx{};
    QPushButton *btnRead = nullptr;
    QPushButton *btnWrite = nullptr;
    int idxOpMat = 4;
    std::array<int32_t, 4> opComp{-1, -1, -1, -1};
};

TOpRelayPage::TOpRelayPage(ScreenHost &host, QWidget *parent) : QWidget(parent), d(new Impl(host)) {
    setObjectName(QStringLiteral("pnlOpRelay"));
    auto *outer = new QVBoxLayout(this);
    outer->setSpacing(12);

    auto *title = new QLabel(QStringLiteral("Ajustar Operadores dos Reles"), this);
    QFont tf = title->font();
    tf.setPointSize(16);
    tf.setBold(true);
    title->setFont(tf);
    title->setAlignment(Qt::AlignCenter);
    outer->addWidget(title);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    for (int k = 0; k < 4; ++k) {
        auto *caption = new QLabel(QStringLiteral("Rele %1").arg(k + 1), this);
        QFont cf = caption->font();
        cf.setBold(true);
        caption->setFont(cf);
        auto *box = new QComboBox(this);
        box->setObjectName(QStringLiteral("cbxOpRelay%1").arg(k + 1));
        box->setMinimumWidth(170);
        SetTag(box, 0);
        d->cbx[k] = box;
        grid->addWidget(caption, 0, k);
        grid->addWidget(box, 1, k);
        connect(box, &QComboBox::currentIndexChanged, this, [this, k] { cbxOpRelayChange(k); });
    }
    outer->addLayout(grid);

    auto *buttons = new QHBoxLayout;
    d->btnRead = new QPushButton(QStringLiteral("Ler"), this);
    d->btnRead->setObjectName(QStringLiteral("btnOpRead"));
    d->btnWrite = new QPushButton(QStringLiteral("Gravar"), this);
    d->btnWrite->setObjectName(QStringLiteral("btnOpWrite"));
    buttons->addStretch(1);
    buttons->addWidget(d->btnRead);
    buttons->addWidget(d->btnWrite);
    outer->addLayout(buttons);
    connect(d->btnRead, &QPushButton::clicked, this, [this] { btnOpReadClick(); });
    connect(d->btnWrite, &QPushButton::clicked, this, [this] { btnOpWriteClick(); });

    auto *helpCaption =
        new QLabel(QStringLiteral("Descrição dos Modos de Operações dos Reles"), this);
    QFont hf = helpCaption->font();
    hf.setBold(true);
    helpCaption->setFont(hf);
    outer->addWidget(helpCaption);
    auto *memo = new QPlainTextEdit(this);
    memo->setObjectName(QStringLiteral("memoOpRelay"));
    memo->setReadOnly(true);
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo->setPlainText(OpHelpLines().join(QLatin1Char('\n')));
    outer->addWidget(memo, 1);
}

TOpRelayPage::~TOpRelayPage() {
    delete d;
}

int TOpRelayPage::idxOpMat() const {
    return d->idxOpMat;
}

const std::array<int32_t, 4> &TOpRelayPage::opComp() const {
    return d->opComp;
}

void TOpRelayPage::SetRelayCount(int nRelay) {
    for (int k = 1; k < 4; ++k)
        d->cbx[k]->setEnabled(nRelay > k);
}

void TOpRelayPage::SetParOpRelays() {
    for (QComboBox *box : d->cbx)
        SetTag(box, 1);
    const tOndrel &dev = d->host.Ondrel();
    d->idxOpMat = OpMatRow(dev.Model);
    QStringList names;
    for (int32_t code : OpMatCodes(d->idxOpMat))
        names.append(OpRelayName(code));
    for (int k = 0; k < 4; ++k) {
        d->cbx[k]->clear();
        d->cbx[k]->addItems(names);
        d->cbx[k]->setCurrentIndex(GetIdxOpMat(d->idxOpMat, dev.Relay[k].par[0]));
    }
    for (QComboBox *box : d->cbx)
        SetTag(box, 0);
}

void TOpRelayPage::btnOpReadClick() {
    const int32_t r =
        RunCommand(d->host, QStringLiteral("Lendo parâmetros de sistema"),
                   QStringLiteral("Lendo parâmetros de sistema no Ondrel..."), cmdGET_PAR_opRELAYS);
    if (r < 0)
        return;
    SetParOpRelays();
    d->host.Report(0, QStringLiteral("Leitura dos parâmetros feita com sucesso"));
}

void TOpRelayPage::btnOpWriteClick() {
    if (!d->host.AskYesNo(QStringLiteral("Deseja mesmo gravar os novos operadores no Ondrel?")))
        return;
    d->host.Report(0, QStringLiteral("Gravando os novos operadores dos reles"));
    d->host.Msg(QStringLiteral("Gravando os novos operadores dos reles no Ondrel..."));
    tOndrel &dev = d->host.Ondrel();
    for (int k = 0; k < 4; ++k) {
        // A box without a selection shows a code the model does not offer:
        // the relay keeps it, so saving never alters what was not touched.
        const int32_t code = OpMatCode(d->idxOpMat, d->cbx[k]->currentIndex());
        if (code >= 0)
            dev.Relay[k].par[0] = code;
    }
    const int32_t r = d->host.SendCommand(cmdSET_PAR_opRELAYS);
    d->host.HideMsg();
    if (r < 0) {
        d->host.ModbusError(r);
        return;
    }
    d->host.Report(0, QStringLiteral("Gravação feita com sucesso"));
}

void TOpRelayPage::cbxOpRelayChange(int k) {
    if (Tag(d->cbx[k]) > 0)
        return;
    upDateOpComp();
    CheckOperator(k);
}

void TOpRelayPage::upDateOpComp() {
    for (int i = 0; i < 4; ++i)
        d->opComp[i] = OpMatCode(d->idxOpMat, d->cbx[i]->currentIndex());
}

void TOpRelayPage::CheckOperator(int k) {
    QComboBox *box = d->cbx[k];
    const int32_t code = OpMatCode(d->idxOpMat, box->currentIndex());
    if (!IsSingleUseOperation(code))
        return;
    for (int i = 0; i < 4; ++i) {
        if (i == k || d->opComp[i] != code)
            continue;
        d->host.Warning(
            QStringLiteral("Esse modo de operação não pode ser replicado em mais de um rele"));
        SetTag(box, 1);
        box->setCurrentIndex(0);
        SetTag(box, 0);
        d->opComp[k] = OpMatCode(d->idxOpMat, 0);
        return;
    }
}
