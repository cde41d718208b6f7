// Prints what DefaultViewer sees in this process's XDG folders, one fact per
// line, and with "make" registers the program first. Run by default_viewer_test
// in a fresh process per scenario, because GIO reads the XDG folders once.
#include "platform/DefaultViewer.h"
#include "settings/Texts.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Texts::setLanguage(QStringLiteral("zh"));
    QTextStream out(stdout);
    const auto printStatus = [&out] {
        const DefaultViewer::Status status = DefaultViewer::status();
        out << "default=" << (status.isDefault ? 1 : 0) << '\n'
            << "text=" << status.text << '\n'
            << "secondary=" << (status.secondary ? 1 : 0) << '\n'
            << "button=" << (status.showButton ? 1 : 0) << '\n';
    };
    out << "installed=" << (DefaultViewer::isInstalled() ? 1 : 0) << '\n'
        << "types=" << DefaultViewer::contentTypes().join(QLatin1Char(',')) << '\n';
    printStatus();
    if (app.arguments().contains(QStringLiteral("make"))) {
        const DefaultViewer::Outcome outcome = DefaultViewer::makeDefault();
        out << "registered=" << outcome.registered << '\n'
            << "failed=" << outcome.failedTypes.size() << '\n'
            << "message=" << outcome.message << '\n';
        printStatus();
        out << "png=" << (DefaultViewer::isDefault(QStringLiteral("image/png")) ? 1 : 0) << '\n';
    }
    return 0;
}
