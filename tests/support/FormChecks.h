#ifndef FORMCHECKS_H
#define FORMCHECKS_H

#include "BoxAnswerer.h"

#include <QSize>
#include <QString>
#include <QStringList>

class QLabel;
class QProgressBar;
class QWidget;

// Checks of forms and windows shared by the in-process window tests. The verify functions fail
// the running test through QCOMPARE/QVERIFY.

// The url(...) pictures of a style sheet, in order.
QStringList imageUrls(const QString &styleSheet);
// A PNG picture's size; empty when the file is missing or not a PNG. Relative paths start in the
// working directory, as the windows find their pictures.
QSize pngSize(const QString &path);
// Object names of the child widgets, bottom to top (raise() moves a widget to the end).
QStringList childStack(const QWidget *parent);
// A frameless window whose background is see-through in every palette group.
void verifySeeThrough(const QWidget *window);
// A transparent bar filled by its chunk picture, white text (grey when disabled), over `bottom`
// (same place) and under `frame`, which reaches 20 px further left, 18 right, 10 up and 21 down
// and is see-through where the bar lies, so the bar shows between the two pictures.
void verifyFramedBar(
    const QProgressBar *bar, const QString &chunk, const QLabel *frame, const QLabel *bottom);
// Each answered box as "<icon> <title>: <text> [<buttons>]": a whole sequence compares at once.
QStringList seenBoxes(const BoxAnswerer &boxes);

#endif
