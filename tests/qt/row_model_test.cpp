// The row model behind every list view and list box: rows removed in one call, and the ids
// that carry the view's selection and current row across the reset that publishes them.

#include <QAbstractItemModelTester>
#include <QTest>

#include <string>
#include <vector>

#include "platform/qt/row_model.h"

using kopiensieb::RowModel;

namespace {

// Six rows "r0".."r5" with a second cell "s0".."s5", all published.
void FillSixRows(RowModel& model) {
  for (int row = 0; row < 6; ++row) {
    model.InsertRow(-1, "r" + std::to_string(row));
    model.SetCell(row, 1, "s" + std::to_string(row));
  }
  model.Publish({});
}

// The texts of one column as the view reads them.
std::vector<std::string> ShownColumn(const RowModel& model, int column) {
  std::vector<std::string> texts;
  for (int row = 0; row < model.rowCount(); ++row) {
    texts.push_back(model.data(model.index(row, column)).toString().toStdString());
  }
  return texts;
}

std::vector<std::string> Named(char prefix, const std::vector<int>& numbers) {
  std::vector<std::string> texts;
  for (const int number : numbers) {
    texts.push_back(std::string(1, prefix) + std::to_string(number));
  }
  return texts;
}

}  // namespace

class RowModelTest : public QObject {
  Q_OBJECT

 private slots:
  void removedRowsLeaveTheOthersWithTheirTexts_data() {
    QTest::addColumn<std::vector<int>>("removed");
    QTest::addColumn<std::vector<int>>("left");
    QTest::newRow("first") << std::vector<int>{0} << std::vector<int>{1, 2, 3, 4, 5};
    QTest::newRow("second") << std::vector<int>{1} << std::vector<int>{0, 2, 3, 4, 5};
    QTest::newRow("last") << std::vector<int>{5} << std::vector<int>{0, 1, 2, 3, 4};
    QTest::newRow("between") << std::vector<int>{1, 3} << std::vector<int>{0, 2, 4, 5};
    QTest::newRow("both ends") << std::vector<int>{0, 5} << std::vector<int>{1, 2, 3, 4};
    QTest::newRow("a run in the middle") << std::vector<int>{2, 3, 4} << std::vector<int>{0, 1, 5};
    QTest::newRow("all") << std::vector<int>{0, 1, 2, 3, 4, 5} << std::vector<int>{};
    QTest::newRow("none") << std::vector<int>{} << std::vector<int>{0, 1, 2, 3, 4, 5};
    QTest::newRow("outside the rows")
        << std::vector<int>{-1, 6, 99} << std::vector<int>{0, 1, 2, 3, 4, 5};
    QTest::newRow("twice the same") << std::vector<int>{4, 4} << std::vector<int>{0, 1, 2, 3, 5};
  }

  void removedRowsLeaveTheOthersWithTheirTexts() {
    QFETCH(std::vector<int>, removed);
    QFETCH(std::vector<int>, left);
    RowModel model(true);
    model.SetColumn(0, "Name");
    model.SetColumn(1, "Pfad");
    QAbstractItemModelTester tester(&model);
    FillSixRows(model);
    model.RemoveRows(removed);
    QCOMPARE(model.Count(), static_cast<int>(left.size()));
    for (int row = 0; row < model.Count(); ++row) {
      QCOMPARE(model.Cell(row, 0), "r" + std::to_string(left[static_cast<std::size_t>(row)]));
      QCOMPARE(model.Cell(row, 1), "s" + std::to_string(left[static_cast<std::size_t>(row)]));
    }
    model.Publish({});
    QCOMPARE(ShownColumn(model, 0), Named('r', left));
    QCOMPARE(ShownColumn(model, 1), Named('s', left));
  }

