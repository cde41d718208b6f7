#include "library/FolderModel.h"
#include "library/NameOrder.h"
#include "platform/SupportedFiles.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

QStringList sortedByCompare(QStringList names, const NameOrder &order)
{
    std::sort(names.begin(), names.end(), [&](const QString &a, const QString &b) { return order.lessThan(a, b); });
    return names;
}

QStringList sortedByKeys(const QStringList &names, const NameOrder &order)
{
    std::vector<NameOrder::Key> keys;
    for (const QString &name : names)
        keys.push_back(order.key(name));
    std::sort(keys.begin(), keys.end(), [&](const auto &a, const auto &b) { return order.compare(a, b) < 0; });
    QStringList sorted;
    for (const auto &key : keys)
        sorted << key.name();
    return sorted;
}

// The expected order must come out of any starting order, by both ways of
// comparing.
void expectOrder(const QStringList &expected, const NameOrder &order = NameOrder())
{
    QStringList shuffled = expected;
    std::reverse(shuffled.begin(), shuffled.end());
    EXPECT_EQ(sortedByCompare(shuffled, order), expected);
    EXPECT_EQ(sortedByKeys(shuffled, order), expected);
    std::shuffle(shuffled.begin(), shuffled.end(), *QRandomGenerator::global());
    EXPECT_EQ(sortedByCompare(shuffled, order), expected);
    EXPECT_EQ(sortedByKeys(shuffled, order), expected);
}

TEST(NameOrderTest, DigitRunsCompareByValueAndLettersWithoutCase)
{
    expectOrder({"2.jpg", "10.jpg"});
    expectOrder({"img2.jpg", "IMG3.jpg", "img10.jpg"});
    expectOrder({"IMG_0009.JPG", "img_0010.jpg", "IMG_0100.jpg"});
    expectOrder({"a.jpg", "B.jpg", "c.jpg"});
    expectOrder({"photo 1 (2).jpg", "photo 1 (10).jpg", "photo 2.jpg"});
    // A digit run only counts as a number within its run: 1.5 is 1, then 5.
    expectOrder({"v1.5.jpg", "v1.10.jpg", "v2.jpg"});
    // Punctuation sorts before digits, digits before letters.
    expectOrder({"a.jpg", "a1.jpg", "ab.jpg"});
}

TEST(NameOrderTest, LongDigitRunsDoNotOverflow)
{
    expectOrder({"x9.jpg", "x18446744073709551615.jpg", "x18446744073709551616.jpg",
                 "x123456789012345678901234567890.jpg", "x123456789012345678901234567891.jpg",
                 "x" + QString(200, u'9') + ".jpg", "x1" + QString(200, u'0') + ".jpg"});
}

TEST(NameOrderTest, TiesAreBrokenDeterministically)
{
    const NameOrder order;
    // Leading zeros: same value, still a fixed order, the same either way round.
    for (const auto &[a, b] : {std::pair<QString, QString>{"01.jpg", "1.jpg"}, {"001.jpg", "01.jpg"},
                               {"a.jpg", "A.jpg"}, {"IMG.JPG", "img.jpg"}}) {
        const int ab = order.compare(a, b);
        const int ba = order.compare(b, a);
        EXPECT_NE(ab, 0) << qPrintable(a) << " " << qPrintable(b);
        EXPECT_EQ(ab, -ba) << qPrintable(a) << " " << qPrintable(b);
        EXPECT_EQ(order.compare(order.key(a), order.key(b)), ab);
    }
    // Numbers still outrank the tie-breaks: 001 < 2 < 03.
    expectOrder({"001.jpg", "01.jpg", "1.jpg", "2.jpg", "03.jpg", "3.jpg"});
    // Case comes after every letter difference.
    expectOrder({"a.jpg", "A.jpg", "b.jpg", "B.jpg"});
    EXPECT_EQ(order.compare("same.jpg", "same.jpg"), 0);
}

TEST(NameOrderTest, UnicodeLettersAndDigits)
{
    const NameOrder english(QLocale(QLocale::English, QLocale::UnitedStates));
    expectOrder({"e.jpg", "é.jpg", "f.jpg", "z.jpg"}, english);
    expectOrder({"Éclair.jpg", "eclairs.jpg"}, english);
    // Case-insensitive beyond ASCII.
    expectOrder({"ä1.jpg", "Ä2.jpg", "ä3.jpg"}, english);
    // Digits of other scripts and full-width digits are numbers too.
    expectOrder({"x２.jpg", "x٣.jpg", "x10.jpg"}, english);

    // Chinese names follow the language's own order (pinyin: li before zhang).
    const NameOrder chinese(QLocale(QLocale::Chinese, QLocale::China));
    expectOrder({"李.jpg", "张.jpg"}, chinese);
    expectOrder({"照片2.jpg", "照片10.jpg"}, chinese);
}

