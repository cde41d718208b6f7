#pragma once

// Where the tests find their photos.
//
// A small set of photos travels with the repository (tests/data/photos, laid out
// like the corpus and credited in its CREDITS.md), so that the core tests of every
// subsystem run on a fresh clone. The full corpus (a folder holding manifest.tsv)
// is looked for at run time: GLANTO_CORPUS_DIR in the environment, else the folder
// the build was configured with. Tests that sweep the corpus sit in suites whose
// name ends in "Corpus" and skip themselves when it is missing; ctest runs those
// suites as a test of their own (NAME_corpus) and reports it as skipped.

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <gtest/gtest.h>

namespace TestData {

// The corpus folder, or an empty string when there is none.
inline QString corpusDir()
{
    static const QString dir = [] {
        // Set but empty in the environment means "no corpus" (scripts/test found none).
        const QString candidate = qEnvironmentVariableIsSet("GLANTO_CORPUS_DIR")
                                      ? qEnvironmentVariable("GLANTO_CORPUS_DIR")
                                      : QStringLiteral(GLANTO_CORPUS_DIR);
        if (candidate.isEmpty() || !QFileInfo(candidate + QStringLiteral("/manifest.tsv")).isFile())
            return QString();
        return QDir(candidate).absolutePath();
    }();
    return dir;
}

inline bool hasCorpus()
{
    return !corpusDir().isEmpty();
}

inline const char *missingCorpusMessage()
{
    return "no test corpus: set GLANTO_CORPUS_DIR=/path/to/corpus (the folder holding manifest.tsv) to run this sweep";
}

// The photos bundled with the repository.
inline QString bundledDir()
{
    return QStringLiteral(GLANTO_SOURCE_DIR "/tests/data/photos");
}

// A photo by its path inside the corpus ("formats/hopper.jpg"): the bundled copy
// when the repository carries one (the same bytes), else the corpus's own.
inline QString photo(const QString &relative)
{
    const QString bundled = bundledDir() + u'/' + relative;
    if (QFileInfo::exists(bundled))
        return bundled;
    return corpusDir() + u'/' + relative;
}

} // namespace TestData

// The first statement of every test of a *Corpus suite.
#define GLANTO_NEEDS_CORPUS()                                                                                          \
    do {                                                                                                               \
        if (!TestData::hasCorpus())                                                                                    \
            GTEST_SKIP() << TestData::missingCorpusMessage();                                                          \
    } while (false)
