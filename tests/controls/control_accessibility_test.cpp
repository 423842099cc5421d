// SPDX-License-Identifier: AGPL-3.0-or-later
// The progress bar and the status line as screen readers meet them.
#include "controls/gradient_progress_ctrl.h"
#include "controls/status_line.h"

#include <QAccessible>
#include <gtest/gtest.h>

namespace {

struct PercentRow {
    const char *name;
    int32_t lower;
    int32_t upper;
    int32_t position;
    int percent;
};

class ProgressPercentTest : public ::testing::TestWithParam<PercentRow> {};

TEST_P(ProgressPercentTest, IsThePositionsShareOfTheRangeInWholePercent)
{
    const PercentRow row = GetParam();
    GradientProgressCtrl progress;
    progress.SetRange(row.lower, row.upper);
    progress.SetPos(row.position);
    EXPECT_EQ(progress.Percent(), row.percent);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&progress);
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("%1%").arg(row.percent));
}

INSTANTIATE_TEST_SUITE_P(
    Positions, ProgressPercentTest,
    ::testing::Values(PercentRow{"Start", 0, 100, 0, 0}, PercentRow{"Part", 0, 100, 40, 40},
                      PercentRow{"Thirds", 0, 3, 1, 33}, PercentRow{"Offset", 10, 20, 15, 50},
                      PercentRow{"BeyondTheEnd", 0, 100, 150, 100},
                      PercentRow{"BeforeTheStart", 0, 100, -5, 0},
                      PercentRow{"EmptyRange", 0, 0, 0, 0},
                      PercentRow{"WideRange", -2000000000, 2000000000, 0, 50}),
    [](const ::testing::TestParamInfo<PercentRow> &info) { return info.param.name; });

TEST(ProgressAccessibilityTest, IsANamedProgressBarWithItsPositionAsValue)
{
    GradientProgressCtrl progress;
    progress.setAccessibleName(QStringLiteral("Progress"));
    progress.SetRange(0, 100);
    progress.SetPos(40);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&progress);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::ProgressBar);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Progress");
    QAccessibleValueInterface *value = accessible->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->currentValue().toInt(), 40);
    EXPECT_EQ(value->minimumValue().toInt(), 0);
    EXPECT_EQ(value->maximumValue().toInt(), 100);
    // Only the run moves it.
    value->setCurrentValue(90);
    EXPECT_EQ(progress.Pos(), 40);
}

TEST(StatusLineTest, IsAStatusBarNamedByWhatItSays)
{
    StatusLine line(QStringLiteral("Ready"));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&line);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::StatusBar);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Ready");
    line.SetStatus(QStringLiteral("Done."));
    EXPECT_EQ(line.text(), "Done.");
    EXPECT_EQ(accessible->text(QAccessible::Name), "Done.");
    EXPECT_EQ(accessible->text(QAccessible::Value), "Done.");
    EXPECT_EQ(line.alignment(), Qt::AlignLeft | Qt::AlignTop);
}

} // namespace
