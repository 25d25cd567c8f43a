// Device configuration file: 101 little-endian 32-bit records holding the
// model, System[0..16] and the parameter sets of all four relays.
#include "u_ondrel.h"
#include "whole_file.h"

#include <QFile>
#include <QtEndian>

#include <array>

namespace {

constexpr int modelRecords = 4;
constexpr int recordCount = modelRecords + 17 + 4 * 20;
constexpr qint64 fileSize = recordCount * 4;
using tRecords = std::array<int32_t, recordCount>;

const QString wrongModelText = QStringLiteral(
    "Arquivo de configuração inválido.\rCheque se o arquivo pertence a esse modelo de Ondrel.");

bool fail(tConfigError kind, const QString &text, QString *error, tConfigError *why) {
    if (error)
        *error = text;
    if (why)
        *why = kind;
    return false;
}

bool succeed(QString *error, tConfigError *why) {
    if (error)
        error->clear();
    if (why)
        *why = tConfigError::None;
    return true;
}

// Byte k is the low byte of model character k (0 past the end of a short model).
uint32_t signatureOf(const QString &model) {
    uint32_t sig = 0;
    for (int k = 0; k < modelRecords && k < model.size(); ++k)
        sig |= uint32_t(model[k].unicode() & 0xFF) << (8 * k);
    return sig;
}

uint32_t signatureOf(const tRecords &rec) {
    uint32_t sig = 0;
    for (int k = 0; k < modelRecords; ++k)
        sig |= (uint32_t(rec[k]) & 0xFF) << (8 * k);
    return sig;
}

// The configuration's fields after the model, in file order.
template <typename Dev, typename Fn> void forEachField(Dev &dev, Fn fn) {
    int i = modelRecords;
    for (auto &v : dev.System)
        fn(i++, v);
    for (auto &relay : dev.Relay)
        for (auto &v : relay.par)
            fn(i++, v);
}

} // namespace

bool tOndrel::SaveConfig(const QString &name, QString *error, tConfigError *why) {
    tRecords rec{};
    for (int k = 0; k < modelRecords && k < Model.size(); ++k)
        rec[k] = Model[k].unicode();
    forEachField(std::as_const(*this), [&](int i, int32_t v) { rec[i] = v; });

    QByteArray bytes(fileSize, '\0');
    for (int i = 0; i < recordCount; ++i)
        qToLittleEndian<int32_t>(rec[i], bytes.data() + 4 * i);

    QString reason;
    if (!WriteWholeFile(name, bytes, &reason))
        return fail(
            tConfigError::Unwritable,
            QStringLiteral("Não foi possível salvar o arquivo de configuração.\r%1").arg(reason),
            error, why);
    return succeed(error, why);
}

bool tOndrel::LoadConfig(const QString &name, QString *error, tConfigError *why) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return fail(tConfigError::Unreadable,
                    QStringLiteral("Não foi possível ler o arquivo de configuração."), error, why);
    // One byte more than a configuration tells a long file from a good one.
    const QByteArray bytes = file.read(fileSize + 1);
    if (bytes.size() != fileSize)
        return fail(tConfigError::WrongSize,
                    QStringLiteral("Arquivo de configuração inválido: tem %1 bytes em vez de %2.")
                        .arg(file.size())
                        .arg(fileSize),
                    error, why);

    tRecords rec{};
    for (int i = 0; i < recordCount; ++i)
        rec[i] = qFromLittleEndian<int32_t>(bytes.constData() + 4 * i);
    if (signatureOf(rec) != signatureOf(Model))
        return fail(tConfigError::WrongModel, wrongModelText, error, why);

    forEachField(*this, [&](int i, int32_t &v) { v = rec[i]; });
    // The file carries the operation codes too: par[0] of each relay.
    Known |= knownSYSTEM | knownUNIT | knownOPS | knownRelay(0) | knownRelay(1) | knownRelay(2) |
             knownRelay(3);
    return succeed(error, why);
}
