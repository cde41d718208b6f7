#include "settings/TextAdaptations.h"
#include "settings/TextTable.h"
#include "settings/Texts.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <atomic>
#include <functional>
#include <ostream>
#include <cstring>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

// Readable failure messages for QString comparisons.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

TextTable shippedTable(const QString &language, QStringList *problems = nullptr)
{
    QFile file(QStringLiteral(":/texts/%1.tsv").arg(language));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return Texts::parseTable(file.readAll(), problems);
}

// Walks the program's sources for the pattern and lists, as "path:line: text", each
// first capture that known() refuses. checked counts every match.
QStringList unknownInSources(const QRegularExpression &pattern, const std::function<bool(const QString &)> &known,
                             int *checked = nullptr)
{
    QStringList unknown;
    QDirIterator files(QStringLiteral(GLANTO_SOURCE_DIR "/src"), {"*.cpp", "*.h"}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            ADD_FAILURE() << "cannot read " << path.toStdString();
            continue;
        }
        const QString source = QString::fromUtf8(file.readAll());
        for (auto match = pattern.globalMatch(source); match.hasNext();) {
            const auto m = match.next();
            if (checked)
                ++*checked;
            if (known(m.captured(1)))
                continue;
            const int line = int(source.left(m.capturedStart()).count(u'\n')) + 1;
            unknown.append(QStringLiteral("%1:%2: %3").arg(path).arg(line).arg(m.captured(1)));
        }
    }
    return unknown;
}

// Restores the locale-chosen language after a test that picks one.
struct LanguageGuard
{
    ~LanguageGuard() { Texts::setLanguage({}); }
};

} // namespace

TEST(TextTable, ParsesEscapesAndReportsBrokenLines)
{
    QStringList problems;
    const TextTable table = Texts::parseTable("key\ttext\n"
                                              "a.one\tline\\nnext\\tcol \\\\ back\n"
                                              "\n"
                                              "no tab here\n"
                                              "a.two\t%d 张\r\n"
                                              "a.one\tsecond copy\n"
                                              "a.keep\tC:\\path\n",
                                              &problems);
    EXPECT_EQ(table.value("a.one"), u"line\nnext\tcol \\ back");
    EXPECT_EQ(table.value("a.two"), u"%d 张");                // CRLF line ends are accepted
    EXPECT_EQ(table.value("a.keep"), u"C:\\path");            // an unknown escape stays as written
    EXPECT_EQ(table.size(), 3);
    ASSERT_EQ(problems.size(), 2);                            // the line without a tab, the repeated key
    EXPECT_TRUE(problems[0].contains(u"line 4"));
    EXPECT_TRUE(problems[1].contains(u"a.one"));

    problems.clear();
    Texts::parseTable("a.b\tc\n", &problems);
    EXPECT_EQ(problems.size(), 1);                            // no header line
}

TEST(TextTable, FillsPlaceholdersInOrderAndByPosition)
{
    using Texts::fill;
    EXPECT_EQ(fill(u"%d 组 · %d 张"_s, {"3", "12"}), u"3 组 · 12 张");
    EXPECT_EQ(fill(u"已导出 %1$@：%2$@ → %3$@"_s, {"a.jpg", "4 MB", "1 MB"}), u"已导出 a.jpg：4 MB → 1 MB");
    EXPECT_EQ(fill(u"Opened %2$@ in %1$@"_s, {"GIMP", "a.jpg"}), u"Opened a.jpg in GIMP");
    EXPECT_EQ(fill(u"%ld of %lu, %.1f s, %.0f mm, %+.1f EV, %03d"_s, {"1", "2", "0.5", "35", "+0.7", "007"}),
              u"1 of 2, 0.5 s, 35 mm, +0.7 EV, 007");
    // Percent signs that start no placeholder are text; %% is one percent sign.
    EXPECT_EQ(fill(u"在鼠标处放大到 100%，再按恢复"_s, {}), u"在鼠标处放大到 100%，再按恢复");
    EXPECT_EQ(fill(u"100% 之间 (100%) %% %d%%"_s, {"50"}), u"100% 之间 (100%) % 50%");
    EXPECT_EQ(fill(u"trailing %"_s, {}), u"trailing %");
    // A missing argument leaves its place empty; surplus ones are ignored.
    EXPECT_EQ(fill(u"[%@|%@]"_s, {"x"}), u"[x|]");
    EXPECT_EQ(fill(u"%@"_s, {"a", "b"}), u"a");
    // Arguments are inserted as they are, never read as placeholders themselves.
    EXPECT_EQ(fill(u"%@ and %@"_s, {"%@", "b"}), u"%@ and b");
}

