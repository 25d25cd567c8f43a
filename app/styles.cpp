#include "main_window.h"

#include "show_window.h"

#include <QFile>

namespace {
// The style sheet of a style; "Windows" has none, so the platform's own
// style draws the windows.
QString StyleSheet(int32_t index) {
    static const char *const files[] = {nullptr, ":/styles/transparente.qss", ":/styles/jet.qss"};
    if (!files[index])
        return QString();
    QFile file(QString::fromLatin1(files[index]));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}
} // namespace

void TfrmMain::ApllyStyle(int32_t index) {
    if (index >= styleWINDOWS && index <= styleJET) {
        const QString sheet = StyleSheet(index);
        setStyleSheet(sheet);
        msgWindow->setStyleSheet(sheet);
    }
    StyleForm = index;
}

void TfrmMain::cbxStyleChange(int index) {
    ApllyStyle(index);
}
