#include "number_box.h"

#include <cmath>

TNumberBox::TNumberBox(int shownDecimals, QWidget *parent)
    : QDoubleSpinBox(parent), shown(shownDecimals) {
    // Room for bounds such as 32.18; values typed are rounded by the fields.
    // A box of whole numbers takes whole numbers only.
    setDecimals(shownDecimals == 0 ? 0 : qMax(2, shownDecimals));
    setButtonSymbols(QAbstractSpinBox::NoButtons);
    setSingleStep(0);
    setKeyboardTracking(false);
    setAlignment(Qt::AlignRight);
}

QString TNumberBox::textFromValue(double value) const {
    // A value that is not a whole number of the shown step (a bound) is
    // shown with the digits it needs.
    const double scale = std::pow(10.0, shown);
    const bool exact = std::abs(value * scale - std::nearbyint(value * scale)) < 1e-6;
    // Whole numbers as the controller shows them: 1234, never 1.234.
    QLocale plain = locale();
    plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
    return plain.toString(value, 'f', exact ? shown : decimals());
}
