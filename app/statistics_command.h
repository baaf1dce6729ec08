#pragma once

#include "catalogue/recording_model.h"

#include <vector>

class IndexHost;
class QWidget;

// Shows the window "通话统计" over rows modally: from the main window's menu over the card's
// catalogue, and from the search window's list over the rows it shows. The user types come from
// the program's archive index; "导出Excel" writes ~/vrxstat.xlsx through the lists' export.
void ShowCallStatistics(RowsSnapshot rows, IndexHost* index, QWidget* owner);
