#pragma once

#include "number_box.h"

#include <QLocale>
#include <QWidget>

// The number boxes under `page` write whole numbers as the controller's own
// display does: a password 1234, a calibration 131071, never 1.234.
inline void OmitGroupSeparators(QWidget *page) {
    for (TNumberBox *box : page->findChildren<TNumberBox *>()) {
        QLocale plain = box->locale();
        plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
        box->setLocale(plain);
    }
}
