// Colour transforms are built once per embedded profile and shared by every decode
// thread. More distinct profiles than the cache keeps, decoded from several threads
// at once, must not free a transform another thread is still using (run under
// scripts/asan to see a use after free), and each photo must come out exactly as
// it does when decoded alone.

#include "platform/Codec.h"

#include "TestData.h"
#include "support/IccProfiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <lcms2.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// A matrix-shaper RGB profile of its own gamma and description: every index
// gives a profile with different bytes and a different transform.
QByteArray makeProfile(int index)
{
    const cmsCIExyY whitePoint{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve *curve = cmsBuildGamma(nullptr, 1.6 + index * 0.01);
    cmsToneCurve *curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&whitePoint, &primaries, curves);
    cmsFreeToneCurve(curve);
    cmsMLU *description = cmsMLUalloc(nullptr, 1);
    const std::string text = "Test profile " + std::to_string(index);
    cmsMLUsetASCII(description, "en", "US", text.c_str());
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, description);
    cmsMLUfree(description);
    return takeProfileBytes(profile);
}

// The JPEG with the profile in an APP2 ICC_PROFILE segment right after SOI.
QByteArray withProfile(const QByteArray &jpeg, const QByteArray &profile)
{
    QByteArray segment("ICC_PROFILE", 12); // with its terminating zero
    segment.append(char(1)).append(char(1)).append(profile);
    const int length = int(segment.size()) + 2;
    QByteArray marker;
    marker.append(char(0xFF)).append(char(0xE2)).append(char(length >> 8)).append(char(length & 0xFF));
    return jpeg.left(2) + marker + segment + jpeg.mid(2);
}

} // namespace

TEST(ColorTransforms, ManyProfilesDecodedFromSeveralThreadsAtOnce)
{
    QFile source(TestData::photo("formats/hopper.jpg"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray jpeg = source.readAll();
    QTemporaryDir dir;
    constexpr int profiles = 150; // more than twice what the cache keeps
    QStringList paths;
    for (int i = 0; i < profiles; ++i) {
        const QString path = dir.filePath(QStringLiteral("p%1.jpg").arg(i));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(withProfile(jpeg, makeProfile(i)));
        paths.append(path);
    }
    ASSERT_EQ(Codec::colorProfileName(paths[7]), QStringLiteral("Test profile 7"));

    // Each photo decoded alone, with the cache as cold as it gets.
    std::vector<QImage> alone;
    for (const QString &path : paths) {
        alone.push_back(Codec::decodeFull(path));
        ASSERT_FALSE(alone.back().isNull()) << qPrintable(path);
    }
    // The profiles differ, and so do their results.
    EXPECT_NE(alone.front(), alone.back());

    constexpr int threads = 4;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                for (int k = 0; k < profiles; ++k) {
                    // Each thread walks the profiles from its own starting point,
                    // so that the cache turns over while others decode.
                    const int i = (k * (t + 1) + t * 37) % profiles;
                    if (Codec::decodeFull(paths[i]) != alone[size_t(i)])
                        ++mismatches;
                }
            }
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    EXPECT_EQ(mismatches.load(), 0);
}