TEST(TextTable, PluralGroupsFollowThePrecedingArgument)
{
    using Texts::fill;
    EXPECT_EQ(fill(u"Renamed %d {image|images}"_s, {"1"}), u"Renamed 1 image");
    EXPECT_EQ(fill(u"Renamed %d {image|images}"_s, {"0"}), u"Renamed 0 images");
    EXPECT_EQ(fill(u"%d {group|groups} · %d {photo|photos}"_s, {"1", "12"}), u"1 group · 12 photos");
    // Braces that are no group, or come before any placeholder, are text.
    EXPECT_EQ(fill(u"{a|b} %d {x}"_s, {"1"}), u"{a|b} 1 {x}");
}

TEST(TextTable, PlaceholderSignatures)
{
    using Texts::placeholders;
    EXPECT_EQ(placeholders(u"%d 份内容相同 · %d 张"_s), (QStringList{"1:d", "2:d"}));
    EXPECT_EQ(placeholders(u"%2$@ in %1$@"_s), placeholders(u"已用 %1$@ 打开 %2$@"_s));
    EXPECT_NE(placeholders(u"%@ %d"_s), placeholders(u"%d %@"_s));
    EXPECT_NE(placeholders(u"%.1f"_s), placeholders(u"%.0f"_s));
    EXPECT_TRUE(placeholders(u"实际大小 (100%) %%"_s).isEmpty());
}

TEST(TextTable, ChoosesLanguageFromPreferences)
{
    using Texts::chooseLanguage;
    const QStringList available{"zh", "en"};
    EXPECT_EQ(chooseLanguage({"zh-CN", "en"}, available), u"zh");
    EXPECT_EQ(chooseLanguage({"zh_TW.UTF-8"}, available), u"zh");
    EXPECT_EQ(chooseLanguage({"en-GB"}, available), u"en");
    EXPECT_EQ(chooseLanguage({"de-DE", "zh"}, available), u"zh");   // first language with a table wins
    EXPECT_EQ(chooseLanguage({"de-DE", "fr"}, available), u"en");   // none: English
    EXPECT_EQ(chooseLanguage({"C"}, available), u"en");
    EXPECT_EQ(chooseLanguage({}, available), u"en");
    EXPECT_EQ(chooseLanguage({"de"}, {"zh"}), u"zh");                // no English table: built-in
}

TEST(TextCatalog, FallsBackToBuiltInThenToTheKey)
{
    const TextCatalog catalog({{"menu.open", u"打开…"_s}, {"menu.quit", u"退出 Glanto"_s}},
                              {{"menu.open", u"Open…"_s}});
    EXPECT_EQ(catalog.text("menu.open"), u"Open…");
    EXPECT_EQ(catalog.text("menu.quit"), u"退出 Glanto");
    EXPECT_EQ(catalog.text("menu.nothing"), u"menu.nothing");
}

