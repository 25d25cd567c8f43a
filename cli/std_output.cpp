#include "std_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

tOutputKind OutputKind(int fd) {
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return tOutputKind::Stream;
    return st.st_size > 0 ? tOutputKind::FileWithData : tOutputKind::EmptyFile;
}

bool WriteAll(int fd, const QByteArray &bytes, QString *why) {
    // Where a regular file stands before the write: its end when appended
    // to, else the file offset.
    struct stat st = {};
    off_t start = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const int flags = ::fcntl(fd, F_GETFL);
        start = flags >= 0 && (flags & O_APPEND) ? st.st_size : ::lseek(fd, 0, SEEK_CUR);
    }
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n > 0) {
            p += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int error = n < 0 ? errno : ENOSPC;
        if (start >= 0 && left < bytes.size() && ::ftruncate(fd, start) == 0)
            ::lseek(fd, start, SEEK_SET);
        if (why)
            *why = QString::fromLocal8Bit(std::strerror(error));
        return false;
    }
    return true;
}
