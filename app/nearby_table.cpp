// The Devices Nearby table: its last column fills the width the others leave.
#include "app/nearby_table.h"

void NearbyTable::setBaseColumnWidth(FXint column, FXint pixels) {
  if (column == getNumColumns() - 1) lastColumnLeast = pixels;
  setColumnWidth(column, pixels);
}

void NearbyTable::layout() {
  FXTable::layout();
  const FXint lastColumn = getNumColumns() - 1;
  if (lastColumn < 0) return;
  FXint others = 0;
  for (FXint c = 0; c < lastColumn; ++c) others += getColumnWidth(c);
  // viewport_w: what the table shows, without row header and scroll bar, as this layout left it.
  const FXint fill = FXMAX(lastColumnLeast, viewport_w - others);
  // Setting the width lays the table out again, once: the second pass finds it right.
  if (fill != getColumnWidth(lastColumn)) setColumnWidth(lastColumn, fill);
}
