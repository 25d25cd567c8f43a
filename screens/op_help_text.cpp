#include "op_help_text.h"

namespace {

struct Section {
    const char *heading;
    std::initializer_list<const char *> text;
};

const Section sections[] = {
    {"SEM OPERAÇÃO",
     {"Um rele configurado com nenhum operador não terá nenhum modo de trabalho, ou seja, ele "
      "ficará inoperante."}},
    {"REFRIGERAÇÃO E AQUECIMENTO",
     {"Um rele configurado com o modo operante refrigeração ou aquecimento vai funcionar como um "
      "termostato normal de controle de temperatura."}},
    {"DEGELO",
     {"O operador de degelo é para auxiliar na refrigeração e vai atuar junto com o primeiro rele "
      "que está configurado com o modo operador de refrigeração."}},
    {"VENTILADOR ",
     {"Um rele configurado como modo operante ventilador é para auxiliar na refrigeração e vai "
      "atuar junto com o primeiro rele que está configurado com o modo operador de refrigeração."}},
    {"SOLAR",
     {"Um rele configurado com o modo operante solar vai fazer controle de trocadores de calor "
      "muito usado para banho e piscina. "}},
    {"AUXILIAR",
     {"Um rele configurado com o modo operante auxiliar vai dar apoio aos reles configurados nos "
      "modos operantes de refrigeração, aquecimento ou solar. O rele auxiliar será ligado se pelo "
      "menos um dos reles de refrigeração, aquecimento ou solar for ligado. Logo, o rele auxiliar "
      "somente desligará se todos os reles de refrigeração, aquecimento ou solar estiverem "
      "desligados.",
      "Há duas utilidades de se utilizar um rele auxiliar. Uma utilidade é desligar um rele quando "
      "um rele de carga foi acionada ou vice-versa. A outra utilidade é distribuir a carga de um "
      "rele para o rele auxiliar, ou seja, se deseja acionar uma carga de 4A onde o rele que vai "
      "acionar a carga for de 2A usaremos um rele auxiliar para dar apoio."}},
    {"TIMER",
     {"Um rele configurado com o modo operante timer terá se rele acionado ou não em determinados "
      "tempos programados."}},
    {"TIMER CONDICIONAL",
     {"Tem a mesma função do operador timer, porém leva em consideração a temperatura do ambiente "
      "a ser controlado, ou seja, um termostato com para ser acionado em tempos programados."}},
};

} // namespace

QStringList OpHelpLines() {
    QStringList lines;
    for (const Section &s : sections) {
        if (!lines.isEmpty())
            lines.append(QString());
        lines.append(QString::fromUtf8(s.heading));
        for (const char *t : s.text)
            lines.append(QString::fromUtf8(t));
    }
    return lines;
}
