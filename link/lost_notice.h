// The status line both links show once their port has hung up.
#pragma once
#include <string>

inline std::string connectionLostText(const std::string& portName) { return "Connection lost: " + portName; }
