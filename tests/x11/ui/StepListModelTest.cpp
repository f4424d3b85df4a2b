// The step list model reports each change of the document as the smallest set of row signals.
#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <map>

#include "ui/StepListModel.h"

namespace tapforge::testing {
namespace {

struct Diff {
    const char* name;
    std::string before, after;   // one letter per step identity
    int inserted, removed, moved;
};

void PrintTo(const Diff& d, std::ostream* os) { *os << d.name; }

class StepListModelDiff : public ::testing::TestWithParam<Diff> {};

TEST_P(StepListModelDiff, ReportsOnlyWhatChanged) {
    const Diff& d = GetParam();
    std::map<char, Step> byLetter;
    auto build = [&](const std::string& letters) {
        Script s;
        for (char c : letters) {
            if (!byLetter.count(c)) byLetter.emplace(c, Step::create(StepKind::delay, {}));
            s.steps.push_back(byLetter.at(c));
        }
        return s;
    };
    Script script = build(d.before);
    ui::StepListModel model;
    model.setSource(&script);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted), removed(&model, &QAbstractItemModel::rowsRemoved),
        moved(&model, &QAbstractItemModel::rowsMoved), reset(&model, &QAbstractItemModel::modelReset),
        changed(&model, &QAbstractItemModel::dataChanged);

    script = build(d.after);
    model.refresh();
    ASSERT_EQ(model.rowCount(), int(d.after.size()));
    for (size_t i = 0; i < d.after.size(); ++i) EXPECT_EQ(model.idAt(int(i)), script.steps[i].id) << i;
    EXPECT_EQ(inserted.count(), d.inserted);
    EXPECT_EQ(removed.count(), d.removed);
    EXPECT_EQ(moved.count(), d.moved);
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(changed.count(), 0);   // no step's content changed
}

INSTANTIATE_TEST_SUITE_P(Edits, StepListModelDiff,
                         ::testing::Values(Diff{"insertMiddle", "abcd", "abXcd", 1, 0, 0},
                                           Diff{"append", "abc", "abcd", 1, 0, 0},
                                           Diff{"removeMiddle", "abcd", "acd", 0, 1, 0},
                                           Diff{"clear", "abc", "", 0, 1, 0},
                                           Diff{"moveDown", "abcde", "acbde", 0, 0, 1},
                                           Diff{"moveBlockUp", "abcdef", "adebcf", 0, 0, 1},
                                           Diff{"dragFirstToEnd", "abcd", "bcda", 0, 0, 1},
                                           Diff{"swapFarApart", "abcde", "ebcda", 1, 1, 0},
                                           Diff{"replaceAll", "abc", "xyz", 1, 1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StepListModel, EditingOneOfSevenThousandStepsRepaintsOnlyThatRow) {
    Script script;
    for (int i = 0; i < 7000; ++i) script.steps.push_back(Step::create(StepKind::delay, {}));
    ui::StepListModel model;
    model.setSource(&script);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged), reset(&model, &QAbstractItemModel::modelReset),
        layout(&model, &QAbstractItemModel::layoutChanged);
    script.steps[4321].delayMs = 42;
    model.refresh();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].value<QModelIndex>().row(), 4321);
    EXPECT_EQ(changed[0][1].value<QModelIndex>().row(), 4321);
    EXPECT_EQ(model.index(4321).data(ui::StepListModel::summaryRole).toString(), "延迟 42 ms");
    EXPECT_EQ(reset.count() + layout.count(), 0);

    // The runner moving on repaints the old and the new current row.
    model.setCurrentStep(script.steps[10].id);
    model.setCurrentStep(script.steps[11].id);
    EXPECT_EQ(changed.count(), 1 + 1 + 2);
    EXPECT_TRUE(model.index(11).data(ui::StepListModel::currentRole).toBool());
    EXPECT_FALSE(model.index(10).data(ui::StepListModel::currentRole).toBool());
}

}  // namespace
}  // namespace tapforge::testing
