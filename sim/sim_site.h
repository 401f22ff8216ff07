// A site behind one stick: several simulated converters, each with its own ID, key, slots,
// option bits and faults, read from a text file of one converter a line.
#pragma once
#include <string>

#include "sim_session.h"

// One line: "ID KEY [slotN=HEX8]... [options=HEX16] [silent] [wrong-key] [stores-wrongly]".
// ID as printed (8 hex digits), KEY 32 hex digits; a slot given is active and holds that meter
// Device ID. wrong-key: the converter's own key differs from KEY (its last byte flipped).
// Starts from the default converter; false with the reason when the line is not such a line.
bool simParseConverterLine(const std::string& line, SimConverter& c, std::string& error);

// Every line that is not blank or a "#" comment: the first becomes s.conv, the others follow
// it behind the stick. False with "line N: reason" when a line is refused or there are more
// than the stick serves.
bool simLoadSite(const std::string& path, SimSession& s, std::string& error);

// Meters the stick hears and the converter's Scan names, one a line as simParseMeterLine reads
// them ("#" comments and blank lines skipped). They replace the built-in meters. False with
// "line N: reason" when a line is refused or there are more than simPlayedMeterMax.
bool simLoadMeters(const std::string& path, SimSession& s, std::string& error);
