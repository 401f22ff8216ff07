// QuarnWindow as the settings view of the converter logic: plain records in and out of
// the widgets. Nothing written here notifies a target, so no command follows a write.
#include <string>

#include "app/quarn_window.h"

namespace {

std::string textOf(const FXString& text) { return std::string(text.text(), static_cast<size_t>(text.length())); }

bool slotValid(int s) { return s >= 0 && s < slotCount; }

// Entries outside the list leave the list as it is.
void selectEntry(FXListBox* list, int index) {
  if (index >= 0 && index < list->getNumItems()) list->setCurrentItem(index, FALSE);
}

// A text naming one of the entries selects it; any other text is shown as typed.
void setComboText(FXComboBox* combo, const std::string& text) {
  const FXint entry = text.empty() ? -1 : combo->findItem(text.c_str());
  if (entry >= 0 && textOf(combo->getItemText(entry)) == text) {
    combo->setCurrentItem(entry, FALSE);
  }
  // Selecting the entry that is already current leaves the text as it was: set it too.
  combo->setText(text.c_str());
}

}  // namespace

SlotFields QuarnWindow::readSlot(int s) {
  SlotFields fields;
  if (!slotValid(s)) return fields;
  fields.active = activeChecks[s]->getCheck() == TRUE;
  fields.manufacturer = textOf(manufacturerFields[s]->getText());
  fields.version = textOf(versionFields[s]->getText());
  fields.deviceId = textOf(deviceIdFields[s]->getText());
  fields.media = textOf(mediaFields[s]->getText());
  fields.kek = textOf(kekFields[s]->getText());
  fields.masterKey = textOf(masterKeyFields[s]->getText());
  fields.wiredAddress = textOf(wiredAddressCombos[s]->getText());
  fields.wirelessProtocol = wirelessProtocolLists[s]->getCurrentItem();
  fields.wirelessMode = wirelessModeLists[s]->getCurrentItem();
  return fields;
}

void QuarnWindow::writeSlot(int s, const SlotFields& fields) {
  ++widgetWrites;
  if (!slotValid(s)) return;
  activeChecks[s]->setCheck(fields.active ? TRUE : FALSE, FALSE);
  manufacturerFields[s]->setText(fields.manufacturer.c_str(), FALSE);
  versionFields[s]->setText(fields.version.c_str(), FALSE);
  deviceIdFields[s]->setText(fields.deviceId.c_str(), FALSE);
  mediaFields[s]->setText(fields.media.c_str(), FALSE);
  kekFields[s]->setText(fields.kek.c_str(), FALSE);
  masterKeyFields[s]->setText(fields.masterKey.c_str(), FALSE);
  setComboText(wiredAddressCombos[s], fields.wiredAddress);
  selectEntry(wirelessProtocolLists[s], fields.wirelessProtocol);
  selectEntry(wirelessModeLists[s], fields.wirelessMode);
}

void QuarnWindow::setDeviceIdText(int s, const std::string& text) {
  ++widgetWrites;
  if (slotValid(s)) deviceIdFields[s]->setText(text.c_str(), FALSE);
}

WiredSettings QuarnWindow::readWired() {
  WiredSettings wired;
  wired.protocol = wiredProtocolList->getCurrentItem();
  wired.mode = wiredModeList->getCurrentItem();
  return wired;
}

void QuarnWindow::writeWired(const WiredSettings& wired) {
  ++widgetWrites;
  selectEntry(wiredProtocolList, wired.protocol);
  selectEntry(wiredModeList, wired.mode);
}

std::string QuarnWindow::converterKeyText() { return textOf(converterKeyField->getText()); }

void QuarnWindow::setConverterKeyText(const std::string& text) {
  ++widgetWrites;
  converterKeyField->setText(text.c_str(), FALSE);
}

void QuarnWindow::setConverterIdText(const std::string& text) {
  ++widgetWrites;
  converterIdField->setText(text.c_str(), FALSE);
}

bool QuarnWindow::optionDialogOpen() { return optionChecks[0] != nullptr; }

void QuarnWindow::setOptionCheck(int index, bool ticked) {
  ++widgetWrites;
  if (index < 0 || index >= optionBitCount || optionChecks[index] == nullptr) return;
  optionChecks[index]->setCheck(ticked ? TRUE : FALSE, FALSE);
}

std::string QuarnWindow::nearbyAddressText(int row) {
  if (row < 0 || row >= nearbyTable->getNumRows()) return std::string();
  return textOf(nearbyTable->getItemText(row, 0));
}

void QuarnWindow::setNearbyRow(int row, const NearbyRowTexts& texts) {
  ++widgetWrites;
  if (row < 0 || row >= nearbyTable->getNumRows()) return;
  nearbyTable->setItemText(row, 0, texts.address.c_str(), FALSE);
  nearbyTable->setItemText(row, 1, texts.description.c_str(), FALSE);
  nearbyTable->setItemText(row, 2, texts.rssi.c_str(), FALSE);
  // Addresses and descriptions read from the left; FOX right-aligns cells by default.
  nearbyTable->setItemJustify(row, 0, FXTableItem::LEFT | FXTableItem::CENTER_Y);
  nearbyTable->setItemJustify(row, 1, FXTableItem::LEFT | FXTableItem::CENTER_Y);
}

void QuarnWindow::showStatus(const std::string& text) {
  ++widgetWrites;
  statusLine->setNormalText(text.c_str());
  statusLine->setText(text.c_str());
}
