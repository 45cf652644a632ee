// Helpers every test program shares.
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QThread>
#include <QWidget>

namespace testsupport {

QString standinEnginePath()
{
    return QStringLiteral(KESTRION_TEST_ENGINE);
}

QString sourceDir()
{
    return QStringLiteral(KESTRION_SOURCE_DIR);
}

QString saveRender(QWidget *widget, const QString &subdir, const QString &name)
{
    const QString dir = QStringLiteral(KESTRION_RENDERS_DIR) + QLatin1Char('/') + subdir;
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    widget->grab().toImage().save(path);
    return path;
}

bool waitFor(const std::function<bool()> &predicate, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

} // namespace testsupport
