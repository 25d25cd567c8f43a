#include "relay_operations.h"

int OpMatRow(const QString &model) {
    static const char *const models[] = {"qx1n", "qx1r", "qx2n", "qx2r"};
    for (int row = 0; row < 4; ++row)
        if (model == QLatin1String(models[row]))
            return row;
    return 4;
}

QList<int32_t> OpMatCodes(int row) {
    QList<int32_t> codes;
    if (row < 0 || row >= opMatRows)
        return codes;
    for (int i = 0; i < opMatCols && opMat[row][i] >= 0; ++i)
        codes.append(opMat[row][i]);
    return codes;
}

int GetIdxOpMat(int row, int32_t code) {
    return int(OpMatCodes(row).indexOf(code));
}

int32_t OpMatCode(int row, int idx) {
    const QList<int32_t> codes = OpMatCodes(row);
    return idx >= 0 && idx < codes.size() ? codes[idx] : -1;
}

QString OpRelayName(int32_t code) {
    const int32_t idx = code < 0 || code >= int32_t(opRELAY.size()) ? 9 : code;
    return QString::fromUtf8(opRELAY[size_t(idx)]);
}

bool IsSingleUseOperation(int32_t code) {
    return code == opDEFROST || code == opFAN || code == opHEATER;
}
