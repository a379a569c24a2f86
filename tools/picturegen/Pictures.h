#pragma once

#include <QImage>
#include <QString>
#include <QVector>

#include <functional>

struct Picture
{
    QString name; // file name under images/
    std::function<QImage()> make;
};

// Every picture the windows name, in the order they are written.
QVector<Picture> allPictures();

// The windows put together from the written pictures at their form positions, for review.
QImage composePreview(const QString &imagesDir);
