#ifndef FORMCHECKS_H
#define FORMCHECKS_H

#include <QTest>

// Checks shared by the in-process window tests; they fail the running test.

// A window's form as a player's install draws it: every picture it names, in its own and its
// children's style sheets or as a label's picture, is there at the size it is drawn (its
// widget's, or the width and height a sub-control's rules declare); a label without text
// shows a picture; widgets the window never shows are skipped. A frameless window, and only
// such a one, is see-through around its pictures.
void verifyForm(const QWidget *window);

// All of text matches the regular expression ('.' takes line feeds too).
bool matches(const QString &pattern, const QString &text);
#define VERIFY_MATCHES(pattern, text) QVERIFY2(matches(pattern, text), qPrintable(text))

#endif
