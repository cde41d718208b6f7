// Writes seed inputs for the harnesses whose input this program writes itself, with
// the program's own writers: the metrics cache of each folder given (a real scan
// with the cache on) and the stored shortcut overrides after a few real
// assignments in the settings. Run by scripts/fuzz with HOME and the XDG folders
// pointing at a scratch folder, so that nothing of the user's is read or written.
//
// fuzz_write_seeds OUT_DIR FOLDER...
//   OUT_DIR/metrics_cache/<n>.plist, OUT_DIR/shortcuts/<n>.json

#include "cleanup/CleanupScanner.h"
#include "cleanup/CleanupUnits.h"
#include "cleanup/MetricsCache.h"
#include "library/FolderModel.h"
#include "settings/Settings.h"
#include "settings/Shortcuts.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Scans the folder with the cache on and copies the cache file the scan wrote.
bool writeCacheSeed(const QString &folder, const QString &out)
{
    FolderModel model;
    model.load(folder);
    CleanupScanner scanner(folder, makeUnits(model.items()), true);
    QEventLoop loop;
    scanner.onFinish = [&loop] { loop.quit(); };
    scanner.start();
    if (!scanner.finished)
        loop.exec();
    if (!scanner.cacheURL)
        return false;
    QFile cache(*scanner.cacheURL);
    return cache.open(QIODevice::ReadOnly) && writeFile(out, cache.readAll());
}

// The stored overrides after each step of a short session in the settings window.
int writeShortcutSeeds(const QString &dir)
{
    using namespace KeyMods;
    using A = ShortcutAction;
    const std::vector<std::pair<A, std::optional<KeyCombo>>> steps = {
        {A::next, KeyCombo{2, 0, "d"}},                         // a plain key
        {A::toggleApp, KeyCombo{40, command | option, "k"}},    // the global hotkey
        {A::trash, std::nullopt},                               // a cleared default
        {A::rate0, KeyCombo{29, shift, "0"}},                   // an action with no default
        {A::prev, KeyCombo{2, 0, "d"}},                         // takes the key from "next"
        {A::zoomIn, KeyCombo{69, command, "+"}},                // a keypad key
        {A::wallpaper, KeyCombo{10, control | shift, "\u00a7"}}, // a key with no Qt name
    };
    Settings::setCustomShortcuts({});
    Shortcuts::reloadFromSettings();
    int written = 0;
    for (const auto &[action, combo] : steps) {
        Shortcuts::assign(combo, action);
        const QByteArray stored = Settings::customShortcuts();
        if (!stored.isEmpty() && writeFile(dir + QStringLiteral("/%1.json").arg(written), stored))
            ++written;
    }
    return written;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: fuzz_write_seeds OUT_DIR FOLDER...\n");
        return 2;
    }
    const QString out = args.at(1);
    QDir().mkpath(out + QStringLiteral("/metrics_cache"));
    QDir().mkpath(out + QStringLiteral("/shortcuts"));
    int caches = 0;
    for (int i = 2; i < args.size(); ++i) {
        if (writeCacheSeed(args.at(i), out + QStringLiteral("/metrics_cache/%1.plist").arg(caches)))
            ++caches;
        else
            std::fprintf(stderr, "fuzz_write_seeds: no cache written for %s\n", qPrintable(args.at(i)));
    }
    const int shortcuts = writeShortcutSeeds(out + QStringLiteral("/shortcuts"));
    std::printf("fuzz_write_seeds: %d cache files, %d shortcut files\n", caches, shortcuts);
    return caches > 0 && shortcuts > 0 ? 0 : 1;
}
