// The APNG reader: the chunk walk the probe runs to tell an animation from a still
// PNG, and the frame reader with its composition of frames on the canvas.

#include "FuzzSupport.h"

#include "platform/CodecInternal.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const Fuzz::InputFile file(QStringLiteral(".png"));
    const QString &path = file.write(data, size);
    CodecDetail::pngHasAnimationControl(path);
    if (const auto animation = CodecDetail::apngFrames(path)) {
        FUZZ_CHECK(!animation->frames.isEmpty());
        FUZZ_CHECK(animation->frames.size() == animation->delaysMs.size());
        FUZZ_CHECK(animation->loopCount >= 0);
        const QSize canvas = animation->frames.first().size();
        for (const QImage &frame : animation->frames) {
            FUZZ_CHECK(!frame.isNull() && frame.size() == canvas);
            FUZZ_CHECK(frame.format() == QImage::Format_RGBA8888_Premultiplied);
        }
        for (int delay : animation->delaysMs)
            FUZZ_CHECK(delay >= 0);
    }
    return 0;
}
