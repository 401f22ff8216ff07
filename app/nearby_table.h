// The Devices Nearby table: its last column fills the width the others leave, and no row header.
#pragma once
#include <fx.h>

// An FXTable shows the room right of its last column as an empty extra column; here the last
// column takes that room (never narrower than the width it was given).
class NearbyTable : public FXTable {
public:
  NearbyTable(FXComposite* container, FXObject* receiver, FXSelector selector, FXuint style)
      : FXTable(container, receiver, selector, style) {}
  // Sets a column's width as given; the last one's is also its least.
  void setBaseColumnWidth(FXint column, FXint pixels);
  void layout() override;
  // The width the cells are shown in: the table's less its row header and vertical scroll bar.
  FXint visibleWidth() const { return viewport_w; }

private:
  FXint lastColumnLeast = 0;
};
