// The record list model keeps rows in place across reloads: persistent rows survive, only changed rows repaint.
#include "screens/routes/record_list.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

QList<RecordListModel::Item> items(std::initializer_list<std::pair<const char *, const char *>> rows)
{
    QList<RecordListModel::Item> out;
    for (const auto &[id, name] : rows)
        out.append(RecordListModel::Item{QString::fromLatin1(id), {{Qt::DisplayRole, QString::fromLatin1(name)}}});
    return out;
}

QStringList ids(const RecordListModel &model)
{
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row)
        out.append(model.index(row).data(RecordListModel::IdRole).toString());
    return out;
}

} // namespace

TEST(RecordListModel, ReloadsKeepRowsInPlace)
{
    RecordListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setItems(items({{"a", "A"}, {"b", "B"}, {"c", "C"}}));
    const QPersistentModelIndex c = model.index(2);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    // The same ids with one new name: one row repaints, nothing moves.
    model.setItems(items({{"a", "A"}, {"b", "B2"}, {"c", "C"}}));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.first().at(0).toModelIndex().row(), 1);
    EXPECT_EQ(model.index(1).data().toString(), QStringLiteral("B2"));

    // A row removed in the middle: the row after it keeps its persistent index.
    model.setItems(items({{"a", "A"}, {"c", "C"}}));
    EXPECT_EQ(ids(model), QStringList({"a", "c"}));
    EXPECT_TRUE(c.isValid());
    EXPECT_EQ(c.row(), 1);

    // Inserted, reordered, emptied and filled again: always the given order, never a reset.
    model.setItems(items({{"a", "A"}, {"x", "X"}, {"c", "C"}}));
    EXPECT_EQ(ids(model), QStringList({"a", "x", "c"}));
    model.setItems(items({{"c", "C"}, {"a", "A"}}));
    EXPECT_EQ(ids(model), QStringList({"c", "a"}));
    model.setItems({});
    EXPECT_EQ(model.rowCount(), 0);
    model.setItems(items({{"z", "Z"}}));
    EXPECT_EQ(ids(model), QStringList({"z"}));
    EXPECT_EQ(model.rowOf(QStringLiteral("z")), 0);
    EXPECT_EQ(model.rowOf(QStringLiteral("a")), -1);
    EXPECT_EQ(resets.count(), 0);
}
