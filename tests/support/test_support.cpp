// Helpers every test program shares.
#include "support/test_support.h"

#include <QAbstractAnimation>
#include <QCoreApplication>
#include <QColor>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <optional>

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

void retype(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

int pixelsOfColor(const QImage &image, const QRect &area, const QColor &color, int tolerance)
{
    int count = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (qAbs(pixel.red() - color.red()) <= tolerance && qAbs(pixel.green() - color.green()) <= tolerance
                && qAbs(pixel.blue() - color.blue()) <= tolerance)
                ++count;
        }
    }
    return count;
}

bool pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QWindow *window = QGuiApplication::focusWindow();
    if (!window)
        return false;
    QTest::keyClick(window, key, modifiers);
    return true;
}

bool waitFor(const std::function<bool()> &predicate, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    // Sleeps until the next event rather than for a fixed time, so a reply is seen the moment it
    // arrives; the tick wakes it for conditions no event of this thread announces (another process,
    // another thread). What that event set off is run too before the condition is looked at again.
    QTimer tick;
    tick.start(2);
    bool waited = false;
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        waited = true;
    }
    // Callers that read a clock once the condition holds find a little time gone since the events
    // that made it hold (a fade that just started has moved on), as they did when this loop slept.
    if (waited)
        QThread::msleep(2);
    return true;
}

bool animationsSettled(const QObject *root)
{
    const QList<QAbstractAnimation *> animations = root->findChildren<QAbstractAnimation *>();
    return std::none_of(animations.begin(), animations.end(), [](const QAbstractAnimation *animation) {
        return animation->state() == QAbstractAnimation::Running && animation->loopCount() != -1;
    });
}

namespace {

// Fields of /proc/<pid>/stat: the name and, after it, the state and the parent's pid.
struct ProcStat
{
    QByteArray name;
    char state = '?';
    qint64 parent = 0;
};

std::optional<ProcStat> procStat(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = file.readAll();
    const qsizetype open = line.indexOf('(');
    const qsizetype close = line.lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    const QList<QByteArray> rest = line.mid(close + 2).split(' ');
    if (rest.size() < 2)
        return std::nullopt;
    return ProcStat{line.mid(open + 1, close - open - 1), rest[0].isEmpty() ? '?' : rest[0][0], rest[1].toLongLong()};
}

} // namespace

qint64 engineChildOf(qint64 parent)
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        const auto stat = procStat(pid);
        if (stat && stat->parent == parent && stat->name.startsWith("kestrion-engin"))
            return pid;
    }
    return 0;
}

bool processGone(qint64 pid)
{
    const auto stat = procStat(pid);
    return !stat || stat->state == 'Z';
}

} // namespace testsupport
