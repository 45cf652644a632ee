// An off-screen, frameless host window and its PNG capture.
#include "snapshot/host_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QLayout>
#include <QPixmap>
#include <QSaveFile>

HostWindow::HostWindow(QWidget *root, QSize size, const Palette &palette)
    : QWidget(nullptr, Qt::FramelessWindowHint)
    , m_content(root)
{
    setAttribute(Qt::WA_DontShowOnScreen);
    // Closing a capture window must never end the application.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(size);
    root->setParent(this);
    root->setGeometry(0, 0, size.width(), size.height());
    root->setFixedSize(size);
    // Set once the content is ours, so that widgets styled when they were built (a field's placeholder)
    // are told the palette, as in the live window's sheets.
    PaletteHost::set(this, palette);
    show();
    root->show();
}

HostWindow::Capture HostWindow::capture(const QString &path)
{
    if (!m_content)
        return Capture::noContent;
    // Pending layouts and deferred updates first, so the image shows the settled view.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (QLayout *layout = m_content->layout())
        layout->activate();
    QCoreApplication::sendPostedEvents();
    const QImage image = m_content->grab().toImage();
    if (image.isNull())
        return Capture::failed;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Capture::failed;
    if (!image.save(&file, "PNG"))
        return Capture::failed;
    return file.commit() ? Capture::written : Capture::failed;
}

void HostWindow::tearDown()
{
    delete m_content.data();
    close();
}
