#include "ViewLogic.h"

#include <gtest/gtest.h>

using namespace tolvex::win32views;

namespace {

GridMetrics gridWithRows(int dataRows, int top = 1) {
    GridMetrics grid;
    grid.rows = dataRows + 1;
    grid.top = top;
    return grid;
}

TEST(GridMetricsTest, PointsFindTheirCellsAcrossHeaderLinesAndScrolling) {
    GridMetrics grid = gridWithRows(10);
    int row = 0, column = 0;
    grid.cellAt(5, 5, row, column);
    EXPECT_EQ(row, 0); // the header
    EXPECT_EQ(column, 0);
    // The grid line right of column 0 (x = 47) still belongs to it.
    grid.cellAt(47, 21, row, column);
    EXPECT_EQ(row, 1);
    EXPECT_EQ(column, 0);
    grid.cellAt(48, 41, row, column);
    EXPECT_EQ(row, 1);
    EXPECT_EQ(column, 1);
    grid.cellAt(48, 42, row, column);
    EXPECT_EQ(row, 2);
    // Right of the last column, below the last row.
    grid.cellAt(47 + 162 + 80 + 203 + 72 + 5, 30, row, column);
    EXPECT_EQ(column, -1);
    grid.cellAt(10, 21 * 11 + 1, row, column);
    EXPECT_EQ(row, -1);

    // Scrolled by four rows: the first data line shows row 5.
    grid.top = 5;
    grid.cellAt(10, 25, row, column);
    EXPECT_EQ(row, 5);
    // Every visible cell's own rectangle leads back to it.
    for (int r = 5; r <= 10; ++r)
        for (int c = 0; c < GridMetrics::kColumns; ++c) {
            const auto box = grid.cellRect(c, r);
            grid.cellAt((box[0] + box[2]) / 2, (box[1] + box[3]) / 2, row, column);
            EXPECT_EQ(row, r);
            EXPECT_EQ(column, c);
        }
    // The header stays at the top whatever is scrolled.
    EXPECT_EQ(grid.cellRect(3, 0)[1], 0);
}

TEST(GridMetricsTest, ScrollingKeepsTheLastRowAtTheBottomAndNeverPassesRowOne) {
    const GridMetrics grid = gridWithRows(10);
    const int visible = grid.visibleRows(21 * 5); // the header and four rows
    EXPECT_EQ(visible, 4);
    EXPECT_EQ(grid.clampTop(100, visible), 7);
    EXPECT_EQ(grid.clampTop(-3, visible), 1);
    EXPECT_EQ(grid.clampTop(4, visible), 4);
    // Fewer rows than fit, or an empty list: no scrolling at all.
    EXPECT_EQ(gridWithRows(2).clampTop(3, visible), 1);
    EXPECT_EQ(gridWithRows(0).clampTop(3, visible), 1);
    // A grid lower than one row still shows one.
    EXPECT_EQ(grid.visibleRows(10), 1);
}

TEST(SpinBoxTest, UntouchedShowsItsNumberTouchedIsBroughtIntoRange) {
    // The template dialog's frequency box shows 0 until it is touched.
    EXPECT_EQ(spinValue("0", 1, 1000, false), 0);
    EXPECT_EQ(spinValue("0", 1, 1000, true), 1);
    EXPECT_EQ(spinValue("500000", 1, 216000, true), 216000);
    EXPECT_EQ(spinValue(" 42 ", 1, 216000, true), 42);
    // Pasted text that is no number, or nothing: the minimum.
    EXPECT_EQ(spinValue("12a", 1, 1000, true), 1);
    EXPECT_EQ(spinValue("", 0, 1000, true), 0);
    EXPECT_EQ(spinValue("-5", 0, 1000, true), 0);
    // Digits beyond the int range do not wrap round to a small number.
    EXPECT_EQ(spinValue("99999999999999999999", 1, 216000, true), 216000);
    EXPECT_EQ(spinNumber("99999999999999999999"), 2147483647);
    EXPECT_FALSE(spinNumber(" "));
    EXPECT_FALSE(spinNumber("1 2"));
}

TEST(ToolPanelTest, RightButtonsKeepTheirDistanceFromTheRightEdge) {
    EXPECT_EQ(toolLeft(372, true, 592, 592), 372);
    EXPECT_EQ(toolLeft(372, true, 692, 592), 472);
    EXPECT_EQ(toolLeft(12, false, 692, 592), 12);
}

TEST(MessageBoxTextTest, LineFeedBeforeCarriageReturnIsOneBreak) {
    EXPECT_EQ(messageBoxText("A\n\r B ?"), "A\r\n B ?");
    EXPECT_EQ(messageBoxText("A\nB"), "A\nB");
    EXPECT_EQ(messageBoxText("A\r\nB"), "A\r\nB");
    EXPECT_EQ(messageBoxText("end\n"), "end\n");
}

} // namespace
