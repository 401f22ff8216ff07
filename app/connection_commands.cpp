// QuarnWindow's connection commands: the choice of wired or wireless operation at start, the
// start of the stick, and the choice and connection of the wired port.
#include "app/connection_choice.h"
#include "app/port_dialog.h"
#include "app/quarn_window.h"
#include "dongle/dongle_link.h"
#include "serial/serial_port.h"
#include "text/printable_text.h"

void QuarnWindow::connectionChoice() {
  ConverterLinkState& link = link_.records().state;
  link.linkMode = runConnectionDialog(this) == connectionWired ? LinkMode::wired : LinkMode::wireless;
  std::string stick;
  if (link.linkMode == LinkMode::wireless && !chooseStick(stick)) {
    showStatus("No stick chosen: wired operation.");
    link.linkMode = LinkMode::wired;
  }
  if (link.linkMode == LinkMode::wireless) {
    const bool found = link_.findStick(stick);
    if (found && link_.openStick()) {
      showStatus("Connected via wireless dongle ID: [" + printableText(dongleSerial(link_.records().dongleRecord)) + "]");
    } else {
      // A stick that is there but held by another program is no missing stick: say why.
      if (found) showStickOpenError();
      else runDongleNotFoundDialog(this, bigIcon);
      link.linkMode = LinkMode::wired;
    }
  }
  // Ports coming and going: a wireless run's stick lost and back, a stick come to a wired run.
  // Where no device events can be had (a container without udevd) the monitor does not open and
  // a lost stick is found by the look once a second alone.
  if (!watchingDevices && openDeviceMonitor(deviceMonitor)) {
    watchingDevices = true;
    getApp()->addInput(asInputHandle(deviceMonitor.handle), INPUT_READ, this, ID_INPUT_DEVICES);
  }
  // The links wake the window when their port is readable; nothing polls.
  if (link.linkMode == LinkMode::wired) {
    selectWiredPort();
  } else {
    link_.chooseWireless();
    writeDongleStart();
  }
  followLinks();
}

void QuarnWindow::writeDongleStart() { link_.writeStart(); }

bool QuarnWindow::chooseStick(std::string& stick) {
  PortInfo sticks[stickChoiceMax];
  const int count = listSticks(sticks, stickChoiceMax);
  if (count < 2) return true;  // the only one, or none: the search says which
  FXString choices;
  for (int i = 0; i < count && i < stickChoiceMax; ++i) {
    if (i > 0) choices += "\n";
    choices += printableText(sticks[i].instanceId + dongleInstancePrefixLength).c_str();
    choices += " on ";
    choices += printableText(sticks[i].name).c_str();
  }
  const FXint chosen = runStickChoiceDialog(this, choices);
  if (chosen < 0 || chosen >= count || chosen >= stickChoiceMax) return false;
  stick = sticks[chosen].devicePath;  // the path: two sticks may carry the same serial
  return true;
}

void QuarnWindow::showStickOpenError() {
  showStatus(link_.stickOpenErrorText());
  FXMessageBox::error(this, MBOX_OK, "Quarn", "Serial Error\n%s", link_.stickOpenErrorText("\n").c_str());
}

void QuarnWindow::selectWiredPort() {
  ComPortList ports{};
  listComPorts(ports);
  const FXint chosen = runPortDialog(this, ports, comPortIndex(ports, link_.wiredPortName().c_str()));
  if (ports.count == 0) return;  // nothing to connect; the port stays as it was
  connectWired(comPortName(ports, chosen), comPortPath(ports, chosen));
}

bool QuarnWindow::connectWired() { return connectWired(link_.wiredPortName(), link_.wiredDevicePath()); }

bool QuarnWindow::connectWired(const std::string& portName, const std::string& devicePath) {
  const WiredConnectResult result = link_.connectWired(portName, devicePath);
  followLinks();  // before the error box runs the event loop again
  if (!result.statusText.empty()) showStatus(result.statusText);
  if (!result.errorText.empty()) FXMessageBox::error(this, MBOX_OK, "Quarn", "%s", result.errorText.c_str());
  return result.connected;
}
