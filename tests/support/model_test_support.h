// Helpers of the item model tests: what QAbstractItemModelTester reports, and which change signals a model sent.
#pragma once

#include <QAbstractItemModel>
#include <QSignalSpy>
#include <QStringList>
#include <QtGlobal>

#include <utility>

namespace testsupport {

// Collects what QAbstractItemModelTester reports, so a broken model fails the test instead of passing quietly.
class ModelTestMessages
{
public:
    ModelTestMessages() { s_previous = qInstallMessageHandler(&ModelTestMessages::handle); }
    ~ModelTestMessages() { qInstallMessageHandler(s_previous); }
    static QStringList take() { return std::exchange(s_messages, {}); }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (context.category && qstrcmp(context.category, "qt.modeltest") == 0 && type != QtDebugMsg) {
            s_messages.append(message);
            return;
        }
        if (s_previous)
            s_previous(type, context, message);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline QStringList s_messages;
};

// Records a model's change signals: data changes apart from the structural ones (rows in or out, resets, layouts).
struct ModelSignals
{
    explicit ModelSignals(QAbstractItemModel *model)
        : changed(model, &QAbstractItemModel::dataChanged)
        , inserted(model, &QAbstractItemModel::rowsInserted)
        , removed(model, &QAbstractItemModel::rowsRemoved)
        , reset(model, &QAbstractItemModel::modelReset)
        , layout(model, &QAbstractItemModel::layoutChanged)
    {
    }
    int structural() const { return int(inserted.count() + removed.count() + reset.count() + layout.count()); }

    QSignalSpy changed;
    QSignalSpy inserted;
    QSignalSpy removed;
    QSignalSpy reset;
    QSignalSpy layout;
};

} // namespace testsupport
