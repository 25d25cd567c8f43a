// tarvik-cli: the controller from a terminal and from scripts.

#include "cli_args.h"
#include "cli_main.h"

#include <QCoreApplication>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

bool wantsPdf(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--pdf") == 0 || std::strncmp(argv[i], "--pdf=", 6) == 0)
            return true;
    return false;
}

// Only a PDF needs fonts and a painter. Its drawing lives in a program of its
// own, so every other command starts with Qt Core alone, as light as a script
// calling it in a loop expects. It sits beside this one in a build or a
// portable copy, and in the package's private folder once installed.
int runPdfProgram(char *argv[]) {
    namespace fs = std::filesystem;
    std::error_code failed;
    const fs::path self = fs::read_symlink("/proc/self/exe", failed);
    const fs::path dir = failed ? fs::path(argv[0]).parent_path() : self.parent_path();
    const fs::path places[] = {
        dir / "tarvik-cli-pdf",
        (dir / TARVIK_PDF_FROM_BINDIR / "tarvik-cli-pdf").lexically_normal()};
    int why = ENOENT;
    for (const fs::path &program : places) {
        if (::access(program.c_str(), X_OK) != 0)
            continue;
        ::execv(program.c_str(), argv);
        why = errno;
    }
    std::fprintf(stderr,
                 "tarvik-cli: o relatório em PDF precisa de %s, que não pôde ser "
                 "executado (%s); reinstale o Tarvik\n",
                 places[1].c_str(), std::strerror(why));
    return exitUSAGE;
}

} // namespace

int main(int argc, char *argv[]) {
    if (wantsPdf(argc, argv))
        return runPdfProgram(argv);
    QCoreApplication app(argc, argv);
    return CliMain();
}
