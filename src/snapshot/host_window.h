// An off-screen, frameless window of a fixed size that hosts one view and writes what it draws to a PNG file.
#pragma once

#include "design/palette.h"

#include <QPointer>
#include <QWidget>

class HostWindow final : public QWidget
{
    Q_OBJECT
public:
    enum class Capture {
        written,   // the PNG was written
        failed,    // no image, or the file could not be written
        noContent, // the window was already torn down: nothing to report
    };

    // Takes ownership of root and lays it out at exactly size, under palette. The window is shown
    // without ever reaching the screen, so show events, loads and layouts run as in a real window.
    HostWindow(QWidget *root, QSize size, const Palette &palette);

    QWidget *content() const { return m_content; }
    Capture capture(const QString &path);
    // Drops the hosted view (and its state), then closes the window.
    void tearDown();

private:
    QPointer<QWidget> m_content;
};