TEST(NameOrderTest, ThePosixLocaleStillSortsLikeTheFileBrowser)
{
    const NameOrder posix(QLocale::c());
    expectOrder({"img2.jpg", "IMG3.jpg", "img10.jpg"}, posix);
    expectOrder({"e.jpg", "é.jpg", "f.jpg"}, posix);
}

TEST(NameOrderTest, IsATotalOrderOverMixedNames)
{
    // Transitivity and antisymmetry over a crowd of awkward names; a broken
    // comparator makes std::sort misbehave in ways the other tests can miss.
    QStringList names;
    const QStringList stems{"img", "IMG", "Img_", "photo ", "é", "e", "", "照片", "x-"};
    const QStringList numbers{"", "0", "00", "1", "01", "2", "10", "010", "99999999999999999999"};
    for (const QString &stem : stems) {
        for (const QString &number : numbers)
            names << stem + number + ".jpg" << stem + number + "a.JPG";
    }
    const NameOrder order;
    std::vector<NameOrder::Key> keys;
    for (const QString &name : names)
        keys.push_back(order.key(name));
    for (size_t i = 0; i < keys.size(); ++i) {
        for (size_t j = 0; j < keys.size(); ++j) {
            const int ij = order.compare(keys[i], keys[j]);
            ASSERT_EQ(ij, -order.compare(keys[j], keys[i]));
            ASSERT_EQ(ij == 0, names[i] == names[j]);
            ASSERT_EQ(ij, order.compare(names[i], names[j]));
        }
    }
    const QStringList sorted = sortedByKeys(names, order);
    for (qsizetype i = 0; i + 1 < sorted.size(); ++i) {
        for (qsizetype j = i + 1; j < sorted.size(); ++j)
            ASSERT_LT(order.compare(sorted[i], sorted[j]), 0) << qPrintable(sorted[i]) << " " << qPrintable(sorted[j]);
    }
}

TEST(NameOrderTest, SortItemsOrdersByTheFileNameOnly)
{
    QList<ImageItem> items;
    for (const char *url : {"/b/img10.jpg", "/c/IMG3.jpg", "/a/img2.jpg"})
        items.append(ImageItem{url, {}, {}, {}, 0, {}});
    FolderModel::sortItems(items, SortKey::name, false);
    QStringList urls;
    for (const ImageItem &item : items)
        urls << item.url;
    EXPECT_EQ(urls, (QStringList{"/a/img2.jpg", "/c/IMG3.jpg", "/b/img10.jpg"}));
}

TEST(SupportedFilesTest, EveryExtensionInAnyCase)
{
    for (const QString &extension : supportedImageExtensions()) {
        EXPECT_TRUE(isSupportedImageName("photo." + extension)) << qPrintable(extension);
        EXPECT_TRUE(isSupportedImageName("PHOTO." + extension.toUpper())) << qPrintable(extension);
    }
    for (const QString &extension : rawExtensions())
        EXPECT_TRUE(supportedImageExtensions().contains(extension)) << qPrintable(extension);
    EXPECT_TRUE(isSupportedImageName("a.JpEg"));
    EXPECT_TRUE(isSupportedImageName("archive.tar.jpg"));
    EXPECT_TRUE(isSupportedImageName("照片.HEIC"));
    EXPECT_TRUE(isRawImageName("IMG_0001.CR3"));
    EXPECT_FALSE(isRawImageName("IMG_0001.JPG"));
}

TEST(SupportedFilesTest, OnlyTheLastExtensionOfTheNameCounts)
{
    for (const char *name : {"jpg", "photo.jpg.txt", "photo.jpgx", "photo.", "photo", "photo.mp4",
                             "photo.svg", "photo.jpeg2", "photo.tiff ", "", ".", "photo.jpg/"})
        EXPECT_FALSE(isSupportedImageName(QString::fromUtf8(name))) << name;
    EXPECT_EQ(imageNameExtension("a.B.JpG"), "jpg");
    EXPECT_EQ(imageNameExtension(".jpg"), "");
}

} // namespace
