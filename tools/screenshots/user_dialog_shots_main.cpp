// Renders the user dialogs over a fresh demo: user_dialog_shots OUTPUT-DIRECTORY.
#include "UserDialogShots.h"
#include "app/cli/Cli.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: user_dialog_shots OUTPUT-DIRECTORY\n");
        return 2;
    }
    // The demo's profile and settings stay in a directory of this run's own.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    const QByteArray config = (home.path() + "/config").toLocal8Bit();
    setenv("XDG_CONFIG_HOME", config.constData(), 1);
    const std::string demo = (home.path() + "/demo").toStdString();

    QApplication app(argc, argv);
    std::ostringstream out, err;
    if (cli::Run({"demo", "init", demo}, out, err) != 0) {
        std::cerr << err.str();
        return 1;
    }
    QString error;
    const QStringList files =
        RenderUserDialogs(QString::fromStdString(demo), QString::fromLocal8Bit(argv[1]), error);
    if (files.isEmpty()) {
        std::fprintf(stderr, "user_dialog_shots: %s\n", qPrintable(error));
        return 1;
    }
    for (const QString& file : files)
        std::printf("%s\n", qPrintable(file));
    return 0;
}
