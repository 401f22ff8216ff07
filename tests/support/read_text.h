// A whole file as text, for comparing what a command wrote; "" when it cannot be read.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
