// The viewer's memory and latency benchmark: the program itself, launched with
// "--bench FOLDER", with the measurements of ViewerBench run once its window is up.
#include "ViewerBench.h"

#include "app/AppDelegate.h"
#include "app/ViewerWindowController.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    LaunchHooks hooks;
    hooks.firstPhoto = [] {
        const std::optional<QString> folder = benchFolder(QCoreApplication::arguments());
        return folder ? benchFirstPhoto(*folder) : std::nullopt;
    };
    hooks.afterShow = [](ViewerWindowController &window) {
        const std::optional<QString> folder = benchFolder(QCoreApplication::arguments());
        if (!folder) {
            std::fprintf(stderr, "usage: glanto_viewer_bench --bench FOLDER\n");
            QCoreApplication::exit(2);
            return true;
        }
        startBench(window.viewerPage(), *folder);
        return true;
    };
    return AppDelegate::run(argc, argv, hooks);
}
