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
  if (link.linkMode == LinkMode::wireless) {
    const bool found = link_.findStick();
    if (found && link_.openStick()) {
      showStatus("Connected via wireless dongle ID: [" + printableText(dongleSerial(link_.records().dongleRecord)) + "]");
    } else {
      // A stick that is there but held by another program is no missing stick: say why.
      if (found) showStickOpenError();
      else runDongleNotFoundDialog(this, bigIcon);
      link.linkMode = LinkMode::wired;
    }
  }
  // The links wake the window when their port is readable; nothing polls.
  if (link.linkMode == LinkMode::wired) {
    selectWiredPort();
  } else {
    link_.chooseWireless();
    // Where no device events can be had (a container without udevd) the monitor does not open;
    // a lost stick is then found by the look once a second alone.
    if (!watchingDevices && openDeviceMonitor(deviceMonitor)) {
      watchingDevices = true;
      getApp()->addInput(asInputHandle(deviceMonitor.handle), INPUT_READ, this, ID_INPUT_DEVICES);
    }
    writeDongleStart();
  }
  followLinks();
}

void QuarnWindow::writeDongleStart() { link_.writeStart(); }

void QuarnWindow::showStickOpenError() {
  std::string text = "Error opening COM port " + printableText(donglePortName(link_.records().dongleRecord));
  const char* cause = serialOpenCauseText(link_.records().dongleLink.port.lastError);
  showStatus(cause ? text + " " + cause : text);
  if (cause) text += std::string("\n") + cause;
  FXMessageBox::error(this, MBOX_OK, "Quarn", "Serial Error\n%s", text.c_str());
}

void QuarnWindow::selectWiredPort() {
  ComPortList ports{};
  listComPorts(ports);
  const FXint chosen = runPortDialog(this, ports, comPortIndex(ports, link_.wiredPortName().c_str()));
  if (ports.count == 0) return;  // nothing to connect; the port stays as it was
  connectWired(comPortName(ports, chosen), comPortPath(ports, chosen));
}

void QuarnWindow::connectWired() { connectWired(link_.wiredPortName(), link_.wiredDevicePath()); }

void QuarnWindow::connectWired(const std::string& portName, const std::string& devicePath) {
  const WiredConnectResult result = link_.connectWired(portName, devicePath);
  followLinks();  // before the error box runs the event loop again
  if (!result.statusText.empty()) showStatus(result.statusText);
  if (!result.errorText.empty()) FXMessageBox::error(this, MBOX_OK, "Quarn", "%s", result.errorText.c_str());
}
