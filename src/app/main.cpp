#include "app/AppDelegate.h"
#include "app/LaunchOptions.h"

#include <cstdio>

int main(int argc, char **argv)
{
    // --help and --version answer at once: no display, no single-instance hand-over.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<QString> text = informationText(parseLaunchArguments(arguments), QStringLiteral(GLANTO_VERSION))) {
        std::fputs(text->toLocal8Bit().constData(), stdout);
        return 0;
    }
    return AppDelegate::run(argc, argv);
}
