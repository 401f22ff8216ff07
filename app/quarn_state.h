// The process-wide records of one Quarn run; main creates the single instance and the
// window works on it by reference.
#pragma once
#include <string>

#include "app/config_file.h"
#include "app/help_opener.h"
#include "codec/key_list.h"
#include "codec/link_state.h"
#include "converter/nearby_devices.h"
#include "converter/option_bits.h"
#include "link/heard_converters.h"
#include "mbus/link_frame.h"
#include "dongle/dongle_link.h"

struct QuarnState {
  ConfigFile config;
  ConverterLinkState link;
  ConverterKeyList converterKeyList;  // several MB: the instance must be static
  MeterKeyList meterKeyList;
  LinkFrameBuffer linkFrame;
  DongleRecord dongleRecord{};
  DongleLink dongleLink;
  HeardConverterList heardConverters{};
  NearbyDeviceList nearbyDevices{};
  ConverterOptions converterOptions;
  HelpViewers helpViewers;
};
