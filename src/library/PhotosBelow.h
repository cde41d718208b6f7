#pragma once

#include <QString>

#include <optional>

// A folder without photos of its own often holds them a level or two down: a
// camera card's root and its DCIM folder, an export folder of dated
// sub-folders. This finds the nearest such folder below, for the empty view to
// offer.
//
// The search goes breadth first, in the file browser's name order, at most
// three levels down and through at most 256 folders, so a home folder or a
// network share answers quickly. Hidden folders and links to folders are not
// entered (a link may lead anywhere, or back up). A folder counts when it
// holds a regular file whose name the program treats as an image.
std::optional<QString> nearestFolderWithPhotos(const QString &folder);