TEST(Texts, ConcurrentFirstUseIsSafe)
{
    // Decode threads ask for labels too; the tables must load once and stay put.
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&wrong] {
            for (int i = 0; i < 500; ++i) {
                const QString camera = Texts::text("exif.camera");
                if (camera != u"相机" && camera != u"Camera")
                    ++wrong;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(Texts, LooksUpInTheChosenLanguage)
{
    LanguageGuard guard;
    Texts::setLanguage(QStringLiteral("zh"));
    EXPECT_EQ(Texts::text("menu.open"), u"打开…");
    EXPECT_EQ(Texts::format("msg.renamedCount", {"3"}), u"已重命名 3 张图片");

    Texts::setLanguage(QStringLiteral("en_US"));
    EXPECT_EQ(Texts::text("menu.open"), u"Open…");
    EXPECT_EQ(Texts::format("msg.renamedCount", {"1"}), u"Renamed 1 image");
    EXPECT_EQ(Texts::text("list.separator"), u", ");              // the trailing space survives the table

    Texts::setLanguage(QStringLiteral("fr"));                      // no French table
    EXPECT_EQ(Texts::text("menu.open"), u"Open…");

    EXPECT_EQ(Texts::text("no.such.key"), u"no.such.key");
    EXPECT_FALSE(Texts::hasKey("no.such.key"));
}

TEST(Texts, EnvironmentOverridesTheLocale)
{
    LanguageGuard guard;
    qputenv("GLANTO_LANG", "zh_CN.UTF-8");
    Texts::setLanguage({});
    EXPECT_EQ(Texts::text("menu.quit"), u"退出 Glanto");
    qputenv("GLANTO_LANG", "de:en_GB");                           // like LANGUAGE: first with a table wins
    Texts::setLanguage({});
    EXPECT_EQ(Texts::text("menu.quit"), u"Quit Glanto");
    qunsetenv("GLANTO_LANG");
}

TEST(ShippedTables, ReadCleanlyAndTranslationsMatchTheBuiltInTexts)
{
    QStringList zhProblems, enProblems;
    const TextTable zh = shippedTable(QStringLiteral("zh"), &zhProblems);
    const TextTable en = shippedTable(QStringLiteral("en"), &enProblems);
    EXPECT_TRUE(zhProblems.isEmpty()) << zhProblems.join(u'\n').toStdString();
    EXPECT_TRUE(enProblems.isEmpty()) << enProblems.join(u'\n').toStdString();
    ASSERT_GT(zh.size(), 200);

    static const QRegularExpression keyShape(QStringLiteral("^[a-z][A-Za-z0-9]*(\\.[a-z][A-Za-z0-9]*)+$"));
    static const QRegularExpression cjk(QStringLiteral("[\\x{4e00}-\\x{9fff}\\x{3001}\\x{3002}\\x{300c}\\x{300d}]"));
    for (auto it = zh.cbegin(); it != zh.cend(); ++it) {
        const QString key = QString::fromUtf8(it.key());
        EXPECT_TRUE(keyShape.match(key).hasMatch()) << key.toStdString();
        EXPECT_FALSE(it->trimmed().isEmpty()) << key.toStdString();
        EXPECT_TRUE(en.contains(it.key())) << "no English text for " << key.toStdString();
    }
    for (auto it = en.cbegin(); it != en.cend(); ++it) {
        const std::string key = it.key().toStdString();
        ASSERT_TRUE(zh.contains(it.key())) << key << " is translated but has no built-in text";
        EXPECT_EQ(Texts::placeholders(*it), Texts::placeholders(zh.value(it.key())))
            << key << ": \"" << it->toStdString() << "\"";
        EXPECT_FALSE(cjk.match(*it).hasMatch()) << key << " still holds Chinese";
    }
}

TEST(ShippedTables, BuiltInTextsSayTheLinuxThing)
{
    const TextTable zh = shippedTable(QStringLiteral("zh"));
    const TextTable en = shippedTable(QStringLiteral("en"));
    ASSERT_FALSE(zh.isEmpty());

    QSet<QByteArray> listed;
    for (const TextAdaptation &a : Texts::adaptations()) {
        EXPECT_FALSE(listed.contains(a.key)) << a.key << " listed twice";
        listed.insert(a.key);
        EXPECT_EQ(zh.value(a.key), QString::fromUtf8(a.adapted)) << a.key;
        EXPECT_NE(QString::fromUtf8(a.original), QString::fromUtf8(a.adapted)) << a.key;
        EXPECT_EQ(Texts::placeholders(QString::fromUtf8(a.original)),
                  Texts::placeholders(QString::fromUtf8(a.adapted))) << a.key;
        EXPECT_GT(std::strlen(a.reason), 10u) << a.key;
    }

    // What only exists on macOS must not reach the screen in either language.
    const QStringList macOnly{"⌘", "⌥", "⌃", "⇧", "⌫", "Finder", "访达", "macOS", "Mac ", "废纸篓",
                              "/Applications", "应用程序", "Mos "};
    for (const TextTable *table : {&zh, &en}) {
        for (auto it = table->cbegin(); it != table->cend(); ++it) {
            for (const QString &word : macOnly)
                EXPECT_FALSE(it->contains(word)) << it.key().toStdString() << " says " << word.toStdString();
        }
    }
}

TEST(SourceKeys, EveryLiteralKeyInTheProgramExists)
{
    // Texts::text("...") and Texts::format("...", ...) with a literal key anywhere in
    // the program must name a key of the built-in table.
    static const QRegularExpression call(
        QStringLiteral(R"(Texts::(?:text|format)\(\s*"((?:[^"\\]|\\.)*)\")"));
    int checked = 0;
    const QStringList missing = unknownInSources(
            call, [](const QString &key) { return Texts::hasKey(key.toUtf8().constData()); }, &checked);
    EXPECT_TRUE(missing.isEmpty()) << "unknown text keys:\n" << missing.join(u'\n').toStdString();
    RecordProperty("literalKeysChecked", checked);
}

TEST(SourceKeys, KeyShapedLiteralsInTablesExist)
{
    // Keys also sit in tables ({action, "menu.prev"}) and reach Texts::text through a
    // variable. Any string literal shaped like a key of one of the table's families
    // ("menu.", "sc.", ...) must be a key; file names ("cleanup.plist") are not keys.
    const TextTable zh = shippedTable(QStringLiteral("zh"));
    ASSERT_FALSE(zh.isEmpty());
    QSet<QString> families;
    for (auto it = zh.cbegin(); it != zh.cend(); ++it)
        families.insert(QString::fromUtf8(it.key()).section(u'.', 0, 0));
    const QString alternatives = QStringList(families.cbegin(), families.cend()).join(u'|');
    const QRegularExpression literal(QStringLiteral(R"re("((?:%1)(?:\.[a-z][A-Za-z0-9]*)+)")re").arg(alternatives));
    static const QRegularExpression fileName(
        QStringLiteral(R"(\.(plist|json|tsv|conf|ini|txt|log|xml|desktop|svg|png|jpe?g|dmg|so|cpp|h)$)"));
    const QStringList missing = unknownInSources(literal, [&](const QString &key) {
        return fileName.match(key).hasMatch() || zh.contains(key.toUtf8());
    });
    EXPECT_TRUE(missing.isEmpty()) << "key-shaped literals that are no key:\n" << missing.join(u'\n').toStdString();
}
