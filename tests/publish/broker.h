#pragma once

// A real MQTT broker for the tests: Debian's mosquitto on 127.0.0.1, on free
// ports, with a password file and a TLS listener whose certificate authority
// is made here and now; and subscribers that print what they receive.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace broker {

// A port nobody listens on now.
inline int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

inline bool accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

inline bool run(const QString &program, const QStringList &args, const QString &dir) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << program << args << p.readAllStandardError();
        return false;
    }
    return true;
}

struct tBroker {
    QTemporaryDir dir;
    int port = 0;    // plain
    int tlsPort = 0; // TLS, certificate for 127.0.0.1 and localhost
    const QString user = QStringLiteral("tarvik");
    const QString password = QStringLiteral("segredo de teste");
    const QString readerUser = QStringLiteral("leitor");
    const QString readerPassword = QStringLiteral("leitura");
    std::unique_ptr<QProcess> process;

    QString path(const QString &name) const { return dir.filePath(name); }
    QString caFile() const { return path(QStringLiteral("ca.crt")); }
    QString otherCaFile() const { return path(QStringLiteral("other.crt")); }

    // Certificates, passwords and the configuration; once per suite.
    bool prepare() {
        const QString d = dir.path();
        const QStringList ec = {"-newkey", "ec",    "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                "-nodes",  "-days", "2"};
        QFile ext(path("ext"));
        if (!ext.open(QIODevice::WriteOnly) ||
            ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n") < 0)
            return false;
        ext.close();
        QFile pw(path("passwords"));
        if (!pw.open(QIODevice::WriteOnly))
            return false;
        pw.close();
        if (!run("openssl",
                 QStringList{"req", "-x509"} + ec +
                     QStringList{"-keyout", "ca.key", "-out", "ca.crt", "-subj", "/CN=Tarvik CA"},
                 d) ||
            !run("openssl",
                 QStringList{"req"} + ec +
                     QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj",
                                 "/CN=localhost"},
                 d) ||
            !run("openssl",
                 {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                  "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "ext"},
                 d) ||
            !run("openssl",
                 QStringList{"req", "-x509"} + ec +
                     QStringList{"-keyout", "other.key", "-out", "other.crt", "-subj",
                                 "/CN=Another CA"},
                 d) ||
            !run("mosquitto_passwd", {"-b", "passwords", user, password}, d) ||
            !run("mosquitto_passwd", {"-b", "passwords", readerUser, readerPassword}, d))
            return false;
        port = freePort();
        tlsPort = freePort();
        QFile conf(path("mosquitto.conf"));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        // Persistence keeps the subscribers' sessions across a restart, so
        // that what arrives before they are back waits for them.
        conf.write(QStringLiteral("per_listener_settings false\n"
                                  "allow_anonymous false\n"
                                  "password_file %1/passwords\n"
                                  "persistence true\n"
                                  "persistence_location %1/\n"
                                  "listener %2 127.0.0.1\n"
                                  "listener %3 127.0.0.1\n"
                                  "cafile %1/ca.crt\n"
                                  "certfile %1/server.crt\n"
                                  "keyfile %1/server.key\n")
                       .arg(d)
                       .arg(port)
                       .arg(tlsPort)
                       .toUtf8());
        // Run as root (a container), the broker would drop to a user that
        // cannot read the temporary folder.
        if (::getuid() == 0)
            conf.write("user root\n");
        return true;
    }

    bool start() {
        process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->setStandardOutputFile(path("mosquitto.log"), QIODevice::Append);
        QString program = QStandardPaths::findExecutable("mosquitto");
        if (program.isEmpty())
            program = QStandardPaths::findExecutable("mosquitto", {"/usr/sbin"});
        process->start(program, {"-c", path("mosquitto.conf")});
        if (!process->waitForStarted(10000))
            return false;
        return QTest::qWaitFor([this] { return accepts(port) && accepts(tlsPort); }, 20000);
    }

    // As a service stops: it saves its sessions and closes every connection.
    void stop() {
        if (!process)
            return;
        process->terminate();
        if (!process->waitForFinished(20000)) {
            process->kill();
            process->waitForFinished();
        }
        process.reset();
    }

    ~tBroker() { stop(); }

    // Arguments for a client of the plain listener as the test's reader.
    QStringList readerArgs() const {
        return {"-h", "127.0.0.1", "-p", QString::number(port),
                "-u", readerUser,  "-P", readerPassword};
    }
};

// mosquitto_sub on `topic` with a session the broker keeps while it is away,
// printing "topic payload" per message.
struct tSubscriber {
    std::unique_ptr<QProcess> process;
    QByteArray out;

    // Subscribed once a probe of its own comes through. Retained messages
    // sent again on subscribing (-R) are shown only when asked: else each
    // line is something published while subscribed.
    bool start(const tBroker &b, const QString &topic, const QString &id,
               bool retainedToo = false) {
        const QString probe = QStringLiteral("probe/") + id;
        process = std::make_unique<QProcess>();
        QStringList args = b.readerArgs() + QStringList{"-t", topic, "-t", probe, "-q",   "1",
                                                        "-c", "-i",  id,   "-F",  "%t %p"};
        if (!retainedToo)
            args << QStringLiteral("-R");
        process->start("mosquitto_sub", args);
        if (!process->waitForStarted(10000))
            return false;
        return QTest::qWaitFor(
            [&] {
                run("mosquitto_pub", b.readerArgs() + QStringList{"-t", probe, "-m", "x"},
                    QDir::tempPath());
                return QTest::qWaitFor([&] { return !payloads(probe).isEmpty(); }, 300);
            },
            20000);
    }

    // Every complete line received so far.
    QList<QByteArray> lines() {
        out += process->readAllStandardOutput();
        QList<QByteArray> all = out.split('\n');
        all.removeLast(); // the part after the last newline, possibly empty
        return all;
    }

    // The payloads that arrived on `topic`, in order.
    QList<QByteArray> payloads(const QString &topic) {
        QList<QByteArray> found;
        const QByteArray head = topic.toUtf8() + ' ';
        for (const QByteArray &l : lines())
            if (l.startsWith(head))
                found << l.mid(head.size());
        return found;
    }

    // The payloads of the lines `head` matches at their start (a topic
    // pattern ending in a space), in order.
    QList<QByteArray> matching(const QRegularExpression &head) {
        QList<QByteArray> found;
        for (const QByteArray &l : lines()) {
            const QString line = QString::fromUtf8(l);
            if (const QRegularExpressionMatch m = head.match(line); m.hasMatch())
                found << line.mid(m.capturedEnd()).toUtf8();
        }
        return found;
    }

    ~tSubscriber() {
        if (process) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished();
        }
    }
};

} // namespace broker
