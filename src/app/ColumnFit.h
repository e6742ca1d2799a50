#pragma once

class QTableView;

// Columns as wide as their contents and titles, but none wider than two fifths of the view, so
// that one long text does not push the others out of sight; none narrower than minimumWidth.
// A last column that stretches to the view's edge is left to do so.
void fitColumnsToContents(QTableView* view, int minimumWidth = 0);
