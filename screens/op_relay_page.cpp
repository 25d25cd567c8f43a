#include "op_relay_page.h"

#include "op_help_text.h"
#include "page_action.h"
#include "relay_operations.h"
#include "status_tag.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TOpRelayPage::TOpRelayPage(ScreenHost &host_, QWidget *parent)
    : TPage(host_, QStringLiteral("pnlOpRelay"), QStringLiteral("Ajustar Operadores dos Reles"),
            parent) {
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
        cbx[size_t(k)] = box;
        grid->addWidget(caption, 0, k);
        grid->addWidget(box, 1, k);
        connect(box, &QComboBox::currentIndexChanged, this, [this, k] { cbxOpRelayChange(k); });
    }
    Body()->addLayout(grid);

    auto *buttons = new QHBoxLayout;
    QPushButton *read = Button(QStringLiteral("btnOpRead"), QStringLiteral("Ler"), this);
    QPushButton *write = Button(QStringLiteral("btnOpWrite"), QStringLiteral("Gravar"), this);
    buttons->addStretch(1);
    buttons->addWidget(read);
    buttons->addWidget(write);
    Body()->addLayout(buttons);
    connect(read, &QPushButton::clicked, this, &TOpRelayPage::btnOpReadClick);
    BindKey(tPageKey::Read, read);
    connect(write, &QPushButton::clicked, this, &TOpRelayPage::btnOpWriteClick);

    auto *helpCaption =
        new QLabel(QStringLiteral("Descrição dos Modos de Operações dos Reles"), this);
    QFont hf = helpCaption->font();
    hf.setBold(true);
    helpCaption->setFont(hf);
    Body()->addWidget(helpCaption);
    auto *memo = new QPlainTextEdit(this);
    memo->setObjectName(QStringLiteral("memoOpRelay"));
    memo->setReadOnly(true);
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo->setPlainText(OpHelpLines().join(QLatin1Char('\n')));
    Body()->addWidget(memo, 1);
}

void TOpRelayPage::SetRelayCount(int nRelay) {
    for (int k = 1; k < 4; ++k)
        cbx[size_t(k)]->setEnabled(nRelay > k);
}

void TOpRelayPage::SetParOpRelays() {
    for (QComboBox *box : cbx)
        SetTag(box, 1);
    const tOndrel &dev = host.Ondrel();
    opMatRow = OpMatRow(dev.Model);
    QStringList names;
    for (int32_t code : OpMatCodes(opMatRow))
        names.append(OpRelayName(code));
    for (size_t k = 0; k < cbx.size(); ++k) {
        cbx[k]->clear();
        cbx[k]->addItems(names);
        cbx[k]->setCurrentIndex(GetIdxOpMat(opMatRow, dev.Relay[k].par[0]));
    }
    for (QComboBox *box : cbx)
        SetTag(box, 0);
}

void TOpRelayPage::btnOpReadClick() {
    RunAction(host, {.progress = QStringLiteral("Lendo parâmetros de sistema"),
                     .popup = true,
                     .commands = {cmdGET_PAR_opRELAYS},
                     .done = [this] { SetParOpRelays(); },
                     .success = QStringLiteral("Leitura dos parâmetros feita com sucesso")});
}

void TOpRelayPage::btnOpWriteClick() {
    auto collect = [this] {
        tOndrel &dev = host.Ondrel();
        for (size_t k = 0; k < cbx.size(); ++k) {
            // A box without a selection shows a code the model does not
            // offer: the relay keeps it, so saving never alters what was not
            // touched.
            const int32_t code = OpMatCode(opMatRow, cbx[k]->currentIndex());
            if (code >= 0)
                dev.Relay[k].par[0] = code;
        }
    };
    RunAction(host,
              {.needs = knownOPS,
               .question = QStringLiteral("Deseja mesmo gravar os novos operadores no Ondrel?"),
               .progress = QStringLiteral("Gravando os novos operadores dos reles"),
               .popup = true,
               .collect = collect,
               .commands = {cmdSET_PAR_opRELAYS},
               .success = QStringLiteral("Gravação feita com sucesso")});
}

void TOpRelayPage::cbxOpRelayChange(int k) {
    if (Tag(cbx[size_t(k)]) > 0)
        return;
    upDateOpComp();
    CheckOperator(k);
}

void TOpRelayPage::upDateOpComp() {
    for (size_t i = 0; i < cbx.size(); ++i)
        comp[i] = OpMatCode(opMatRow, cbx[i]->currentIndex());
}

void TOpRelayPage::CheckOperator(int k) {
    QComboBox *box = cbx[size_t(k)];
    const int32_t code = OpMatCode(opMatRow, box->currentIndex());
    if (!IsSingleUseOperation(code))
        return;
    for (int i = 0; i < 4; ++i) {
        if (i == k || comp[size_t(i)] != code)
            continue;
        host.Warning(
            QStringLiteral("Esse modo de operação não pode ser replicado em mais de um rele"));
        SetTag(box, 1);
        box->setCurrentIndex(0);
        SetTag(box, 0);
        comp[size_t(k)] = OpMatCode(opMatRow, 0);
        return;
    }
}