  // What the view had selected (and its current row) is found again after the removal.
  void publishFollowsRowsAcrossRemovals_data() {
    QTest::addColumn<std::vector<int>>("removed");
    QTest::addColumn<std::vector<int>>("followedRows");
    QTest::addColumn<std::vector<int>>("foundRows");
    // Rows 1, 3 and 4 are followed; 4 twice, as a selected row that is also the current one.
    QTest::newRow("removed in front")
        << std::vector<int>{0} << std::vector<int>{1, 3, 4, 4} << std::vector<int>{0, 2, 3, 3};
    QTest::newRow("removed between")
        << std::vector<int>{2} << std::vector<int>{1, 3, 4, 4} << std::vector<int>{1, 2, 3, 3};
    QTest::newRow("removed behind")
        << std::vector<int>{5} << std::vector<int>{1, 3, 4, 4} << std::vector<int>{1, 3, 4, 4};
    QTest::newRow("followed row removed")
        << std::vector<int>{3} << std::vector<int>{1, 3, 4, 4} << std::vector<int>{1, -1, 3, 3};
    QTest::newRow("the doubled row removed")
        << std::vector<int>{0, 4} << std::vector<int>{1, 4, 4} << std::vector<int>{0, -1, -1};
    QTest::newRow("nothing removed")
        << std::vector<int>{} << std::vector<int>{0, 0, 5} << std::vector<int>{0, 0, 5};
  }

  void publishFollowsRowsAcrossRemovals() {
    QFETCH(std::vector<int>, removed);
    QFETCH(std::vector<int>, followedRows);
    QFETCH(std::vector<int>, foundRows);
    RowModel model(false);
    FillSixRows(model);
    std::vector<RowModel::RowId> ids;
    for (const int row : followedRows) {
      ids.push_back(model.PublishedIdAt(row));
    }
    model.RemoveRows(removed);
    QCOMPARE(model.Publish(ids), foundRows);
  }

  void publishFollowsRowsAcrossInsertions() {
    RowModel model(false);
    FillSixRows(model);
    const std::vector<RowModel::RowId> ids{model.PublishedIdAt(0), model.PublishedIdAt(5),
                                           model.PublishedIdAt(5), 0};
    model.InsertRow(0, "neu vorne");
    model.InsertRow(3, "neu dazwischen");
    model.InsertRow(-1, "neu hinten");
    QCOMPARE(model.Publish(ids), (std::vector<int>{1, 7, 7, -1}));
    QCOMPARE(model.rowCount(), 9);
    QCOMPARE(model.Cell(3, 0), std::string("neu dazwischen"));
  }

  // Until published, the view keeps the row count it was told, and every row it may paint
  // meanwhile gives a text (the current one of that position), never a dangling one.
  void viewSeesChangesOnlyWhenPublished() {
    RowModel model(false);
    QAbstractItemModelTester tester(&model);
    int changes = 0;
    model.SetChangeListener([&changes] { ++changes; });
    FillSixRows(model);
    QCOMPARE(changes, 1);
    QVERIFY(!model.HasUnpublishedChanges());
    model.RemoveRows({0, 1, 2});
    model.InsertRow(-1, "r6");
    QCOMPARE(changes, 2);
    QCOMPARE(model.rowCount(), 6);
    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("r3"));
    QCOMPARE(model.data(model.index(5, 0)).toString(), QString());
    model.Publish({});
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(ShownColumn(model, 0), (std::vector<std::string>{"r3", "r4", "r5", "r6"}));
    // A published row's text changes in place, without a further publish.
    model.SetCell(1, 0, "anders");
    QVERIFY(!model.HasUnpublishedChanges());
    QCOMPARE(model.data(model.index(1, 0)).toString(), QStringLiteral("anders"));
  }

  void controlCharactersShowAsPicturesInOneRow() {
    RowModel model(true);
    model.SetColumn(0, "Name");
    model.InsertRow(-1, "zwei\nzeilen.txt");
    model.InsertRow(-1, "tab\tund\x7F");
    model.InsertRow(-1, "kaputt\xFF");
    model.Publish({});
    QCOMPARE(model.data(model.index(0, 0)).toString(), QString::fromUtf8("zwei\u240Azeilen.txt"));
    QCOMPARE(model.data(model.index(1, 0)).toString(), QString::fromUtf8("tab\u2409und\u2421"));
    QCOMPARE(model.data(model.index(2, 0)).toString(), QString::fromUtf8("kaputt\uFFFD"));
    // The program keeps the bytes as they are.
    QCOMPARE(model.Cell(0, 0), std::string("zwei\nzeilen.txt"));
  }
};

QTEST_MAIN(RowModelTest)
#include "row_model_test.moc"
