#ifndef FORMCHECKS_H
#define FORMCHECKS_H

#include <QString>
#include <QTest>

// Checks shared by the in-process window tests; they fail the running test.

// Every picture a window names, in its own and its children's style sheets or as a label's
// picture, is there at the size it is drawn: its widget's, or the width and height that a
// sub-control's rules declare. A label without text must show a picture. Widgets the window
// never shows are skipped.
void verifyPictures(const QWidget *window);
// A frameless window whose background is see-through.
void verifySeeThrough(const QWidget *window);

// All of text matches the regular expression ('.' takes line feeds too).
bool matches(const QString &pattern, const QString &text);
#define VERIFY_MATCHES(pattern, text) QVERIFY2(matches(pattern, text), qPrintable(text))

#endif
