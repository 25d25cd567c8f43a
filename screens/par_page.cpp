#include "par_page.h"

#include "field_form.h"
#include "page_action.h"
#include "system_params.h"
#include "temperature.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString notReadYet =
    NotKnownText(knownSYSTEM) + QStringLiteral(" (ou carregue um arquivo de configurações)");

// Only 1 selects Fahrenheit for the application's conversions.
bool fahrenheit(int32_t unit) {
    return unit == tempFAHRENHEIT;
}
} // namespace

TParPage::TParPage(ScreenHost &host_, QWidget *parent)
    : TPage(host_, QStringLiteral("pnlPAR"), QStringLiteral("Ajustes"), parent),
      btnReadPar(Button(QStringLiteral("btnReadPar"), QStringLiteral("Ler"))),
      btnStandard(Button(QStringLiteral("btnStandard"), QStringLiteral("Aplicar Valores Padrões"))),
      btnWritePAR(Button(QStringLiteral("btnWritePAR"), QStringLiteral("Gravar"))) {
    // The offsets and the switched values side by side, the lists below.
    QList<QWidget *> areas;
    for (int a = 0; a < 3; ++a) {
        auto *area = new QWidget(this);
        new QVBoxLayout(area);
        area->layout()->setContentsMargins(0, 4, 0, 0);
        areas << area;
    }
    form = new TFieldForm(SystemFields(), areas, this);
    auto *top = new QHBoxLayout;
    top->setSpacing(40);
    top->addWidget(areas[0]);
    top->addWidget(areas[1]);
    top->addStretch(1);
    Body()->addLayout(top);
    Body()->addWidget(areas[2]);
    Body()->addStretch(1);
    // The switched boxes in one column whatever their captions, and the
    // lists of one width.
    QList<QWidget *> toggles, lists;
    for (const tParamField &f : SystemFields()) {
        if (*f.toggle)
            toggles << findChild<QCheckBox *>(QString::fromUtf8(f.toggle));
        if (f.kind == tFieldKind::TwoWay)
            lists << form->Control(f.index);
    }
    for (const QList<QWidget *> &same : {toggles, lists}) {
        int width = 0;
        for (QWidget *w : same)
            width = qMax(width, w->sizeHint().width());
        for (QWidget *w : same)
            w->setMinimumWidth(width);
    }

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnReadPar);
    buttons->addStretch(1);
    buttons->addWidget(btnStandard);
    buttons->addWidget(btnWritePAR);
    Body()->addLayout(buttons);
    connect(btnReadPar, &QPushButton::clicked, this, &TParPage::btnReadParClick);
    BindKey(tPageKey::Read, btnReadPar);
    connect(btnWritePAR, &QPushButton::clicked, this, &TParPage::btnWritePARClick);
    connect(btnStandard, &QPushButton::clicked, this, &TParPage::btnStandardClick);
    // The window makes its pages before the device: the first FollowState
    // brings the write in line with it.
    btnWritePAR->setEnabled(false);
    btnWritePAR->setToolTip(notReadYet);
}

void TParPage::FollowState(const tOndrel &dev) {
    btnStandard->setEnabled(dev.Connected());
    FollowKnown();
}

void TParPage::showEvent(QShowEvent *event) {
    TPage::showEvent(event);
    FollowKnown();
}

bool TParPage::Writable() const {
    return host.Session().IsKnown(knownSYSTEM);
}

void TParPage::FollowKnown() {
    const bool writable = Writable();
    btnWritePAR->setEnabled(writable);
    btnWritePAR->setToolTip(writable ? QString() : notReadYet);
}

void TParPage::btnReadParClick() {
    RunAction(host, {.progress = QStringLiteral("Lendo parâmetros de sistema"),
                     .popup = true,
                     .commands = {cmdGET_PAR_SYSTEM},
                     .done = [this] { SetParSystem(); },
                     .success = QStringLiteral("Leitura dos parâmetros feita com sucesso")});
    FollowKnown();
}

void TParPage::SetParSystem() {
    const tOndrel &dev = host.Ondrel();
    form->Fill(dev.System.data(), dev);
    FollowKnown();
}

void TParPage::btnWritePARClick() {
    tOndrel &dev = host.Ondrel();
    int32_t unit = 0;
    // System[7] and System[8] stay as the clock page or the last read left
    // them: the form has no control for them.
    auto collect = [&] {
        unit = dev.System[idxTST];
        form->Collect(dev.System.data());
    };
    // The copy of the relay blocks follows the new unit; the controller's
    // own blocks are read again on each relay page's next visit.
    auto done = [&] {
        const int32_t now = dev.System[idxTST];
        if (fahrenheit(now) == fahrenheit(unit))
            return;
        ChangeTypeTemp(dev, now);
        for (tMenu relay : {tMenu::Relay1, tMenu::Relay2, tMenu::Relay3, tMenu::Relay4})
            host.Visits().SetVisited(relay, false);
    };
    RunAction(host, {.needs = knownSYSTEM,
                     .question = QStringLiteral(
                         "Deseja mesmo gravar os novos valores dos parâmetros no Ondrel?"),
                     .progress = QStringLiteral("Gravando os parâmetros do sistema"),
                     .popup = true,
                     .collect = collect,
                     .commands = {cmdSET_PAR_SYSTEM},
                     .done = done,
                     .success = QStringLiteral("Gravação dos parâmetros feita com sucesso")});
    FollowKnown();
}

void TParPage::btnStandardClick() {
    // The session ends: every page reads the controller afresh after the
    // next connection.
    auto done = [this] {
        host.btnMenuMainClick();
        host.Session().End();
    };
    RunAction(host,
              {.question = QStringLiteral("Esta função vai colocar todos os parâmetros do Ondrel "
                                          "nos valores padrões de fábrica.\rDeseja continuar?\r"),
               .progress =
                   QStringLiteral("Envio de comando de colocar os parâmetros nos valores padrões"),
               .commands = {cmdSET_STANDARD},
               .done = done,
               .success = QStringLiteral("Comando executado com sucesso")});
    FollowKnown();
}
