#pragma once

#include <QString>

#include <functional>
#include <memory>

class QFile;

// `name` in `folder`; with no folder, the bare name, which opens in the
// process's current directory.
QString FileInFolder(const QString &folder, const QString &name);

// A plain-text log as technicians read it: Latin-1 bytes, CR LF line ends,
// created anew when opened. A line that cannot be written closes the log and
// is reported once through OnError; nothing is ever thrown.
class tTraceLog {
  public:
    tTraceLog();
    ~tTraceLog();

    // Creates or truncates `fileName` and writes the header
    // " >>>>>>>>> <title> - Data: <short date> Hora:<long time> <<<<<<<< ".
    bool Open(const QString &fileName, const QString &title);
    void Close();
    bool IsOpen() const;
    void Line(const QString &text);

    std::function<void(const QString &why)> OnError;

  private:
    void Fail(const QString &why);
    std::unique_ptr<QFile> file;
};
