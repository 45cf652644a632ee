// Waiting for a screen to hold still before a render: layouts settled and transitions ended.
#pragma once

#include "support/test_support.h"

#include <QList>
#include <QRect>
#include <QWidget>

namespace screenstest {

// Runs the event loop until two passes in a row leave every widget under the root where it was (a
// height-for-width layout takes more than one pass) and no finite animation under it runs.
inline bool settle(QWidget *root)
{
    QList<QRect> previous;
    bool first = true;
    return testsupport::waitFor([&] {
        QList<QRect> now;
        for (const QWidget *child : root->findChildren<QWidget *>())
            now << (child->isVisible() ? child->geometry() : QRect());
        const bool still = !first && now == previous && testsupport::animationsSettled(root);
        previous = std::move(now);
        first = false;
        return still;
    });
}

} // namespace screenstest
