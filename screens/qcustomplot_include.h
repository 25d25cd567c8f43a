#pragma once

// QCustomPlot's header uses Qt's `signals` and `foreach` keywords, which this
// project switches off (QT_NO_KEYWORDS); they are lent to it for its own text.
#define signals Q_SIGNALS
#define foreach Q_FOREACH
#include <qcustomplot.h>
#undef foreach
#undef signals
