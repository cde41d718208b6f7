#pragma once

#include <QByteArray>

#include <lcms2.h>

// A profile made with lcms2 for a test, as the bytes a file would embed. The
// profile is closed.
inline QByteArray takeProfileBytes(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// A grey profile with a linear tone curve: grey 80 in it is light in sRGB.
inline QByteArray linearGreyProfile()
{
    cmsToneCurve *linear = cmsBuildGamma(nullptr, 1.0);
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), linear);
    cmsFreeToneCurve(linear);
    return takeProfileBytes(profile);
}
